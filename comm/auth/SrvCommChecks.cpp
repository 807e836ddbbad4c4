// The engine's answer checks: what a request step does with its outcome
// before it uses the answer, the renewal of an expired session, and the
// session a signed step reads.

#include <memory>
#include <string>
#include <variant>

#include "auth/AuthContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"
#include "platform/LocalizedString.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kAccessDenied[] = "AccessDeniedException";
constexpr char kSessionExpired[] = "Session expired";
constexpr char kStringTable[] = "Localizable";

std::string extInfoText(const HTTPError& error) {
    if (const auto* code = std::get_if<std::int64_t>(&error.extInfo)) return std::to_string(*code);
    if (const auto* text = std::get_if<std::string>(&error.extInfo)) return *text;
    return {};
}

}  // namespace

std::string SrvComm::prepareLogMsg(const HTTPError& error) {
    switch (error.error) {
        case HTTPErrors::badStatusCode: {
            // The transport always stores the status; without one the text
            // says so rather than inventing a number.
            std::string code = extInfoText(error);
            return "Bad http status code: " + (code.empty() ? std::string("unknown") : code) + " - " + error.errDescr;
        }
        case HTTPErrors::badAnswerMimeType:
            return error.errDescr + extInfoText(error);
        default:
            return error.errDescr;
    }
}

bool SrvComm::afterCommChecks(const std::optional<HTTPError>& reqError, JobsSteps nextJobStep,
                              const std::shared_ptr<CommJobsContext>& context, const std::string& reqAction,
                              const HttpHeaders& headers, bool tryAccessRenew) {
    Lock lock(mutex());
    // An outcome that reaches its handler after its job has ended (or for a
    // job that is not running) must not queue a login or touch the engine.
    if (!context || !runningJob_) return false;
    const std::optional<std::string> jobID = context->getJobID();
    if (!jobID || *jobID != *runningJob_) return false;

    if (reqError) {
        const bool sessionExpired = reqError->exception && *reqError->exception == kAccessDenied &&
                                    reqError->errDescr.find(kSessionExpired) != std::string::npos;
        if (sessionExpired && tryAccessRenew) {
            // Forget the counts of jobs that have ended meanwhile.
            for (auto it = renewalsInARow_.begin(); it != renewalsInARow_.end();) {
                auto item = queue_->getJobData(it->first);
                it = !item || isFinished(item->status) ? renewalsInARow_.erase(it) : std::next(it);
            }
            // A server that keeps answering "Session expired" to fresh logins
            // would otherwise make an endless login-and-retry loop.
            int& renewals = renewalsInARow_[*jobID];
            if (renewals < kMaxRenewalsInARow) {
                ++renewals;
                queue_->addNewJob(JobType::authenticate, 2, JobPriority::ImmediateRun,
                                  std::make_shared<AuthContext>(urlToUse_, SRPAuthMode::renew), std::nullopt,
                                  std::nullopt);
                setNextStep(nextJobStep, JobStatus::deferred, false, context, std::nullopt);
                return false;
            }
        }
        renewalsInARow_.erase(*jobID);
        if (reqError->exception) context->httpError = *reqError;
        setNextStep(JobsSteps::idle, JobStatus::error, false, context, prepareLogMsg(*reqError));
        return false;
    }
    renewalsInARow_.erase(*jobID);

    // The user first: an answer that fails both checks reports the user.
    const char* failure = nullptr;
    const std::optional<std::string> user = username();
    auto answerUser = headers.find("x-sb-username");
    auto answerAction = headers.find("x-sb-action");
    if (!user || answerUser == headers.end() || answerUser->second != *user) {
        failure = "AnswerWrongUsername";
    } else if (answerAction == headers.end() || answerAction->second != reqAction) {
        failure = "AnswerWrongAction";
    }
    if (failure == nullptr) return true;

    context->httpError = HTTPError{std::nullopt, HTTPErrors::badStatusCode, localizedString(kStringTable, failure), {}};
    setNextStep(JobsSteps::idle, JobStatus::error, false, context, context->httpError->errDescr);
    return false;
}

std::optional<SrvComm::SigningSession> SrvComm::signingSession(const std::shared_ptr<CommJobsContext>& context) {
    Lock lock(mutex());
    if (auto signing = session_.forSigning()) return signing;
    if (context) {
        context->httpError = HTTPError{std::nullopt, HTTPErrors::badAuthentication, kNoSigningSession, {}};
        setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(kNoSigningSession));
    }
    return std::nullopt;
}

}  // namespace ostrelcomm
