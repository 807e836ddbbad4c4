#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace ostrelcomm {

// One worker thread running tasks in the order they were queued. Destroying
// the queue lets the tasks already queued run, then ends the thread. The
// worker keeps the queue's state alive by itself, so even a queue destroyed
// from one of its own tasks leaves nothing dangling.
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
    struct State;

    std::string label_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace ostrelcomm
