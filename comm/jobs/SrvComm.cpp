#include "jobs/SrvComm.h"

#include <algorithm>
#include <cstdlib>

#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "platform/SystemLog.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kLinkedJobError[] = "Aborted due to linked job error.";
constexpr char kNoErrorDescription[] = "No error description?!";

[[noreturn]] void registrationError(const std::string& message) {
    systemLog("Fatal error: " + message);
    std::abort();
}

// The step operations the areas registered, for every engine made afterwards.
struct AreaSteps {
    std::mutex mutex;
    std::map<JobsSteps, SrvComm::AreaStepOperation> table;
};

AreaSteps& areaSteps() {
    static AreaSteps steps;
    return steps;
}

bool isActionStep(JobsSteps step) { return step != JobsSteps::idle && !isWaitStep(step); }

}  // namespace

std::string_view name(SrvComm::HoldStatus hold) {
    switch (hold) {
        case SrvComm::HoldStatus::run:
            return "run";
        case SrvComm::HoldStatus::holdReq:
            return "holdReq";
        case SrvComm::HoldStatus::hold:
            return "hold";
    }
    return {};
}

SrvComm::StepRegistration::StepRegistration(std::initializer_list<std::pair<JobsSteps, AreaStepOperation>> steps) {
    AreaSteps& registry = areaSteps();
    std::lock_guard guard(registry.mutex);
    for (const auto& [step, operation] : steps) {
        if (!isActionStep(step))
            registrationError("Step operation registered for a step that runs none: " + std::string(name(step)));
        if (operation == nullptr) registrationError("Empty step operation for " + std::string(name(step)));
        if (!registry.table.emplace(step, operation).second)
            registrationError("Step operation registered twice: " + std::string(name(step)));
    }
}

// --- construction ------------------------------------------------------------------

SrvComm::SrvComm()
    : queue_(std::make_shared<CommJobs>()),
      notifications_(std::make_shared<NotificationCenter>()),
      queueCenter_(queue_->notifications()) {
    // The observers run on the posting thread with the engine's lock held
    // (the queue posts under it). They are removed with the engine, since the
    // application may keep the queue longer.
    for (const char* notification : {kNewJobAvailableNotification, kJobReleasedNotification, kJobResumedNotification})
        queueObservers_.push_back(
            queueCenter_->addObserver(notification, [this](const Notification& n) { onQueueNotification(n); }));
    queueObservers_.push_back(
        queueCenter_->addObserver(kJobChangedNotification, [this](const Notification& n) { onJobChanged(n); }));
    queue_->setWaitingJobAbortedHandler(
        [this](const std::shared_ptr<CommJobsContext>& context) { onWaitingJobAborted(context); });
    initStatusTable();
}

SrvComm::~SrvComm() {
    Lock lock(mutex());
    for (auto token : queueObservers_) queueCenter_->removeObserver(token);
    queue_->setWaitingJobAbortedHandler(nullptr);
}

void SrvComm::initStatusTable() {
    AreaSteps& registry = areaSteps();
    std::lock_guard guard(registry.mutex);
    commFunc_.clear();
    for (const auto& [step, operation] : registry.table)
        commFunc_.emplace(step, [this, operation = operation] { (this->*operation)(); });
}

// --- fields ---------------------------------------------------------------------------

std::optional<std::string> SrvComm::username() const { return session_.username(); }

void SrvComm::setUsername(std::optional<std::string> username) { session_.setUsername(std::move(username)); }

std::optional<SecretBytes> SrvComm::password() const { return session_.password(); }

void SrvComm::setPassword(std::optional<SecretBytes> password) { session_.setPassword(std::move(password)); }

UserAuthStatus SrvComm::authStatus() const { return session_.status(); }

void SrvComm::setAuthStatus(UserAuthStatus status) { session_.setStatus(status); }

std::optional<std::string> SrvComm::srpSessionID() const { return session_.sessionID(); }

void SrvComm::setSrpSessionID(std::optional<std::string> sessionID) { session_.setSessionID(std::move(sessionID)); }

std::optional<SecretBytes> SrvComm::srpSessionKey() const { return session_.sessionKey(); }

void SrvComm::setSrpSessionKey(std::optional<SecretBytes> sessionKey) {
    session_.setSessionKey(std::move(sessionKey));
}

bool SrvComm::isAuthenticated() const {
    const UserAuthStatus status = authStatus();
    return status == UserAuthStatus::renewAuthentication || status == UserAuthStatus::authFullAccess;
}

std::optional<std::string> SrvComm::sessionID() const { return srpSessionID(); }

std::optional<SecretBytes> SrvComm::sessionKey() const { return srpSessionKey(); }

std::optional<std::string> SrvComm::getUsername() const { return username(); }

