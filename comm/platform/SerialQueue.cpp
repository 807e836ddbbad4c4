#include "platform/SerialQueue.h"

namespace ostrelcomm {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed from its own task despite the rule: never self-join.
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

bool SerialQueue::isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
}

}  // namespace ostrelcomm
