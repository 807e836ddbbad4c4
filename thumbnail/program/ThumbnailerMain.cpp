// quorvel-thumbnailer: the thumbnail helper that the library starts once.
//
// It serves ThumbnailRequests arriving on the socket at descriptor 3 until
// that socket closes (the library's process ended), then ends its children
// and itself. For each request it forks a child, which confines itself (its
// own process group, an address-space and a processor limit, no core file,
// no socket) before it opens a decoder, makes the thumbnail of the file it
// was given and writes it (ThumbnailOutput) to the pipe it was given. The
// helper ends a child whose wall time is up or whose requester went away,
// reaps every child and reports each ending. It starts no thread, so that
// forking it is sound; loading the decoders' libraries once here is what
// keeps a thumbnail from paying for them each time.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/RegularFile.h"
#include "platform/SystemLog.h"
#include "thumbnail/ChildSandbox.h"
#include "thumbnail/ThumbnailMakers.h"
#include "thumbnail/ThumbnailOutput.h"
#include "thumbnail/ThumbnailProtocol.h"

namespace {

using namespace ostrelcomm;
using Clock = std::chrono::steady_clock;

constexpr int kNotConfined = 65;
constexpr int kNoFile = 66;
constexpr int kNotWritten = 67;
constexpr int kFailingStatus = 68;

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length) {
    std::size_t written = 0;
    while (written < length) {
        const ssize_t done = ::write(fd, bytes + written, length - written);
        if (done > 0) {
            written += static_cast<std::size_t>(done);
        } else if (done < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

// What a child shows, on request of a test, once its output is ready.
[[noreturn]] void misbehave(ThumbnailFault fault, const Bytes& output) {
    switch (fault) {
        case ThumbnailFault::killedHalfway:
            writeAll(STDOUT_FILENO, output.data(), output.size() / 2);
            ::raise(SIGKILL);
            break;
        case ThumbnailFault::garbage: {
            Bytes scrambled = output;
            for (std::size_t i = 0; i < scrambled.size(); ++i) scrambled[i] ^= static_cast<std::uint8_t>(0x5a + i);
            writeAll(STDOUT_FILENO, scrambled.data(), scrambled.size());
            ::_exit(0);
        }
        case ThumbnailFault::overlong: {
            writeAll(STDOUT_FILENO, output.data(), output.size());
            const Bytes more(ThumbnailOutput::kMaxBytes, 0);
            writeAll(STDOUT_FILENO, more.data(), more.size());
            ::_exit(0);
        }
        case ThumbnailFault::stalls:
            writeAll(STDOUT_FILENO, output.data(), output.size() / 2);
            for (;;) ::pause();
        case ThumbnailFault::spins: {
            std::uint64_t turns = 0;
            for (;;) {
                ++turns;
                asm volatile("" : "+r"(turns));
            }
        }
        case ThumbnailFault::leavesAChild:
            // A process of its own that keeps the output open, left behind.
            if (::fork() == 0) {
                for (;;) ::pause();
            }
            writeAll(STDOUT_FILENO, output.data(), output.size());
            ::_exit(0);
        case ThumbnailFault::failingStatus:
            writeAll(STDOUT_FILENO, output.data(), output.size());
            ::_exit(kFailingStatus);
        case ThumbnailFault::none:
            break;
    }
    ::_exit(0);
}

// The child's whole life: descriptor 1 is the output, 3 the file.
[[noreturn]] void makeInChild(const ThumbnailRequest& request) {
    ThumbnailLimits limits;
    limits.memoryBytes = request.memoryBytes;
    limits.processor = std::chrono::seconds(request.processorSeconds);
    if (!applyChildLimits(limits) || !forbidNetwork()) ::_exit(kNotConfined);
    auto file = RegularFile::adopt(kThumbnailInputDescriptor);
    if (!file) ::_exit(kNoFile);

    ThumbnailOutput output;
    // The makers' own line goes to the library, which writes it to the
    // client's system log.
    setSystemLogSink([&output](const std::string& line) {
        if (!output.logLine) output.logLine = line;
    });
    output.result = makeThumbnail(static_cast<ThumbnailKind>(request.kind), std::move(*file));
    if (output.result.thumbnail && output.result.thumbnail->size() > ThumbnailOutput::kMaxJpegBytes) {
        output.result = {};
    }
    const Bytes bytes = output.encode();
    const auto fault = static_cast<ThumbnailFault>(request.fault);
    if (fault != ThumbnailFault::none) misbehave(fault, bytes);
    ::_exit(writeAll(STDOUT_FILENO, bytes.data(), bytes.size()) ? 0 : kNotWritten);
}

struct Child {
    pid_t pid = -1;
    int exitWatch = -1;  // readable once the child has exited
    int ending = -1;     // where its ending goes
    Clock::time_point deadline;
    bool ended = false;  // killed by the helper
    bool timedOut = false;
};

void endGroup(Child& child) {
    // The child leads a group of its own: anything it started goes with it.
    // Until it is reaped, its group's number cannot be taken by another.
    ::kill(-child.pid, SIGKILL);
    child.ended = true;
}

void reap(Child& child) {
    ::kill(-child.pid, SIGKILL);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ThumbnailEnding ending;
    ending.waitStatus = status;
    ending.timedOut = child.timedOut ? 1 : 0;
    ::send(child.ending, &ending, sizeof ending, MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(child.ending);
    ::close(child.exitWatch);
}

bool validRequest(const ThumbnailRequest& request) {
    return request.kind <= static_cast<std::uint8_t>(ThumbnailKind::pdf) && request.fault < kThumbnailFaultCount &&
           request.processorSeconds > 0 && request.wallMilliseconds > 0 && request.memoryBytes > 0;
}

// Takes one request off the socket and forks its child. False once the
// socket has closed.
bool takeRequest(int control, std::vector<Child>& children) {
    ThumbnailRequest request;
    alignas(cmsghdr) char space[CMSG_SPACE(3 * sizeof(int))] = {};
    iovec part{&request, sizeof request};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    const ssize_t got = ::recvmsg(control, &message, MSG_CMSG_CLOEXEC);
    if (got == 0) return false;
    if (got < 0) return errno == EINTR || errno == EAGAIN;

    std::vector<int> received;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            received.push_back(fd);
        }
    }
    const auto closeAll = [&received] {
        for (const int fd : received) ::close(fd);
    };
    if (got != sizeof request || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || received.size() != 3 ||
        !validRequest(request)) {
        closeAll();
        return true;
    }
    const int file = received[0];
    const int output = received[1];
    Child child;
    child.ending = received[2];
    child.deadline = Clock::now() + std::chrono::milliseconds(request.wallMilliseconds);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        // Nothing to make once the helper is gone.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == 1) ::_exit(kNoFile);
        // Received descriptors lie above 3 (0 to 3 are taken here), so
        // neither move overwrites the other.
        if (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(file, kThumbnailInputDescriptor) < 0) ::_exit(kNoFile);
        ::close_range(kThumbnailInputDescriptor + 1, ~0u, 0);
        makeInChild(request);
    }
    ::close(file);
    ::close(output);
    if (pid < 0) {
        ThumbnailEnding ending;
        ending.waitStatus = W_EXITCODE(kNotConfined, 0);
        ::send(child.ending, &ending, sizeof ending, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(child.ending);
        return true;
    }
    ::setpgid(pid, pid);  // either side may be first
    child.pid = pid;
    child.exitWatch = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (child.exitWatch < 0) {
        endGroup(child);
        reap(child);
        return true;
    }
    children.push_back(child);
    return true;
}

int serve(int control) {
    std::vector<Child> children;
    bool open = true;
    while (open || !children.empty()) {
        if (!open) {
            // The library is gone: nothing waits for these any more.
            for (auto& child : children) {
                if (!child.ended) endGroup(child);
            }
        }
        // A negative descriptor is skipped by poll.
        std::vector<pollfd> watched{{open ? control : -1, POLLIN, 0}};
        auto wait = std::chrono::milliseconds(60'000);
        const auto now = Clock::now();
        for (const auto& child : children) {
            watched.push_back({child.exitWatch, POLLIN, 0});
            // Only a hang-up is asked for: the requester never writes.
            watched.push_back({child.ending, 0, 0});
            if (!child.ended) {
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(child.deadline - now));
            }
        }
        const int timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
        if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) return 1;

        const auto later = Clock::now();
        std::vector<Child> running;
        for (std::size_t i = 0; i < children.size(); ++i) {
            Child child = children[i];
            if (watched[1 + 2 * i].revents != 0) {
                reap(child);
                continue;
            }
            if (!child.ended && (watched[2 + 2 * i].revents & (POLLHUP | POLLERR)) != 0) endGroup(child);
            if (!child.ended && later >= child.deadline) {
                child.timedOut = true;
                endGroup(child);
            }
            running.push_back(child);
        }
        children = std::move(running);
        if (open && watched[0].revents != 0) open = takeRequest(control, children);
    }
    return 0;
}

}  // namespace

int main() {
    struct stat status {};
    if (::fstat(kThumbnailControlDescriptor, &status) != 0 || !S_ISSOCK(status.st_mode)) return 64;
    warmUpThumbnailMakers();
    return serve(kThumbnailControlDescriptor);
}