std::vector<std::string> SrvComm::availableURLs() const {
    std::vector<std::string> keys;
    for (const auto& entry : Http::url()) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::string SrvComm::urlToUse() const {
    Lock lock(mutex());
    return urlToUse_;
}

void SrvComm::setUrlToUse(std::string urlToUse) {
    Lock lock(mutex());
    urlToUse_ = std::move(urlToUse);
}

std::shared_ptr<NotificationCenter> SrvComm::notifications() const {
    Lock lock(mutex());
    return notifications_;
}

void SrvComm::setNotifications(std::shared_ptr<NotificationCenter> center) {
    Lock lock(mutex());
    notifications_ = std::move(center);
}

std::optional<std::string> SrvComm::runningJob() const {
    Lock lock(mutex());
    return runningJob_;
}

void SrvComm::setRunningJob(std::optional<std::string> jobID) {
    Lock lock(mutex());
    runningJob_ = std::move(jobID);
}

JobsSteps SrvComm::actualJobStep() const {
    Lock lock(mutex());
    return actualJobStep_;
}

void SrvComm::setActualJobStep(JobsSteps step) {
    Lock lock(mutex());
    actualJobStep_ = step;
    stepPending_ = true;
    // A loop already running on this thread (the lock is held, so it can only
    // be this thread's) runs the step once the current one returns.
    if (stepLoopRunning_) return;
    runStepLoop();
}

SrvComm::HoldStatus SrvComm::hold() const {
    Lock lock(mutex());
    return hold_;
}

void SrvComm::setHold(HoldStatus hold) {
    Lock lock(mutex());
    hold_ = hold;
}

std::optional<JobsSteps> SrvComm::holdState() const {
    Lock lock(mutex());
    return holdState_;
}

void SrvComm::setHoldState(std::optional<JobsSteps> step) {
    Lock lock(mutex());
    holdState_ = step;
}

SrvComm::StepTable SrvComm::commFunc() const {
    Lock lock(mutex());
    return commFunc_;
}

void SrvComm::setCommFunc(StepTable table) {
    Lock lock(mutex());
    commFunc_ = std::move(table);
}

bool SrvComm::registerStep(JobsSteps step, StepOperation operation) {
    if (!isActionStep(step)) return false;
    Lock lock(mutex());
    commFunc_.insert_or_assign(step, std::move(operation));
    return true;
}

std::uint64_t SrvComm::sessionMark() const {
    Lock lock(mutex());
    // Both only grow, so their sum changes whenever either does.
    return session_.userEpoch() + logoutsAsked_;
}

[[noreturn]] void SrvComm::fatalError(const std::string& message) {
    comLog_.addFatal(message);
    systemLog("Fatal error: " + message);
    std::abort();
}

// --- the step loop ----------------------------------------------------------------------

void SrvComm::onQueueNotification(const Notification& notification) {
    Lock lock(mutex());
    if (actualJobStep_ != JobsSteps::idle || dispatching_) return;
    const auto* jobID = userInfoValue<std::string>(notification.userInfo, "id");
    if (jobID == nullptr) return;
    runningJob_ = *jobID;
    dispatchJob();
}

void SrvComm::runStepLoop() {
    stepLoopRunning_ = true;
    struct LoopEnd {
        bool& running;
        ~LoopEnd() { running = false; }
    } loopEnd{stepLoopRunning_};
    while (stepPending_) {
        stepPending_ = false;
        runStep(actualJobStep_);
    }
}

void SrvComm::runStep(JobsSteps step) {
    if (step == JobsSteps::idle) {
        takeNextJob();
        return;
    }
    if (isWaitStep(step)) return;
    auto entry = commFunc_.find(step);
    if (entry == commFunc_.end() || !entry->second) fatalError("Unimplemented job state: " + std::string(name(step)));
    // A copy: the operation may change the table while it runs.
    StepOperation operation = entry->second;
    operation();
}

void SrvComm::takeNextJob() {
    for (;;) {
        runningJob_ = queue_->getNextJob().first;
        if (!runningJob_) {
            if (notifications_) notifications_->post(kJobQueueEmptyNotification);
            return;
        }
        if (!startRunningJob()) return;
    }
}

bool SrvComm::startRunningJob() {
    if (!runningJob_) return false;
    const std::string jobID = *runningJob_;
    std::optional<CommJobsItem> item = queue_->getJobData(jobID);
    if (!item) return false;

    dispatching_ = true;
    queue_->updateJobData(jobID, std::nullopt, JobStatus::inProgress);
    if (item->jobType == JobType::nop) {
        // Nothing to run. The engine stays idle and goes on with the next job
        // instead of waiting for a notification that may never come.
        queue_->updateJobData(jobID, std::nullopt, JobStatus::completed);
        dispatching_ = false;
        return actualJobStep_ == JobsSteps::idle && runningJob_ == jobID;
    }
    dispatching_ = false;
    if (!item->context) return false;
    // The job's requests go over the engine's kept-alive connections rather
    // than each job opening its own.
    if (const auto& http = item->context->httpSession; http && http->session)
        http->session->useConnectionPool(connectionPool_);
    setActualJobStep(item->context->getNextStep());
    return false;
}

void SrvComm::dispatchJob() {
    Lock lock(mutex());
    if (startRunningJob()) goIdle();
}

void SrvComm::goIdle() { setActualJobStep(JobsSteps::idle); }

// --- pause, abort, resume ----------------------------------------------------------------

void SrvComm::holdRequest() {
    Lock lock(mutex());
    if (hold_ == HoldStatus::run) hold_ = HoldStatus::holdReq;
}

void SrvComm::holdResume() {
    Lock lock(mutex());
    switch (hold_) {
        case HoldStatus::run:
            return;
        case HoldStatus::holdReq:
            hold_ = HoldStatus::run;
            return;
        case HoldStatus::hold: {
            hold_ = HoldStatus::run;
            const JobsSteps step = holdState_.value_or(JobsSteps::idle);
            holdState_.reset();
            setActualJobStep(step);
            return;
        }
    }
}

bool SrvComm::abortCurrentJob() {
    Lock lock(mutex());
    if (!runningJob_) return false;
    return queue_->abortJob(*runningJob_);
}

std::map<std::string, bool> SrvComm::abortJobs(const std::vector<std::string>& ids) {
    Lock lock(mutex());
    std::map<std::string, bool> results;
    for (const auto& id : ids) results[id] = queue_->abortJob(id);
    return results;
}

std::map<std::string, bool> SrvComm::resumeJobs(const std::vector<std::string>& ids) {
    Lock lock(mutex());
    std::map<std::string, bool> results;
    for (const auto& id : ids) results[id] = queue_->resumeJob(id);
    return results;
}

// --- step transitions ------------------------------------------------------------------

// The context is held by value: the job it belongs to may leave the queue
// while the transition runs (an observer may clean the queue up).
void SrvComm::setNextStep(JobsSteps nextJobStep, JobStatus leavingJobState, bool holdAllowed,
                          std::shared_ptr<CommJobsContext> context, std::optional<std::string> errorMessage) {
    Lock lock(mutex());
    // Only the running job moves the engine: a late answer of an ended job,
    // or of a job that is not running, changes nothing.
    if (!context || !runningJob_) return;
    const std::optional<std::string> contextJobID = context->getJobID();
    if (!contextJobID || *contextJobID != *runningJob_) return;
    const std::string jobID = *runningJob_;

    if (std::optional<CommJobsItem> item = queue_->getJobData(jobID)) {
        switch (item->status) {
            case JobStatus::reqAbort:
                abortRunningJob(jobID, context);
                return;
            case JobStatus::aborted:
                return;
            case JobStatus::aborting:
                // The abort step's report. Any report that ends the job ends
                // it, so an abort step that fails cannot hold the engine.
                switch (leavingJobState) {
                    case JobStatus::aborted:
                    case JobStatus::completed:
                        recordAndEnd(jobID, JobStatus::aborted, context);
                        return;
                    case JobStatus::error:
                        failJob(jobID, context, errorMessage);
                        return;
                    case JobStatus::deferred:
                        // Its request met an expired session: the abort step
                        // runs again after the re-login.
                        deferJob(jobID, nextJobStep, context);
                        return;
                    case JobStatus::inProgress:
                        continueJob(jobID, nextJobStep, JobStatus::aborting, holdAllowed, context);
                        return;
                    default:
                        return;
                }
            default:
                break;
        }
    }

    switch (leavingJobState) {
        case JobStatus::pending:
        case JobStatus::suspended:
        case JobStatus::resume:
        case JobStatus::aborting:
            return;
        case JobStatus::deferred:
            deferJob(jobID, nextJobStep, context);
            return;
        case JobStatus::inProgress:
            continueJob(jobID, nextJobStep, JobStatus::inProgress, holdAllowed, context);
            return;
        case JobStatus::completed:
            recordAndEnd(jobID, JobStatus::completed, context);
            return;
        case JobStatus::error:
            failJob(jobID, context, errorMessage);
            return;
        case JobStatus::reqAbort:
            abortRunningJob(jobID, context);
            return;
        case JobStatus::aborted:
            recordAndEnd(jobID, JobStatus::aborted, context);
            return;
    }
}

void SrvComm::recordAndEnd(const std::string& jobID, JobStatus status,
                           const std::shared_ptr<CommJobsContext>& context) {
    queue_->updateJobData(jobID, std::nullopt, status, std::nullopt, context);
    cancelSession(context);
    raiseNotificationForContext(context, status);
    goIdle();
}

void SrvComm::continueJob(const std::string& jobID, JobsSteps nextJobStep, JobStatus recordedStatus,
                          bool holdAllowed, const std::shared_ptr<CommJobsContext>& context) {
    context->setNextStep(nextJobStep);
    queue_->updateJobData(jobID, std::nullopt, recordedStatus, std::nullopt, context);
    raiseNotificationForContext(context, JobStatus::inProgress);
    if (holdAllowed && hold_ == HoldStatus::holdReq) {
        holdState_ = nextJobStep;
        hold_ = HoldStatus::hold;
        return;
    }
    setActualJobStep(nextJobStep);
}

void SrvComm::deferJob(const std::string& jobID, JobsSteps nextJobStep,
                       const std::shared_ptr<CommJobsContext>& context) {
    context->setNextStep(nextJobStep);
    queue_->updateJobData(jobID, std::nullopt, JobStatus::deferred, JobPriority::Deferred, context);
    raiseNotificationForContext(context, JobStatus::deferred);
    goIdle();
}

void SrvComm::failJob(const std::string& jobID, const std::shared_ptr<CommJobsContext>& context,
                      const std::optional<std::string>& errorMessage) {
    // Without a message the job keeps its information text.
    queue_->updateJobData(jobID, std::nullopt, JobStatus::error, std::nullopt, context, errorMessage);
    cancelSession(context);
    comLog_.addEvent(errorMessage.value_or(kNoErrorDescription), Logger::EvtType::error);
    failLinkedJob();
    raiseNotificationForContext(context, JobStatus::error);
    goIdle();
}

void SrvComm::abortRunningJob(const std::string& jobID, const std::shared_ptr<CommJobsContext>& context) {
    if (!context->abortStatus) {
        cancelSession(context);
        queue_->updateJobData(jobID, std::nullopt, JobStatus::aborted);
        raiseNotificationForContext(context, JobStatus::reqAbort);
        // The job has ended: whoever waits for its end hears it.
        raiseNotificationForContext(context, JobStatus::aborted);
        goIdle();
        return;
    }
    const JobsSteps abortStep = *context->abortStatus;
    context->setNextStep(abortStep);
    queue_->updateJobData(jobID, std::nullopt, JobStatus::aborting, std::nullopt, context);
    raiseNotificationForContext(context, JobStatus::reqAbort);
    setActualJobStep(abortStep);
}

void SrvComm::onWaitingJobAborted(const std::shared_ptr<CommJobsContext>& context) {
    // Under the engine's lock: the queue calls this from abortJob.
    if (context) raiseNotificationForContext(context, JobStatus::aborted);
}

void SrvComm::onJobChanged(const Notification& notification) {
    Lock lock(mutex());
    // Only a job parked by a hold needs the engine now: a job waiting for its
    // answer is ended when the answer comes.
    if (hold_ != HoldStatus::hold || !runningJob_) return;
    const auto* jobID = userInfoValue<std::string>(notification.userInfo, "id");
    const auto* item = userInfoValue<CommJobsItem>(notification.userInfo, "data");
    if (jobID == nullptr || item == nullptr || *jobID != *runningJob_ || item->status != JobStatus::reqAbort) return;
    if (!item->context) return;
    hold_ = HoldStatus::run;
    holdState_.reset();
    abortRunningJob(*jobID, item->context);
}

// A deferred job waits only for the re-login queued ahead of it; when that
// job fails, the one waiting on it cannot succeed either.
void SrvComm::failLinkedJob() {
    auto [nextID, nextItem] = queue_->getNextJob();
    if (!nextID || !nextItem || nextItem->status != JobStatus::deferred) return;
    queue_->updateJobData(*nextID, std::nullopt, JobStatus::error, std::nullopt, nullptr, kLinkedJobError);
    if (nextItem->context) raiseNotificationForContext(nextItem->context, JobStatus::error);
}

void SrvComm::cancelSession(const std::shared_ptr<CommJobsContext>& context) {
    // Never blocks: the session's own thread fails what is in flight.
    if (context && context->httpSession && context->httpSession->session)
        context->httpSession->session->invalidateAndCancel();
}

void SrvComm::raiseNotificationForContext(const std::shared_ptr<CommJobsContext>& context,
                                          JobStatus requestedJobState) {
    JobNotificationData data = context->getNotificationData(requestedJobState);
    if (!data.name || !notifications_) return;
    UserInfo userInfo;
    userInfo["Result"] = std::move(data.result);
    userInfo["httpError"] = data.httpError ? std::any(std::move(*data.httpError)) : std::any(NullObject{});
    userInfo["CustomData"] = data.payload.has_value() ? std::move(data.payload) : std::any(NullObject{});
    notifications_->post(*data.name, std::move(userInfo));
}

}  // namespace ostrelcomm
