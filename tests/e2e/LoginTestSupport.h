#pragma once

// The login tests' common ground: the shared stand-in server with users made
// for each test, a signed test request step (written the way an area's step
// is), and a recorder of an engine's notifications.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devserver/DevServer.h"
#include "http/Server_GenericConfirmation.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm::logintest {

inline constexpr auto kGuard = std::chrono::seconds(30);
inline constexpr char kSignedPath[] = "/logintest/signed/";
inline constexpr char kSignedAction[] = "LOGIN_TEST";
inline constexpr char kSignedDone[] = "loginTestDone";
inline constexpr char kLogin[] = "SRPAuthenticated";
inline constexpr char kLogout[] = "userLogout";

// The shared stand-in server (before any Http of the program), with a signed
// test endpoint that confirms the header "x-sb-item-uuid".
inline devserver::DevServer& server() {
    static devserver::DevServer& instance = []() -> devserver::DevServer& {
        auto& s = testsupport::sharedDevserver().server();
        s.route("GET", kSignedPath,
                {kSignedAction, devserver::Access::session, [](const devserver::ServerRequest& request) {
                     return devserver::Reply::json({{"itemUUID", request.protocolHeader("item-uuid").value_or("")}});
                 }});
        return s;
    }();
    return instance;
}

// A user name no other test of the program uses.
inline std::string uniqueUser(const std::string& stem) {
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(++counter);
}

// A user known to the server with this password; returns its name.
inline std::string makeUser(const std::string& stem, const std::string& password) {
    std::string name = uniqueUser(stem);
    server().users().put(devserver::User::withPassword(name, password));
    return name;
}

inline std::vector<devserver::RecordedRequest> requestsOf(const std::string& user) {
    std::vector<devserver::RecordedRequest> out;
    for (auto& request : server().requests()) {
        auto names = request.values("x-sb-username");
        if (!names.empty() && names.front() == user) out.push_back(std::move(request));
    }
    return out;
}

// "METHOD path" of each request, in order of arrival.
inline std::vector<std::string> requestLines(const std::vector<devserver::RecordedRequest>& requests) {
    std::vector<std::string> out;
    for (const auto& r : requests) out.push_back(r.method + " " + r.path);
    return out;
}

// Registers on `engine` (for this engine only) a signed request step under
// user_getProfile: it reads the session through signingSession, sends GET
// kSignedPath signed with the session key, runs the answer checks with
// renewal allowed and the retry at its own step, and completes with the
// confirmed item as the payload. `extraHeaders` go out with it.
inline void registerSignedStep(const std::shared_ptr<SrvComm>& engine,
                               std::map<std::string, std::string> extraHeaders = {}) {
    SrvComm* e = engine.get();
    engine->registerStep(JobsSteps::user_getProfile, [e, extraHeaders] {
        auto context = e->runningJobContext<CommJobBasicContext>();
        ASSERT_NE(context, nullptr);
        e->queue()->incrementJobStep(*context->getJobID());
        auto session = e->signingSession(context);
        if (!session) return;
        auto headers = session->headers();
        headers["item-uuid"] = *context->getJobID();
        headers.insert(extraHeaders.begin(), extraHeaders.end());
        context->httpSession->query<Server_GenericConfirmation>(
            kSignedPath, "GET", headers, session->sessionKey, "application/json",
            e->lockedHandler([e, context](std::optional<Server_GenericConfirmation> answer, HttpHeaders answerHeaders,
                                          std::optional<HTTPError> error) {
                context->httpError = error;
                if (!e->afterCommChecks(error, JobsSteps::user_getProfile, context, kSignedAction, answerHeaders,
                                        true))
                    return;
                if (!answer) {
                    e->setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string("no answer"));
                    return;
                }
                context->notificationData = answer->opdata.itemUUID;
                e->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
            }));
        e->setNextStep(JobsSteps::user_getProfile_wait, JobStatus::inProgress, false, context);
    });
}

inline std::string queueSignedJob(const std::shared_ptr<SrvComm>& engine) {
    auto context = std::make_shared<CommJobBasicContext>(
        JobsSteps::user_getProfile,
        std::make_shared<Http>(engine->urlToUse(), true, UrlSessionConfiguration::ephemeral(), std::nullopt),
        kSignedDone);
    std::lock_guard lock(engine->mutex());
    return engine->queue()->addNewJob(JobType::getProfile, 1, JobPriority::Normal, context, std::nullopt,
                                      std::nullopt);
}

// One notification as posted.
struct Posted {
    std::string name;
    std::string result;
    std::optional<HTTPError> httpError;
};

// Records an engine's login, logout and test-job notifications and
// "jobQueueEmpty".
class Recorder {
public:
    explicit Recorder(std::shared_ptr<NotificationCenter> center) : center_(std::move(center)) {
        for (const char* name : {kLogin, kLogout, kSignedDone, kJobQueueEmptyNotification})
            tokens_.push_back(center_->addObserver(name, [this](const Notification& n) { record(n); }));
    }
    ~Recorder() {
        for (auto token : tokens_) center_->removeObserver(token);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<Posted> all() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    // "name:result" of each, in order; "jobQueueEmpty" alone.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& p : all())
            out.push_back(p.name == kJobQueueEmptyNotification ? p.name : p.name + ":" + p.result);
        return out;
    }
    // The last notification with this name and one of the end words.
    std::optional<Posted> last(const std::string& name) const {
        auto posted = all();
        for (auto it = posted.rbegin(); it != posted.rend(); ++it)
            if (it->name == name) return *it;
        return std::nullopt;
    }
    // Waits (hang guard only) until the engine has run dry `times` times.
    bool waitIdle(std::size_t times = 1) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return idle_ >= times; });
    }
    void clear() {
        std::lock_guard lock(mutex_);
        posted_.clear();
        idle_ = 0;
    }

private:
    void record(const Notification& n) {
        Posted p{n.name, "", std::nullopt};
        if (const auto* result = userInfoValue<std::string>(n.userInfo, "Result")) p.result = *result;
        if (const auto* error = userInfoValue<HTTPError>(n.userInfo, "httpError")) p.httpError = *error;
        // Notified under the lock: a waiter that sees the engine idle may
        // destroy the recorder as soon as it has the lock back.
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(p));
        if (n.name == kJobQueueEmptyNotification) ++idle_;
        changed_.notify_all();
    }

    std::shared_ptr<NotificationCenter> center_;
    std::vector<NotificationCenter::Token> tokens_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Posted> posted_;
    std::size_t idle_ = 0;
};

// The last error event of an engine's log, if any.
inline std::optional<std::string> lastError(const SrvComm& engine) {
    auto events = engine.comLog().events();
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->type == Logger::EvtType::error) return it->description;
    return std::nullopt;
}

}  // namespace ostrelcomm::logintest
