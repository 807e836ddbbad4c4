#include "thumbnail/ChildSandbox.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>

namespace ostrelcomm {

namespace {

bool limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit value{soft, hard};
    return ::setrlimit(resource, &value) == 0;
}

}  // namespace

std::uint64_t addressSpaceInUse() {
    // The first number of statm: the whole address space, in pages.
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64] = {};
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0) return 0;
    std::uint64_t pages = 0;
    const auto [end, error] = std::from_chars(text, text + got, pages);
    if (error != std::errc() || end == text) return 0;
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

bool applyChildLimits(const ThumbnailLimits& limits) { return applyChildLimits(limits, addressSpaceInUse()); }

bool applyChildLimits(const ThumbnailLimits& limits, std::uint64_t inUse) {
    if (inUse == 0) return false;
    const auto seconds = static_cast<rlim_t>(limits.processor.count() > 0 ? limits.processor.count() : 1);
    // Past the soft processor limit the kernel sends SIGXCPU, which ends the
    // process; the hard one, a second later, kills it whatever it does.
    return limit(RLIMIT_AS, inUse + limits.memoryBytes, inUse + limits.memoryBytes) &&
           limit(RLIMIT_CPU, seconds, seconds + 1) && limit(RLIMIT_CORE, 0, 0);
}

bool forbidNetwork() {
#if defined(__x86_64__)
    constexpr std::uint32_t kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr std::uint32_t kArchitecture = AUDIT_ARCH_AARCH64;
#else
    // No filter written for this architecture: no thumbnails rather than an
    // unconfined decoder.
    return false;
#endif
#if defined(__x86_64__) || defined(__aarch64__)
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
#if defined(__x86_64__)
        // The x32 table reaches the same calls under other numbers.
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
#endif
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
        // io_uring can open sockets of its own.
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#endif
}

}  // namespace ostrelcomm
