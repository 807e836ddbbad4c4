#pragma once

#include <any>
#include <memory>
#include <optional>
#include <string>

#include "http/HTTPError.h"
#include "jobs/JobStatus.h"
#include "jobs/JobsSteps.h"

namespace ostrelcomm {

class Http;

// What a context announces for a job status. An absent name means nothing is
// posted; an empty payload means there is none.
struct JobNotificationData {
    std::optional<std::string> name;
    std::string result;
    std::optional<HTTPError> httpError;
    std::any payload;
};

// The state of one job that the engine drives: where the job goes next, its
// own HTTPS session and its last failure. A context is owned by its queued
// job and is read and written only under its engine's lock.
class CommJobsContext {
  public:
    virtual ~CommJobsContext() = default;
    CommJobsContext(const CommJobsContext&) = delete;
    CommJobsContext& operator=(const CommJobsContext&) = delete;

    std::optional<std::string> jobID;
    std::shared_ptr<Http> httpSession;
    JobsSteps nextStep;
    // The step to run when the job is aborted while running; absent: the job
    // is simply stopped.
    std::optional<JobsSteps> abortStatus;
    std::optional<HTTPError> httpError;
    // The last step that was running before a failure.
    std::optional<JobsSteps> lastStatus;
    // The step at which a resumed job continues.
    std::optional<JobsSteps> resumeStatus;

    virtual std::optional<std::string> getJobID() const { return jobID; }
    virtual void setJobID(std::string id) { jobID = std::move(id); }
    virtual JobsSteps getNextStep() const { return nextStep; }
    virtual void setNextStep(JobsSteps step) { nextStep = step; }
    virtual JobNotificationData getNotificationData(JobStatus status) = 0;

  protected:
    explicit CommJobsContext(JobsSteps nextStep, std::shared_ptr<Http> httpSession = nullptr,
                             std::optional<JobsSteps> abortStatus = std::nullopt)
        : httpSession(std::move(httpSession)), nextStep(nextStep), abortStatus(abortStatus) {}
};

}  // namespace ostrelcomm
