#include "thumbnail/ChildSandbox.h"

#include <gtest/gtest.h>
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

}  // namespace
}  // namespace ostrelcomm
