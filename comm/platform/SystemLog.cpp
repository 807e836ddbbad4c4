#include "platform/SystemLog.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

namespace ostrelcomm {

namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

// Shared so that a line being written keeps its sink alive while another
// thread replaces it.
std::shared_ptr<const SystemLogSink>& currentSink() {
    static std::shared_ptr<const SystemLogSink> sink;
    return sink;
}

}  // namespace

void systemLog(const std::string& message) {
    std::shared_ptr<const SystemLogSink> sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        (*sink)(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
}

SystemLogSink setSystemLogSink(SystemLogSink sink) {
    std::shared_ptr<const SystemLogSink> next;
    if (sink) next = std::make_shared<const SystemLogSink>(std::move(sink));
    std::lock_guard lock(sinkMutex());
    auto previous = std::exchange(currentSink(), std::move(next));
    return previous ? *previous : SystemLogSink{};
}

}  // namespace ostrelcomm
