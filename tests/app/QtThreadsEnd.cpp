// Every application test program links this: at exit it waits, bounded, for
// the threads Qt itself ended to be gone before the leak check runs.
//
// Qt ends its own threads (QtTest's watchdog, the global thread pool's
// threads, which QImage uses to scale and convert large pictures) with
// QThread::wait(), which returns once the thread's run has finished but
// before the thread has released its thread-local data; the program may then
// exit while that thread is still unwinding. The leak check, which runs last at exit, then finds the
// thread's data (allocated inside Qt) referenced by nobody and reports it.
// Waiting here until the kernel has let the thread go removes the race
// instead of hiding the report.

#include <dirent.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// Qt names a thread after its object (a thread name holds 15 characters).
constexpr const char* kQtThreadNames[] = {"QtTest Watchdog", "Thread (pooled)"};

bool isQtThread(const std::string& name) {
    for (const char* qtName : kQtThreadNames) {
        if (name == qtName) return true;
    }
    return false;
}

bool qtThreadAlive() {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return false;
    bool alive = false;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name) && isQtThread(name)) {
            alive = true;
            break;
        }
    }
    closedir(tasks);
    return alive;
}

void waitForQtThreads() {
    // A thread past its run ends within microseconds; a few seconds bound a
    // machine under heavy load.
    const timespec pause{0, 1'000'000};
    for (int i = 0; i < 5'000 && qtThreadAlive(); ++i) nanosleep(&pause, nullptr);
}

const bool registered = [] { return std::atexit(waitForQtThreads) == 0; }();

}  // namespace
