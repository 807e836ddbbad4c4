#pragma once

// A recorder of the notifications posted on one center (an engine's, or a
// job queue's), for tests that read them back or wait for them on another
// thread than the one that posts.

#include <any>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "http/HTTPError.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"

namespace testsupport {

// One notification as an observer saw it.
struct PostedNotification {
    std::string name;
    ostrelcomm::UserInfo userInfo;
    // The entries of a job notification: "Result" when it is a text,
    // "httpError" when it holds an HTTPError, "CustomData" as posted (empty
    // when the key is missing).
    std::string result;
    std::optional<ostrelcomm::HTTPError> httpError;
    std::any customData;
    // "Result", "httpError" and "CustomData" are all present.
    bool hasAllKeys = false;

    template <class T>
    const T* data() const {
        return std::any_cast<T>(&customData);
    }
    bool noData() const { return ostrelcomm::isNullObject(customData); }
};

// Records the notifications named at construction, in the order posted, until
// it is destroyed. It also counts the engine's "jobQueueEmpty" (recorded as an
// entry only when it is among the names), so that a test can wait until the
// engine has run dry.
//
// The recorder wakes its waiters with its own lock held: a waiter that returns
// may destroy the recorder at once, since the posting thread touches nothing
// of it afterwards.
class NotificationRecorder {
public:
    // Long enough for a whole run of big files under ThreadSanitizer on a
    // loaded machine; only a hung test ever waits it out.
    static constexpr auto kGuard = std::chrono::seconds(120);

    NotificationRecorder(std::shared_ptr<ostrelcomm::NotificationCenter> center, std::vector<std::string> names)
        : center_(std::move(center)) {
        bool queueEmptyNamed = false;
        for (const auto& name : names) {
            queueEmptyNamed = queueEmptyNamed || name == ostrelcomm::kJobQueueEmptyNotification;
            tokens_.push_back(center_->addObserver(name, [this](const ostrelcomm::Notification& n) { record(n); }));
        }
        if (!queueEmptyNamed)
            tokens_.push_back(center_->addObserver(ostrelcomm::kJobQueueEmptyNotification,
                                                   [this](const ostrelcomm::Notification&) { countIdle(); }));
    }
    ~NotificationRecorder() {
        for (auto token : tokens_) center_->removeObserver(token);
    }
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;

    std::vector<PostedNotification> all() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& p : all()) out.push_back(p.name);
        return out;
    }
    // "name:result" of each, in order; one without a "Result" (such as
    // "jobQueueEmpty") by its name alone. Results in `leftOut` are skipped.
    std::vector<std::string> lines(const std::set<std::string>& leftOut = {}) const {
        std::vector<std::string> out;
        for (const auto& p : all()) {
            if (!p.userInfo.count("Result")) {
                out.push_back(p.name);
            } else if (!leftOut.count(p.result)) {
                out.push_back(p.name + ":" + p.result);
            }
        }
        return out;
    }
    // The last notification with this name.
    std::optional<PostedNotification> last(const std::string& name) const {
        auto posted = all();
        for (auto it = posted.rbegin(); it != posted.rend(); ++it)
            if (it->name == name) return *it;
        return std::nullopt;
    }
    // Forgets what was recorded; the count of "jobQueueEmpty" goes on.
    void clear() {
        std::lock_guard lock(mutex_);
        posted_.clear();
    }

    // Waits (hang guard only) until the engine has run dry once more than it
    // had when the previous waitIdle() returned.
    bool waitIdle() {
        std::unique_lock lock(mutex_);
        const std::size_t target = ++awaited_;
        return changed_.wait_for(lock, kGuard, [&] { return idle_ >= target; });
    }
    // Waits (hang guard only) until `done` holds for what has been recorded.
    bool waitUntil(const std::function<bool(const std::vector<PostedNotification>&)>& done) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return done(posted_); });
    }

private:
    void record(const ostrelcomm::Notification& n) {
        PostedNotification p;
        p.name = n.name;
        p.userInfo = n.userInfo;
        if (const auto* result = ostrelcomm::userInfoValue<std::string>(n.userInfo, "Result")) p.result = *result;
        if (const auto* error = ostrelcomm::userInfoValue<ostrelcomm::HTTPError>(n.userInfo, "httpError"))
            p.httpError = *error;
        if (auto it = n.userInfo.find("CustomData"); it != n.userInfo.end()) p.customData = it->second;
        p.hasAllKeys = n.userInfo.count("Result") && n.userInfo.count("httpError") && n.userInfo.count("CustomData");
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(p));
        if (n.name == ostrelcomm::kJobQueueEmptyNotification) ++idle_;
        changed_.notify_all();
    }
    void countIdle() {
        std::lock_guard lock(mutex_);
        ++idle_;
        changed_.notify_all();
    }

    std::shared_ptr<ostrelcomm::NotificationCenter> center_;
    std::vector<ostrelcomm::NotificationCenter::Token> tokens_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<PostedNotification> posted_;
    std::size_t idle_ = 0;
    std::size_t awaited_ = 0;
};

}  // namespace testsupport
