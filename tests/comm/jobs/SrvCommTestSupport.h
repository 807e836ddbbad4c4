#pragma once

// Test-only job contexts, step operations and recorders for the engine tests.

#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "JobsTestSupport.h"
#include "http/Http.h"
#include "jobs/CommJobsContext.h"
#include "jobs/JobsSteps.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "platform/UrlSession.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm::enginetest {

inline constexpr auto kGuard = std::chrono::seconds(30);
inline constexpr char kJobNotification[] = "testJobNotification";

// A job context that announces every status under one name, with the
// status's case name as its result word (or none for the statuses listed in
// `silent`), its last error and an optional payload. It can report where it
// is destroyed.
class TestContext : public CommJobsContext {
public:
    explicit TestContext(JobsSteps first, std::shared_ptr<Http> http = nullptr,
                         std::optional<JobsSteps> abortStep = std::nullopt)
        : CommJobsContext(first, std::move(http), abortStep) {}
    ~TestContext() override {
        if (onDestroy) onDestroy();
    }

    std::string notificationName = kJobNotification;
    std::any payload;
    std::vector<JobStatus> silent;
    std::function<void()> onDestroy;

    JobNotificationData getNotificationData(JobStatus status) override {
        for (JobStatus s : silent)
            if (s == status) return {std::nullopt, "", std::nullopt, {}};
        return {notificationName, std::string(name(status)), httpError, payload};
    }
};

// One posted notification as an observer saw it.
using Posted = testsupport::PostedNotification;

// Records the job notifications and "jobQueueEmpty" of one engine center.
class EngineRecorder : public testsupport::NotificationRecorder {
public:
    explicit EngineRecorder(std::shared_ptr<NotificationCenter> center,
                            std::vector<std::string> names = {kJobNotification})
        : NotificationRecorder(std::move(center), withQueueEmpty(std::move(names))) {}

    // Each notification as its result word, "<empty>" for "jobQueueEmpty";
    // prefixed with "name:" when `withNames`.
    std::vector<std::string> results(bool withNames = false) const {
        std::vector<std::string> out;
        for (const auto& p : all()) out.push_back(word(p, withNames));
        return out;
    }
    std::size_t count(const std::string& result) const {
        std::size_t n = 0;
        for (const auto& r : results()) n += r == result;
        return n;
    }
    // Waits (hang guard only) until `result` has been posted `times` times.
    bool waitFor(const std::string& result, std::size_t times) const {
        return waitUntil([&](const std::vector<Posted>& posted) {
            std::size_t n = 0;
            for (const auto& p : posted) n += word(p, false) == result;
            return n >= times;
        });
    }

private:
    static std::vector<std::string> withQueueEmpty(std::vector<std::string> names) {
        names.push_back(kJobQueueEmptyNotification);
        return names;
    }
    static std::string word(const Posted& p, bool withNames) {
        if (p.name == kJobQueueEmptyNotification) return "<empty>";
        return withNames ? p.name + ":" + p.result : p.result;
    }
};

// An Http for a test job. The transport reads its server table once per
// program, so the shared stand-in server must be running first.
inline std::shared_ptr<Http> makeHttp() {
    auto& devserver = testsupport::sharedDevserver();
    return std::make_shared<Http>("Switzerland", true, devserver.sessionConfiguration(), std::nullopt);
}

// True when the Http's URL session was invalidated: a task resumed on an
// invalidated session fails as cancelled without sending anything, while a
// live session tries the closed port and fails to connect.
inline bool sessionCancelled(const std::shared_ptr<Http>& http) {
    auto promise = std::make_shared<std::promise<std::optional<UrlError>>>();
    auto outcome = promise->get_future();
    http->session
        ->dataTask(UrlRequest("https://127.0.0.1:1/closed"),
                   [promise](std::optional<Bytes>, std::optional<HttpUrlResponse>, std::optional<UrlError> error) {
                       promise->set_value(std::move(error));
                   })
        ->resume();
    if (outcome.wait_for(kGuard) != std::future_status::ready) {
        ADD_FAILURE() << "the probe task never completed";
        return false;
    }
    const auto error = outcome.get();
    return error && error->code == UrlErrorCode::cancelled;
}

}  // namespace ostrelcomm::enginetest
