#pragma once

#include <cstddef>
#include <string_view>

namespace ostrelcomm {

// States of a queued job: four waiting states, two end states, the running
// states and the end by abort.
// clang-format off
#define OSTRELCOMM_JOB_STATUSES(X) \
    X(pending) X(suspended) X(deferred) X(resume) X(completed) X(error) X(inProgress) X(reqAbort) X(aborting) X(aborted)
// clang-format on

enum class JobStatus {
#define OSTRELCOMM_ENUM_CASE(name) name,
    OSTRELCOMM_JOB_STATUSES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

inline constexpr std::size_t kJobStatusCount = 0
#define OSTRELCOMM_COUNT_CASE(name) +1
    OSTRELCOMM_JOB_STATUSES(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
    ;

std::string_view name(JobStatus status);

// True once a job has ended (completed, error or aborted): nothing runs it again.
constexpr bool isFinished(JobStatus status) {
    return status == JobStatus::completed || status == JobStatus::error || status == JobStatus::aborted;
}

}  // namespace ostrelcomm
