#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ostrelcomm {

// One worker thread running tasks in the order they were queued. Destroying
// the queue lets the tasks already queued run, then ends the thread; the queue
// must not be destroyed from one of its own tasks.
class SerialQueue {
public:
    explicit SerialQueue(std::string label = {});
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> task);
    // True on the queue's own thread.
    bool isCurrent() const;
    const std::string& label() const { return label_; }

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace ostrelcomm
