#include "jobs/JobsSteps.h"

namespace ostrelcomm {

std::string_view name(JobsSteps step) {
    switch (step) {
#define OSTRELCOMM_NAME_CASE(name) \
    case JobsSteps::name:          \
        return #name;
        OSTRELCOMM_JOBS_STEPS(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

bool isWaitStep(JobsSteps step) {
    constexpr std::string_view suffix = "_wait";
    const std::string_view text = name(step);
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace ostrelcomm
