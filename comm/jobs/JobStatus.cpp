#include "jobs/JobStatus.h"

namespace ostrelcomm {

std::string_view name(JobStatus status) {
    switch (status) {
#define OSTRELCOMM_NAME_CASE(name) \
    case JobStatus::name:          \
        return #name;
        OSTRELCOMM_JOB_STATUSES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

}  // namespace ostrelcomm
