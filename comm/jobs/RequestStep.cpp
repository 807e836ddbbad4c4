#include "jobs/RequestStep.h"

namespace ostrelcomm {

namespace {

struct RowRegistry {
    std::mutex mutex;
    std::vector<RequestSpec> rows;
};

RowRegistry& rowRegistry() {
    static RowRegistry registry;
    return registry;
}

}  // namespace

RequestRows::RequestRows(std::initializer_list<RequestSpec> rows) {
    RowRegistry& registry = rowRegistry();
    std::lock_guard guard(registry.mutex);
    registry.rows.insert(registry.rows.end(), rows.begin(), rows.end());
}

std::vector<RequestSpec> RequestRows::all() {
    RowRegistry& registry = rowRegistry();
    std::lock_guard guard(registry.mutex);
    return registry.rows;
}

namespace steps {

std::string wrongContextMessage(JobsSteps step) {
    return "The step " + std::string(name(step)) + " cannot run a job of this kind";
}

std::string requestBuildMessage(JobsSteps step, const std::exception& error) {
    return "Unable to prepare the request of " + std::string(name(step)) + ": " + error.what();
}

std::string answerHandlingMessage(JobsSteps step, const std::exception& error) {
    return "Unable to use the answer of " + std::string(name(step)) + ": " + error.what();
}

void apply(SrvComm& engine, const std::shared_ptr<CommJobsContext>& context, const Next& next, bool rowHoldAllowed) {
    switch (next.kind()) {
        case Next::Kind::done:
            engine.setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
            return;
        case Next::Kind::aborted:
            engine.setNextStep(JobsSteps::idle, JobStatus::aborted, false, context);
            return;
        case Next::Kind::go:
            engine.setNextStep(next.step(), JobStatus::inProgress, next.holdAllowed().value_or(rowHoldAllowed), context);
            return;
        case Next::Kind::fail:
            engine.setNextStep(JobsSteps::idle, JobStatus::error, false, context, next.message());
            return;
        case Next::Kind::handled:
            return;
    }
}

std::shared_ptr<CommJobsContext> beginStepBase(SrvComm& engine, JobsSteps step, bool needsSession,
                                               const std::function<bool(const CommJobsContext&)>& isStepContext,
                                               bool countsStep) {
    const std::optional<std::string> jobID = engine.runningJob();
    if (!jobID) return nullptr;
    const std::optional<CommJobsItem> item = engine.queue()->getJobData(*jobID);
    if (!item || !item->context) return nullptr;
    std::shared_ptr<CommJobsContext> context = item->context;
    if (countsStep) engine.queue()->incrementJobStep(*jobID);
    // A step that cannot run its job must still end it: a job left running
    // with no request in flight would hold the engine for ever.
    if (!isStepContext(*context)) {
        engine.setNextStep(JobsSteps::idle, JobStatus::error, false, context, wrongContextMessage(step));
        return nullptr;
    }
    if (needsSession && !context->httpSession) {
        engine.setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(kNoHttpSession));
        return nullptr;
    }
    return context;
}

bool abortRequested(const SrvComm& engine, const CommJobsContext& context) {
    const std::optional<std::string> jobID = context.getJobID();
    if (!jobID) return false;
    const std::optional<CommJobsItem> item = engine.queue()->getJobData(*jobID);
    return item && item->status == JobStatus::reqAbort;
}

bool offLockResultWanted(SrvComm& engine, const std::shared_ptr<CommJobsContext>& context, JobsSteps step,
                         std::uint64_t sessionMark) {
    const std::optional<std::string> running = engine.runningJob();
    const std::optional<std::string> jobID = context->getJobID();
    if (!running || !jobID || *jobID != *running) return false;
    // The result was made with the keys of a session that has ended or
    // changed hands: the job stops as if its abort had been asked.
    if (engine.sessionMark() != sessionMark) engine.queue()->abortJob(*jobID);
    if (abortRequested(engine, *context)) {
        // Any move of a job whose abort was asked ends it as the abort says.
        engine.setNextStep(step, JobStatus::inProgress, false, context);
        return false;
    }
    return true;
}

namespace {

struct OffLockHookSlot {
    std::mutex mutex;
    OffLockHook hook;
};

OffLockHookSlot& offLockHookSlot() {
    static OffLockHookSlot slot;
    return slot;
}

}  // namespace

void setOffLockHook(OffLockHook hook) {
    OffLockHookSlot& slot = offLockHookSlot();
    std::lock_guard guard(slot.mutex);
    slot.hook = std::move(hook);
}

void runOffLockHook(JobsSteps step) {
    OffLockHook hook;
    {
        OffLockHookSlot& slot = offLockHookSlot();
        std::lock_guard guard(slot.mutex);
        hook = slot.hook;
    }
    if (hook) hook(step);
}

}  // namespace steps

}  // namespace ostrelcomm
