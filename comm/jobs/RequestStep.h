#pragma once

// The common frame of every step that sends one request, written once.
//
// A request step is a row of data (RequestSpec) plus its own lines: what it
// adds to the request and what it does with the answer. The frame does the
// rest in the same order for every step: engine lock; begin the step (count
// it, and end a job whose context is not the step's, or has no session, in
// error rather than leave the engine stalled); read the signing session (a
// signed step never sends without one); build the request, a throw ending the
// job; send it through the job's session; in the answer handler, under the
// engine's lock, the request-error hook, the answer checks with the row's step
// as retry step, the step's answer lines, a throw ending the job; and the
// closing moves of the job.
//
// An answer whose handling grows with its size (a listing of thousands of
// items, many keys to open) is not handled under the lock: the window queues
// its jobs under it and would wait that long. Such a step gives `offLock` in
// place of `answer`: under the lock it copies what the work needs, the work
// runs with the lock let go, and its result is stored under the lock again,
// unless an abort or a change of session came meanwhile:
//
//     .offLock = [this](ListingContext&, Server_Listing&& answer, const AnswerMeta&) {
//         return OffLockWork<ListingContext>([key = passwordKey(), answer = std::move(answer)] {
//             auto listing = Listing::decrypt(answer, key);   // no lock held
//             return StoreLines<ListingContext>([listing](ListingContext& c) {
//                 c.listing = listing;                         // under the lock
//                 return Next::done();
//             });
//         });
//     },
//
// Each area keeps its rows as one table at the top of its source, so step →
// endpoint → action reads in one place:
//
//     constexpr RequestSpec kGetSessions{JobsSteps::user_getSessions, JobsSteps::user_getSessions_wait,
//                                        "GET", "/userprofile/sessions/", "USER_GET_SESSIONS"};
//     const RequestRows kAccountRows{kGetSessions, ...};
//
//     void SrvComm::user_getUsersSessions() {
//         requestStep<UserSessionsContext, Server_UsersSessions>(*this, kGetSessions, {
//             .request = [](UserSessionsContext& c, const Session::Signing*) {
//                 return Outgoing{.headers = {{"start", std::to_string(c.start)}}};
//             },
//             .answer = [](UserSessionsContext& c, Server_UsersSessions&& a, const AnswerMeta&) {
//                 c.notificationData = std::move(a.sessions);
//                 return Next::done();
//             }});
//     }

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "http/HTTPError.h"
#include "http/Http.h"
#include "jobs/CommJobs.h"
#include "jobs/JobStatus.h"
#include "jobs/JobsSteps.h"
#include "jobs/Session.h"
#include "jobs/SrvComm.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// One request step as data.
struct RequestSpec {
    // The step this row runs; a request that meets an expired session is sent
    // again from it after the login.
    JobsSteps step;
    // Where the job waits for the answer (not always `step` + "_wait").
    JobsSteps waitStep;
    const char* method;
    // Below the server's base URL, e.g. "/dir/list/".
    const char* path;
    // The "x-sb-action" the answer must carry.
    const char* action;
    // An unsigned step sends no session headers and no signature, and an
    // expired session is not renewed for it.
    bool isSigned = true;
    // A hold requested meanwhile may park the job before the step its answer
    // moves it to.
    bool holdAllowed = false;
    // Whether starting the step counts one step of the job; a step that
    // counts at another moment (when its answer is accepted) or not at all
    // says false.
    bool countsStep = true;
    // The status the job waits for the answer in. An abort step waits as
    // aborting, which announces nothing.
    JobStatus waitStatus = JobStatus::inProgress;
};

// Every area's rows, for the engine's self-checks: an area lists its table
// once with a static RequestRows.
class RequestRows {
public:
    RequestRows(std::initializer_list<RequestSpec> rows);
    // Every row of every area loaded so far, in registration order.
    static std::vector<RequestSpec> all();
};

// The job's next move, as a step's own lines decide it.
class Next {
public:
    enum class Kind { done, aborted, go, fail, handled };

