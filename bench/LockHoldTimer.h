#pragma once

// The timed wrapper around an engine's mutex, for the benchmarks that measure
// how long the engine's lock is held (the window queues its jobs under that
// lock, so the longest hold is the longest a click can wait).
//
// This header defines the program's own pthread_mutex_lock / trylock / unlock,
// through which every lock of the library goes; they time each hold of the
// one watched mutex from a thread's first acquisition to its last release (it
// is recursive). Include it in exactly one source of a benchmark program.

#include <pthread.h>

#include <atomic>
#include <chrono>
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
// Touched only by the thread holding the watched mutex.
inline int depth = 0;
inline Clock::time_point acquired;
inline std::atomic<std::int64_t> longestNs{0};
inline std::atomic<std::uint64_t> holds{0};

inline void onAcquired(pthread_mutex_t* mutex) {
    if (mutex != watched.load(std::memory_order_relaxed)) return;
    if (depth++ == 0) acquired = Clock::now();
}

inline void onReleasing(pthread_mutex_t* mutex) {
    if (mutex != watched.load(std::memory_order_relaxed)) return;
    if (--depth != 0) return;
    const std::int64_t held = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - acquired).count();
    holds.fetch_add(1, std::memory_order_relaxed);
    std::int64_t longest = longestNs.load(std::memory_order_relaxed);
    while (held > longest && !longestNs.compare_exchange_weak(longest, held)) {
    }
}

// Watches the engine's mutex from now on; set before the engine's first job,
// so that every hold is seen from its start.
inline void watch(std::recursive_mutex& mutex) { watched = mutex.native_handle(); }

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
