#pragma once

// Test-only job contexts, step operations and recorders for the engine tests.

#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "JobsTestSupport.h"
#include "http/Http.h"
#include "jobs/CommJobsContext.h"
#include "jobs/JobsSteps.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "platform/UrlSession.h"
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
struct Posted {
    std::string name;
    std::string result;   // "Result", when a text
    std::any httpError;   // as posted (or empty when the key was missing)
    std::any customData;  // as posted (or empty when the key was missing)
    bool hasAllKeys = false;
};

// Records the job notifications and "jobQueueEmpty" of one engine center.
class EngineRecorder {
public:
    explicit EngineRecorder(std::shared_ptr<NotificationCenter> center,
                            std::vector<std::string> names = {kJobNotification})
        : center_(std::move(center)) {
        for (const auto& name : names)
            tokens_.push_back(center_->addObserver(name, [this](const Notification& n) { record(n); }));
        tokens_.push_back(
            center_->addObserver(kJobQueueEmptyNotification, [this](const Notification& n) { record(n); }));
    }
    ~EngineRecorder() {
        for (auto token : tokens_) center_->removeObserver(token);
    }
    EngineRecorder(const EngineRecorder&) = delete;
    EngineRecorder& operator=(const EngineRecorder&) = delete;

    std::vector<Posted> all() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    // Each notification as its result word, "<empty>" for "jobQueueEmpty";
    // prefixed with "name:" when `withNames`.
    std::vector<std::string> results(bool withNames = false) const {
        std::vector<std::string> out;
        for (const auto& p : all()) {
            if (p.name == kJobQueueEmptyNotification)
                out.push_back("<empty>");
            else
                out.push_back(withNames ? p.name + ":" + p.result : p.result);
        }
        return out;
    }
    std::size_t count(const std::string& result) const {
        std::size_t n = 0;
        for (const auto& r : results()) n += r == result;
        return n;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        posted_.clear();
    }
    // Waits (hang guard only) until `result` has been posted `times` times.
    bool waitFor(const std::string& result, std::size_t times) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] {
            std::size_t n = 0;
            for (const auto& p : posted_) n += (p.name == kJobQueueEmptyNotification ? "<empty>" : p.result) == result;
            return n >= times;
        });
    }

private:
    void record(const Notification& n) {
        Posted p;
        p.name = n.name;
        if (const auto* result = userInfoValue<std::string>(n.userInfo, "Result")) p.result = *result;
        if (auto it = n.userInfo.find("httpError"); it != n.userInfo.end()) p.httpError = it->second;
        if (auto it = n.userInfo.find("CustomData"); it != n.userInfo.end()) p.customData = it->second;
        p.hasAllKeys = n.userInfo.count("Result") && n.userInfo.count("httpError") && n.userInfo.count("CustomData");
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(std::move(p));
        }
        changed_.notify_all();
    }

    std::shared_ptr<NotificationCenter> center_;
    std::vector<NotificationCenter::Token> tokens_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Posted> posted_;
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