    // The job has completed.
    static Next done() { return Next(Kind::done); }
    // The job has been aborted (an abort step's end).
    static Next aborted() { return Next(Kind::aborted); }
    // On to `step`; the row says whether a hold may park it first.
    static Next go(JobsSteps step) {
        Next next(Kind::go);
        next.step_ = step;
        return next;
    }
    // On to `step`, with a hold allowed or not whatever the row says.
    static Next go(JobsSteps step, bool holdAllowed) {
        Next next = go(step);
        next.holdAllowed_ = holdAllowed;
        return next;
    }
    // The job ends in error with this message (logged, and the job's info).
    static Next fail(std::string message) {
        Next next(Kind::fail);
        next.message_ = std::move(message);
        return next;
    }
    // The step has moved the job itself (deferred it, queued another, …).
    static Next handled() { return Next(Kind::handled); }

    Kind kind() const { return kind_; }
    JobsSteps step() const { return step_; }
    std::optional<bool> holdAllowed() const { return holdAllowed_; }
    const std::string& message() const { return message_; }

private:
    explicit Next(Kind kind) : kind_(kind) {}
    Kind kind_;
    JobsSteps step_ = JobsSteps::idle;
    std::optional<bool> holdAllowed_;
    std::string message_;
};

// Thrown by a step's own lines (building the request or reading the answer):
// the job ends in error with this message.
class StepFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a step sends besides the row's method and path.
struct Outgoing {
    // Added to the session's {"username", "sessionid"} (a signed step) or
    // sent alone (an unsigned one); the transport prefixes them with "x-sb-".
    std::map<std::string, std::string> headers;
    // Present: the request carries it (queryWithPayload), even when empty.
    std::optional<Bytes> body;
    std::optional<std::string> contentType = std::string("application/json");
    std::string answerType = "application/json";
    // Present: the request ends only after this many seconds without
    // progress, however long it takes in all (a file's blocks).
    std::optional<double> progressTimeout;
    // Present: a longer answer body fails the request before it is held
    // whole (a block whose length the step knows).
    std::optional<std::size_t> maximumAnswerSize;
    // Present: the SHA-256 of `body`, computed by the step ahead of time, so
    // that the transport does not hash the body a second time.
    std::optional<Bytes> bodyDigest;
};

// The lines that store a heavy stage's finished result into the job's
// context and decide the job's next move; they run under the engine's lock.
template <class Context>
using StoreLines = std::function<Next(Context&)>;

// A heavy stage's work: runs without the engine's lock and returns the lines
// that store its result. A throw ends the job in error (unless the job was
// aborted meanwhile).
template <class Context>
using OffLockWork = std::function<StoreLines<Context>()>;

// What an accepted answer came with besides its value.
struct AnswerMeta {
    const HttpHeaders& headers;
    // SHA-256 of the request body (empty for a request without one).
    const Bytes& bodyDigest;
};

// A step's own lines. `request` and `answer` (or `offLock`) are required;
// the others are the lower layer for steps that must act whatever the checks
// say.
template <class Context, class Answer>
struct RequestStep {
    // A local decision before anything is read or sent: a move ends the step.
    std::function<std::optional<Next>(Context&)> before;
    // The request's headers and body. `session` is null for an unsigned step.
    std::function<Outgoing(Context&, const Session::Signing* session)> request;
    // What the step does with an accepted answer.
    std::function<Next(Context&, Answer&&, const AnswerMeta&)> answer;
    // In place of `answer`, for an answer whose handling grows with its size
    // (decrypting a listing, opening many keys). Under the engine's lock,
    // right after the checks, it takes the answer, copies what the work needs
    // from the context and the engine (keys, the password key) and returns
    // the work, never a reference into the context. The work runs without the
    // lock, on the thread the answer came on, and returns the lines that
    // store its result; those run under the lock, unless the job's abort was
    // asked meanwhile or the session changed hands (sessionMark): then the
    // result is dropped and the job ends as an abort ends it.
    std::function<OffLockWork<Context>(Context&, Answer&&, const AnswerMeta&)> offLock;
    // Sees a request error of the running job before the answer checks; a
    // move returned ends the handling (the checks do not run).
    std::function<std::optional<Next>(Context&, const HTTPError&)> beforeChecks;
    // Runs on every outcome right after the checks, whatever they found;
    // `usable` is false when the checks have moved the job (or the job is not
    // the running one any more).
    std::function<void(Context&, bool usable)> afterChecks;
    // The job's error when the checks pass but the transport hands over no
    // answer value; steps differ in its wording.
    const char* noAnswer = "No valid answer on decoded structure!";
};

