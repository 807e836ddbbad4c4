#pragma once

// The login tests' common ground: the shared stand-in server with users made
// for each test, a signed test request step (written the way an area's step
// is), and a recorder of an engine's notifications.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "auth/AuthNotifications.h"
#include "devserver/DevServer.h"
#include "http/Server_GenericConfirmation.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm::logintest {

inline constexpr auto kGuard = std::chrono::seconds(30);
inline constexpr char kSignedPath[] = "/logintest/signed/";
inline constexpr char kSignedAction[] = "LOGIN_TEST";
inline constexpr char kSignedDone[] = "loginTestDone";
inline constexpr const char* kLogin = auth::kSRPAuthenticatedNotification;
inline constexpr const char* kLogout = auth::kUserLogoutNotification;

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
inline std::string uniqueUser(const std::string& stem) { return testsupport::uniqueName(stem); }

// A user known to the server with this password; returns its name.
inline std::string makeUser(const std::string& stem, const std::string& password) {
    std::string name = uniqueUser(stem);
    server().users().put(devserver::User::withPassword(name, password));
    return name;
}

inline std::vector<devserver::RecordedRequest> requestsOf(const std::string& user) {
    return testsupport::requestsOf(server(), user);
}

using testsupport::lastError;
using testsupport::requestLines;

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
using Posted = testsupport::PostedNotification;

// Records an engine's login, logout and test-job notifications and
// "jobQueueEmpty".
class Recorder : public testsupport::NotificationRecorder {
public:
    explicit Recorder(std::shared_ptr<NotificationCenter> center)
        : NotificationRecorder(std::move(center), {kLogin, kLogout, kSignedDone, kJobQueueEmptyNotification}) {}
};

}  // namespace ostrelcomm::logintest
