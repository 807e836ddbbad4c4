#include "jobs/CommJobsItem.h"

namespace ostrelcomm {

CommJobsItem::CommJobsItem(JobType jobType, std::size_t jobSteps,
                           std::shared_ptr<CommJobsContext> context, JobPriority priority,
                           std::uint64_t index)
    : timestamp(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())),
      jobType(jobType),
      priority(priority),
      jobSteps(jobSteps),
      context(std::move(context)),
      index(index) {}

}  // namespace ostrelcomm
