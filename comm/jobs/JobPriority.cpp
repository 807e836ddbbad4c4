#include "jobs/JobPriority.h"

namespace ostrelcomm {

std::string_view name(JobPriority priority) {
    switch (priority) {
#define OSTRELCOMM_NAME_CASE(name, raw) \
    case JobPriority::name:             \
        return #name;
        OSTRELCOMM_JOB_PRIORITIES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

}  // namespace ostrelcomm