namespace steps {

inline constexpr char kNoHttpSession[] = "The job has no HTTPS session";

std::string wrongContextMessage(JobsSteps step);
std::string requestBuildMessage(JobsSteps step, const std::exception& error);
std::string answerHandlingMessage(JobsSteps step, const std::exception& error);

// Applies a step's decision to the job.
void apply(SrvComm& engine, const std::shared_ptr<CommJobsContext>& context, const Next& next, bool rowHoldAllowed);

// The running job's context as the step's context type, its step counted
// (unless `countsStep` is false). Null when the engine runs no job; a job of
// another kind, or (when `needsSession`) one without an HTTPS session, is
// ended in error and null returned.
std::shared_ptr<CommJobsContext> beginStepBase(SrvComm& engine, JobsSteps step, bool needsSession,
                                               const std::function<bool(const CommJobsContext&)>& isStepContext,
                                               bool countsStep = true);

template <class Context>
std::shared_ptr<Context> beginStep(SrvComm& engine, JobsSteps step, bool needsSession, bool countsStep = true) {
    auto base = beginStepBase(
        engine, step, needsSession,
        [](const CommJobsContext& context) { return dynamic_cast<const Context*>(&context) != nullptr; }, countsStep);
    return std::static_pointer_cast<Context>(base);
}

// True when the abort of the context's job was asked (reqAbort) and the
// engine has not taken it yet.
bool abortRequested(const SrvComm& engine, const CommJobsContext& context);

// Under the engine's lock, once a heavy stage's work is done: whether its
// result may be stored. False when the job is not the running one any more,
// or when its abort was asked or the session changed since `sessionMark` was
// read; the job is then ended as its abort says (a session change asks the
// abort first).
bool offLockResultWanted(SrvComm& engine, const std::shared_ptr<CommJobsContext>& context, JobsSteps step,
                         std::uint64_t sessionMark);

// The callback that takes a job up again once work done without the engine's
// lock is over (a heavy stage's result, a block prepared or written). When
// called, it takes the engine's lock and hands the job's context, and the
// callback's own arguments, to `resume` only while the job `jobID` is still
// the running one and the engine still in `waitStep`: a late call, for a job
// that has ended or moved on meanwhile, or after the engine has gone, does
// nothing. Whether the job still waits for this very piece of work (the
// block it came for) is for `resume` to check.
template <class Context, class Resume>
auto resumeLater(SrvComm& engine, std::string jobID, JobsSteps waitStep, Resume resume) {
    return engine.lockedHandler([enginePointer = &engine, jobID = std::move(jobID), waitStep,
                                 resume = std::move(resume)](auto&&... args) mutable {
        std::shared_ptr<Context> context = enginePointer->template runningJobContext<Context>();
        if (!context || context->getJobID() != jobID || enginePointer->actualJobStep() != waitStep) return;
        resume(context, std::forward<decltype(args)>(args)...);
    });
}

// For tests: called on the heavy stage's thread, without the engine's lock,
// right before a heavy stage's work runs, with the step's row; a test holds
// the stage there. None is set in the application.
using OffLockHook = std::function<void(JobsSteps step)>;
void setOffLockHook(OffLockHook hook);
void runOffLockHook(JobsSteps step);

// Runs a heavy stage's work, without the engine's lock; its result comes
// back as the lines that store it (a failure as lines that end the job).
template <class Context>
StoreLines<Context> runOffLock(JobsSteps step, const OffLockWork<Context>& work) {
    runOffLockHook(step);
    try {
        return work();
    } catch (const StepFailure& failure) {
        return [message = std::string(failure.what())](Context&) { return Next::fail(message); };
    } catch (const std::exception& failure) {
        return [message = answerHandlingMessage(step, failure)](Context&) { return Next::fail(message); };
    }
}

// Stores a heavy stage's result into the running job (see
// RequestStep::offLock); under the engine's lock.
template <class Context>
void storeOffLock(SrvComm& engine, const std::shared_ptr<Context>& context, const RequestSpec& spec,
                  std::uint64_t sessionMark, const StoreLines<Context>& store) {
    if (!offLockResultWanted(engine, context, spec.step, sessionMark)) return;
    Next next = Next::handled();
    try {
        next = store ? store(*context) : Next::fail(answerHandlingMessage(spec.step, std::runtime_error("no result")));
    } catch (const StepFailure& failure) {
        next = Next::fail(failure.what());
    } catch (const std::exception& failure) {
        next = Next::fail(answerHandlingMessage(spec.step, failure));
    }
    apply(engine, context, next, spec.holdAllowed);
}

}  // namespace steps

