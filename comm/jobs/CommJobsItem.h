#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "jobs/CommJobsContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"

namespace ostrelcomm {

// One queued job, copied by value. Copies share the context, which the queued
// item keeps alive.
struct CommJobsItem {
    // Queued now, pending, no step taken, no details or information text.
    CommJobsItem(JobType jobType, std::size_t jobSteps, std::shared_ptr<CommJobsContext> context,
                 JobPriority priority, std::uint64_t index);

    std::chrono::sys_seconds timestamp;
    JobType jobType;
    JobPriority priority = JobPriority::Normal;
    JobStatus status = JobStatus::pending;
    // Steps performed so far.
    std::size_t actStep = 0;
    // Steps the job is expected to take.
    std::size_t jobSteps;
    std::optional<std::string> jobDetails;
    std::optional<std::string> jobInfo;
    std::shared_ptr<CommJobsContext> context;
    // Order of queuing; breaks ties of priority.
    std::uint64_t index;
};

}  // namespace ostrelcomm
