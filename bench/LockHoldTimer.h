#pragma once

// The timed wrapper around an engine's mutex, for the benchmarks that measure
// how long the engine's lock is held (the window queues its jobs under that
// lock, so the longest hold is the longest a click can wait).
//
// This header defines the program's own pthread_mutex_lock / trylock / unlock,
// through which every lock of the library goes; they time each hold of the
// one watched mutex from a thread's first acquisition to its last release (it
// is recursive). Include it in exactly one source of a benchmark program.

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <mutex>

// The C library's own functions under their second names (glibc, x86-64).
extern "C" int realMutexLock(pthread_mutex_t* mutex);
extern "C" int realMutexTrylock(pthread_mutex_t* mutex);
extern "C" int realMutexUnlock(pthread_mutex_t* mutex);
__asm__(".symver realMutexLock, __pthread_mutex_lock@GLIBC_2.2.5");
__asm__(".symver realMutexTrylock, __pthread_mutex_trylock@GLIBC_2.2.5");
__asm__(".symver realMutexUnlock, __pthread_mutex_unlock@GLIBC_2.2.5");

namespace holdtimer {

using Clock = std::chrono::steady_clock;

inline std::atomic<pthread_mutex_t*> watched{nullptr};
// Set by watchOwnTime: each hold is also timed less the holder's waits for a
// processor. Reading them costs a system call per hold, so only the
// benchmarks that report it pay for it.
inline std::atomic<bool> ownTime{false};
// Touched only by the thread holding the watched mutex.
inline int depth = 0;
inline Clock::time_point acquired;
inline std::int64_t acquiredQueuedNs = 0;
inline std::atomic<std::int64_t> longestNs{0};
// The same holds less the time the holder spent waiting for a processor
// (its run-queue delay, from the scheduler's statistics): on a loaded
// machine a holder is often preempted, which the wall time counts. Time it
// was blocked (on a wait, on the disk) stays in.
inline std::atomic<std::int64_t> longestOwnNs{0};
inline std::atomic<std::uint64_t> holds{0};

// This thread's run-queue delay so far, in nanoseconds.
inline std::int64_t queuedNs() {
    thread_local int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    text[n] = '\0';
    unsigned long long running = 0, queued = 0;
    if (std::sscanf(text, "%llu %llu", &running, &queued) != 2) return 0;
    return static_cast<std::int64_t>(queued);
}

inline void raise(std::atomic<std::int64_t>& longest, std::int64_t value) {
    std::int64_t seen = longest.load(std::memory_order_relaxed);
    while (value > seen && !longest.compare_exchange_weak(seen, value)) {
    }
}

inline void onAcquired(pthread_mutex_t* mutex) {
    if (mutex == nullptr || mutex != watched.load(std::memory_order_relaxed)) return;
    if (depth++ != 0) return;
    acquired = Clock::now();
    if (ownTime.load(std::memory_order_relaxed)) acquiredQueuedNs = queuedNs();
}

inline void onReleasing(pthread_mutex_t* mutex) {
    // A hold that began before the watch started is not one of ours.
    if (mutex == nullptr || mutex != watched.load(std::memory_order_relaxed) || depth == 0) return;
    if (--depth != 0) return;
    const std::int64_t held = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - acquired).count();
    holds.fetch_add(1, std::memory_order_relaxed);
    raise(longestNs, held);
    if (ownTime.load(std::memory_order_relaxed)) raise(longestOwnNs, held - (queuedNs() - acquiredQueuedNs));
}

// Watches the engine's mutex from now on; set before the engine's first job,
// so that every hold is seen from its start.
inline void watch(std::recursive_mutex& mutex) {
    longestNs = 0;
    longestOwnNs = 0;
    holds = 0;
    watched = mutex.native_handle();
}
// The same, with each hold also timed less the holder's run-queue waits.
inline void watchOwnTime(std::recursive_mutex& mutex) {
    ownTime = true;
    watch(mutex);
}

inline double longestMs() { return static_cast<double>(longestNs.load()) / 1e6; }
inline double longestOwnMs() { return static_cast<double>(longestOwnNs.load()) / 1e6; }

}  // namespace holdtimer

// Measures the longest hold of the watched mutex while it lives.
class LockProbe {
public:
    explicit LockProbe(std::recursive_mutex&) {
        holdtimer::longestNs = 0;
        holdtimer::holds = 0;
    }
    holdtimer::Clock::duration stopAndJoin() { return std::chrono::nanoseconds(holdtimer::longestNs.load()); }
    std::uint64_t holds() const { return holdtimer::holds.load(); }
};

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    const int result = realMutexLock(mutex);
    if (result == 0) holdtimer::onAcquired(mutex);
    return result;
}
extern "C" int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    const int result = realMutexTrylock(mutex);
    if (result == 0) holdtimer::onAcquired(mutex);
    return result;
}
extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    holdtimer::onReleasing(mutex);
    return realMutexUnlock(mutex);
}