// A step without a request: begin the step, run its lines, apply the move.
template <class Context>
void localStep(SrvComm& engine, JobsSteps step, const std::function<Next(const std::shared_ptr<Context>&)>& lines,
               bool countsStep = true) {
    std::lock_guard lock(engine.mutex());
    auto context = steps::beginStep<Context>(engine, step, false, countsStep);
    if (!context) return;
    Next next = Next::handled();
    try {
        next = lines(context);
    } catch (const StepFailure& failure) {
        next = Next::fail(failure.what());
    } catch (const std::exception& error) {
        next = Next::fail(steps::requestBuildMessage(step, error));
    }
    steps::apply(engine, context, next, false);
}

template <class Context, class Answer>
void requestStep(SrvComm& engine, const RequestSpec& spec, RequestStep<Context, Answer> parts) {
    std::lock_guard lock(engine.mutex());
    std::shared_ptr<Context> context = steps::beginStep<Context>(engine, spec.step, true, spec.countsStep);
    if (!context) return;
    // An abort asked for before the request went out (by an observer of the
    // move that led here): nothing is sent, the engine takes the abort now.
    // A request sent anyway would still be in flight beside the abort step's.
    if (steps::abortRequested(engine, *context)) {
        engine.setNextStep(spec.step, JobStatus::inProgress, false, context);
        return;
    }

    if (parts.before) {
        std::optional<Next> early;
        try {
            early = parts.before(*context);
        } catch (const StepFailure& failure) {
            early = Next::fail(failure.what());
        } catch (const std::exception& error) {
            early = Next::fail(steps::requestBuildMessage(spec.step, error));
        }
        if (early) {
            steps::apply(engine, context, *early, false);
            return;
        }
    }

    std::optional<Session::Signing> session;
    if (spec.isSigned) {
        session = engine.signingSession(context);
        if (!session) return;
    }

    Outgoing outgoing;
    try {
        outgoing = parts.request(*context, session ? &*session : nullptr);
    } catch (const StepFailure& failure) {
        steps::apply(engine, context, Next::fail(failure.what()), false);
        return;
    } catch (const std::exception& error) {
        steps::apply(engine, context, Next::fail(steps::requestBuildMessage(spec.step, error)), false);
        return;
    }

    std::map<std::string, std::string> headers = session ? session->headers() : std::map<std::string, std::string>{};
    for (auto& [name, value] : outgoing.headers) headers.insert_or_assign(name, std::move(value));
    std::optional<SecretBytes> key;
    if (session) key = session->sessionKey;

    auto shared = std::make_shared<RequestStep<Context, Answer>>(std::move(parts));
    SrvComm* enginePointer = &engine;
    // Runs under the engine's lock, and only while the engine exists. A
    // heavy stage's work is handed back, to run once the lock is let go.
    auto onOutcome = [enginePointer, context, spec, shared](std::optional<Answer> answer, HttpHeaders answerHeaders,
                                                            std::optional<HTTPError> error,
                                                            Bytes digest) -> std::function<void()> {
        SrvComm& engine = *enginePointer;
        context->httpError = error;
        if (error && shared->beforeChecks) {
            const auto running = engine.runningJob();
            if (running && context->getJobID() == running) {
                std::optional<Next> move;
                try {
                    move = shared->beforeChecks(*context, *error);
                } catch (const std::exception& failure) {
                    move = Next::fail(steps::answerHandlingMessage(spec.step, failure));
                }
                if (move) {
                    steps::apply(engine, context, *move, spec.holdAllowed);
                    return nullptr;
                }
            }
        }
        const bool usable = engine.afterCommChecks(error, spec.step, context, spec.action, answerHeaders, spec.isSigned);
        if (shared->afterChecks) shared->afterChecks(*context, usable);
        if (!usable) return nullptr;
        if (!answer) {
            steps::apply(engine, context, Next::fail(shared->noAnswer), false);
            return nullptr;
        }
        if (shared->offLock) {
            OffLockWork<Context> work;
            try {
                work = shared->offLock(*context, std::move(*answer), AnswerMeta{answerHeaders, digest});
            } catch (const StepFailure& failure) {
                steps::apply(engine, context, Next::fail(failure.what()), false);
                return nullptr;
            } catch (const std::exception& failure) {
                steps::apply(engine, context, Next::fail(steps::answerHandlingMessage(spec.step, failure)), false);
                return nullptr;
            }
            // The checks above have found the job running, so it has its
            // identifier.
            const std::optional<std::string> jobID = context->getJobID();
            if (!jobID) return nullptr;
            // The lines are taken by reference: they, and the result they
            // hold, are let go only after the lock is.
            auto store = steps::resumeLater<Context>(
                engine, *jobID, spec.waitStep,
                [enginePointer, spec, mark = engine.sessionMark()](const std::shared_ptr<Context>& running,
                                                                   const StoreLines<Context>& lines) {
                    steps::storeOffLock<Context>(*enginePointer, running, spec, mark, lines);
                });
            return [store = std::move(store), step = spec.step, work = std::move(work)]() mutable {
                store(steps::runOffLock<Context>(step, work));
            };
        }
        Next next = Next::handled();
        try {
            next = shared->answer(*context, std::move(*answer), AnswerMeta{answerHeaders, digest});
        } catch (const StepFailure& failure) {
            next = Next::fail(failure.what());
        } catch (const std::exception& failure) {
            next = Next::fail(steps::answerHandlingMessage(spec.step, failure));
        }
        steps::apply(engine, context, next, spec.holdAllowed);
        return nullptr;
    };

    // The locked part first (the engine's lockedHandler, which also makes it
    // wait for the step that sent the request), then a heavy stage's work
    // with the lock let go.
    auto handler = [locked = engine.lockedHandler([onOutcome = std::move(onOutcome)](
                                                      std::optional<Answer> answer, HttpHeaders answerHeaders,
                                                      std::optional<HTTPError> error, Bytes digest,
                                                      std::function<void()>& offLock) mutable {
                        offLock = onOutcome(std::move(answer), std::move(answerHeaders), std::move(error),
                                            std::move(digest));
                    })](std::optional<Answer> answer, HttpHeaders answerHeaders, std::optional<HTTPError> error,
                        Bytes digest) mutable {
        std::function<void()> offLock;
        locked(std::move(answer), std::move(answerHeaders), std::move(error), std::move(digest), offLock);
        if (offLock) offLock();
    };
    if (outgoing.body) {
        context->httpSession->template queryWithPayload<Answer>(
            spec.path, spec.method, headers, outgoing.contentType, std::move(*outgoing.body), std::move(key),
            outgoing.answerType, std::move(handler), outgoing.progressTimeout, outgoing.maximumAnswerSize,
            std::move(outgoing.bodyDigest));
    } else {
        context->httpSession->template query<Answer>(
            spec.path, spec.method, headers, std::move(key), outgoing.answerType,
            [handler = std::move(handler)](std::optional<Answer> answer, HttpHeaders answerHeaders,
                                           std::optional<HTTPError> error) mutable {
                handler(std::move(answer), std::move(answerHeaders), std::move(error), Bytes{});
            },
            outgoing.progressTimeout, outgoing.maximumAnswerSize);
    }
    engine.setNextStep(spec.waitStep, spec.waitStatus, false, context);
}

}  // namespace ostrelcomm
