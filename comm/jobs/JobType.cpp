#include "jobs/JobType.h"

namespace ostrelcomm {

std::string_view name(JobType type) {
    switch (type) {
#define OSTRELCOMM_NAME_CASE(name) \
    case JobType::name:            \
        return #name;
        OSTRELCOMM_JOB_TYPES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

}  // namespace ostrelcomm
