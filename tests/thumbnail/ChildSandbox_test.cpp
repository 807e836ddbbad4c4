#include "thumbnail/ChildSandbox.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace ostrelcomm {
namespace {

// Runs `body` in a forked process and gives its exit status (-1 when it did
// not exit).
template <class Body>
int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ChildSandbox, NoSocketOfAnyFamilyOnceNetworkIsForbiddenButFilesStillOpen) {
    const int status = inChild([] {
        if (!forbidNetwork()) return 10;
        for (const int family : {AF_INET, AF_INET6, AF_UNIX, AF_NETLINK}) {
            const int fd = ::socket(family, SOCK_STREAM, 0);
            if (fd >= 0 || errno != EACCES) return 11;
        }
        std::ifstream file("/proc/self/status");
        return file.good() ? 0 : 12;
    });
    EXPECT_EQ(status, 0);
    // The test process itself is untouched.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
}

TEST(ChildSandbox, LimitsCountFromTheAddressSpaceInUse) {
    const int status = inChild([] {
        ThumbnailLimits limits;
        limits.memoryBytes = std::uint64_t{64} << 20;
        limits.processor = std::chrono::seconds(2);
        const std::uint64_t before = addressSpaceInUse();
        if (before == 0 || !applyChildLimits(limits)) return 10;
        rlimit space{};
        rlimit processor{};
        rlimit core{};
        ::getrlimit(RLIMIT_AS, &space);
        ::getrlimit(RLIMIT_CPU, &processor);
        ::getrlimit(RLIMIT_CORE, &core);
        if (space.rlim_max < before + limits.memoryBytes || space.rlim_max > before + limits.memoryBytes + (64u << 20))
            return 11;
        if (processor.rlim_cur != 2 || processor.rlim_max != 3) return 12;
        return core.rlim_max == 0 ? 0 : 13;
    });
    EXPECT_EQ(status, 0);
}

// Memory mapped between the measure and the limits (a spare child's
// warm-up) is taken from the limits' memory, not added to it.
TEST(ChildSandbox, MemoryMappedSinceTheMeasureCountsInTheLimit) {
    const int status = inChild([] {
        const std::uint64_t before = addressSpaceInUse();
        void* early = ::mmap(nullptr, 32u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (before == 0 || early == MAP_FAILED) return 10;
        ThumbnailLimits limits;
        limits.memoryBytes = std::uint64_t{64} << 20;
        if (!applyChildLimits(limits, before)) return 11;
        void* tooMuch = ::mmap(nullptr, 40u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (tooMuch != MAP_FAILED) return 12;
        void* withinLimit = ::mmap(nullptr, 16u << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return withinLimit != MAP_FAILED ? 0 : 13;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace ostrelcomm
