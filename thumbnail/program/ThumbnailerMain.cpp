// quorvel-thumbnailer: the thumbnail helper that the library starts once.
//
// It serves ThumbnailRequests arriving on the socket at descriptor 3 until
// that socket closes (the library's process ended), then ends its children
// and itself. Each request gets a child of its own, which confines itself
// (its own process group, an address-space and a processor limit, no core
// file, no socket) before it reads the file it was given, makes the
// thumbnail and writes it (ThumbnailOutput) to the pipe it was given, then
// ends: no child sees two files. The child is forked ahead of its request
// as a spare, which warms up and confines itself while the child before
// works, and waits for its request; a request that finds no spare ready
// for its limits gets a child forked for it. The helper ends a child whose
// wall time is up or whose requester went away, reaps every child and
// reports each ending. It starts no thread, so that forking it is sound;
// loading the decoders' libraries once here is what keeps a thumbnail from
// paying for them each time.

#include <fcntl.h>
#include <malloc.h>
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
#include <cstdlib>
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

// Where a spare child waits for its request.
constexpr int kSpareChannelDescriptor = 3;

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

ThumbnailLimits limitsOf(const ThumbnailRequest& request) {
    ThumbnailLimits limits;
    limits.memoryBytes = request.memoryBytes;
    limits.processor = std::chrono::seconds(request.processorSeconds);
    return limits;
}

// A child's first steps, whether it is forked for a request or as a spare.
void leadOwnGroup() {
    ::setpgid(0, 0);
    // Nothing to make once the helper is gone.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) ::_exit(kNoFile);
}

// The rest of a confined child's life: descriptor 1 is the output, 3 the file.
[[noreturn]] void makeInChild(const ThumbnailRequest& request) {
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

// A child forked for a request that no spare could take: descriptor 1 is
// the output, 3 the file.
[[noreturn]] void coldChild(const ThumbnailRequest& request) {
    if (!applyChildLimits(limitsOf(request)) || !forbidNetwork()) ::_exit(kNotConfined);
    makeInChild(request);
}

// A spare's warm-up, before it confines itself. A child forked from the
// helper has an allocator that has never held a picture, so a thumbnail
// made at once takes a page fault for each page it fills (the file's bytes
// alone are some megabytes, read into one buffer). The spare faults a heap
// in first and keeps what is freed; the request's thumbnail then reuses
// that heap. What it maps is counted in the child's memory, so only limits
// with room for it are warmed.
constexpr std::size_t kWarmHeapBytes = std::size_t{16} << 20;
constexpr std::uint64_t kWarmUpRoom = std::uint64_t{64} << 20;

void warmUp() {
    // Allocations up to 32 MiB come from the heap, and what is freed stays
    // there: the process ends after one thumbnail anyway.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    auto* heap = static_cast<std::uint8_t*>(std::malloc(kWarmHeapBytes));
    if (heap == nullptr) return;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (std::size_t at = 0; at < kWarmHeapBytes; at += page) heap[at] = 0;
    // Kept from being optimised away with the allocation.
    asm volatile("" : : "r"(heap) : "memory");
    std::free(heap);
}

// A spare child's life: warmed up and confined for `limits` before any
// request, it says so with one byte on descriptor 3 and waits there for its
// one request (the file and the output with it), then makes that thumbnail
// and ends.
[[noreturn]] void spareChild(const ThumbnailLimits& limits) {
    const std::uint64_t inUse = addressSpaceInUse();
    if (limits.memoryBytes >= kWarmUpRoom) warmUp();
    if (!applyChildLimits(limits, inUse) || !forbidNetwork()) ::_exit(kNotConfined);
    const std::uint8_t ready = 1;
    if (::send(kSpareChannelDescriptor, &ready, sizeof ready, MSG_NOSIGNAL) != sizeof ready) ::_exit(kNoFile);

    ThumbnailRequest request;
    alignas(cmsghdr) char space[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part{&request, sizeof request};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    ssize_t got = 0;
    do {
        got = ::recvmsg(kSpareChannelDescriptor, &message, 0);
    } while (got < 0 && errno == EINTR);
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (got != sizeof request || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || header == nullptr ||
        header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(2 * sizeof(int))) {
        ::_exit(kNoFile);
    }
    int descriptors[2];
    std::memcpy(descriptors, CMSG_DATA(header), sizeof descriptors);
    // Both lie above the channel; putting the file in its place closes it.
    if (::dup2(descriptors[1], STDOUT_FILENO) < 0 || ::dup2(descriptors[0], kThumbnailInputDescriptor) < 0) {
        ::_exit(kNoFile);
    }
    ::close_range(kThumbnailInputDescriptor + 1, ~0u, 0);
    makeInChild(request);
}

struct Child {
    pid_t pid = -1;
    int exitWatch = -1;  // readable once the child has exited
    int ending = -1;     // where its ending goes
    Clock::time_point deadline;
    bool ended = false;  // killed by the helper
    bool timedOut = false;
};

// A child forked ahead of the next request: it warms up, confines itself
// for `limits` and waits on its channel for one request. Forking it while
// the child before works takes the fork and the first run's page faults off
// the time a thumbnail takes.
struct Spare {
    pid_t pid = -1;
    int exitWatch = -1;  // readable once the spare has exited
    int channel = -1;    // where its request goes
    ThumbnailLimits limits;
    bool ready = false;  // confined and waiting
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

void dropSpare(std::optional<Spare>& spare) {
    if (!spare) return;
    ::kill(-spare->pid, SIGKILL);
    while (::waitpid(spare->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::close(spare->channel);
    ::close(spare->exitWatch);
    spare.reset();
}

// Forks a spare for `limits`; nothing when the system refuses.
std::optional<Spare> forkSpare(const ThumbnailLimits& limits) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        leadOwnGroup();
        // The channel takes the place of the helper's own socket, which no
        // child may hold, and nothing else of the helper stays open.
        if (::dup2(pair[1], kSpareChannelDescriptor) < 0) ::_exit(kNoFile);
        ::close_range(kSpareChannelDescriptor + 1, ~0u, 0);
        spareChild(limits);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return std::nullopt;
    }
    ::setpgid(pid, pid);  // either side may be first
    Spare spare{pid, static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)), pair[0], limits, false};
    if (spare.exitWatch < 0) {
        std::optional<Spare> unwatched(spare);
        dropSpare(unwatched);
        return std::nullopt;
    }
    return spare;
}

bool confinedFor(const Spare& spare, const ThumbnailRequest& request) {
    return spare.limits.memoryBytes == request.memoryBytes &&
           spare.limits.processor.count() == static_cast<std::int64_t>(request.processorSeconds);
}

// Gives the request, the file and the output to a ready spare, which is
// then a running child. False when it has died.
bool handOver(std::optional<Spare>& spare, const ThumbnailRequest& request, int file, int output, Child& child) {
    const int descriptors[2] = {file, output};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof descriptors)] = {};
    iovec part{const_cast<ThumbnailRequest*>(&request), sizeof request};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof descriptors);
    std::memcpy(CMSG_DATA(header), descriptors, sizeof descriptors);
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(spare->channel, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) return false;
    ::close(spare->channel);
    child.pid = spare->pid;
    child.exitWatch = spare->exitWatch;
    spare.reset();
    return true;
}

bool validRequest(const ThumbnailRequest& request) {
    return request.kind <= static_cast<std::uint8_t>(ThumbnailKind::pdf) && request.fault < kThumbnailFaultCount &&
           request.processorSeconds > 0 && request.wallMilliseconds > 0 && request.memoryBytes > 0;
}

struct Helper {
    std::vector<Child> children;
    std::optional<Spare> spare;
};

// Takes one request off the socket and gives it to the spare, or forks a
// child for it, then forks the next spare. False once the socket has
// closed.
bool takeRequest(int control, Helper& helper) {
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

    const bool fits = helper.spare && confinedFor(*helper.spare, request);
    // A spare still warming up is left to do so for the next request: this
    // one would wait for it as long as for a child of its own.
    if (!(fits && helper.spare->ready && handOver(helper.spare, request, file, output, child))) {
        // One for other limits, or one that died waiting, is of no use.
        if (helper.spare && (!fits || helper.spare->ready)) dropSpare(helper.spare);
        const pid_t pid = ::fork();
        if (pid == 0) {
            leadOwnGroup();
            // Received descriptors lie above 3 (0 to 3 are taken here), so
            // neither move overwrites the other.
            if (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(file, kThumbnailInputDescriptor) < 0) ::_exit(kNoFile);
            ::close_range(kThumbnailInputDescriptor + 1, ~0u, 0);
            coldChild(request);
        }
        if (pid >= 0) {
            ::setpgid(pid, pid);  // either side may be first
            child.pid = pid;
            child.exitWatch = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        }
    }
    ::close(file);
    ::close(output);
    if (child.pid < 0) {
        ThumbnailEnding ending;
        ending.waitStatus = W_EXITCODE(kNotConfined, 0);
        ::send(child.ending, &ending, sizeof ending, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(child.ending);
    } else if (child.exitWatch < 0) {
        endGroup(child);
        reap(child);
    } else {
        helper.children.push_back(child);
    }
    // The next request's child, made while this one works.
    if (!helper.spare) helper.spare = forkSpare(limitsOf(request));
    return true;
}

int serve(int control, Helper& helper) {
    auto& children = helper.children;
    bool open = true;
    while (open || !children.empty()) {
        if (!open) {
            // The library is gone: nothing waits for these any more.
            dropSpare(helper.spare);
            for (auto& child : children) {
                if (!child.ended) endGroup(child);
            }
        }
        // A negative descriptor is skipped by poll.
        const Spare* spare = helper.spare ? &*helper.spare : nullptr;
        std::vector<pollfd> watched{{open ? control : -1, POLLIN, 0},
                                    {spare != nullptr ? spare->exitWatch : -1, POLLIN, 0},
                                    {spare != nullptr && !spare->ready ? spare->channel : -1, POLLIN, 0}};
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

        // A spare that died waiting is reaped; the next request forks its
        // own child and a new spare.
        if (watched[1].revents != 0) {
            dropSpare(helper.spare);
        } else if (watched[2].revents != 0) {
            std::uint8_t ready = 0;
            const ssize_t got = ::recv(helper.spare->channel, &ready, sizeof ready, MSG_DONTWAIT);
            if (got == static_cast<ssize_t>(sizeof ready)) {
                helper.spare->ready = true;
            } else if (got >= 0 || (errno != EINTR && errno != EAGAIN)) {
                dropSpare(helper.spare);
            }
        }
        const auto later = Clock::now();
        std::vector<Child> running;
        for (std::size_t i = 0; i < children.size(); ++i) {
            Child child = children[i];
            if (watched[3 + 2 * i].revents != 0) {
                reap(child);
                continue;
            }
            if (!child.ended && (watched[4 + 2 * i].revents & (POLLHUP | POLLERR)) != 0) endGroup(child);
            if (!child.ended && later >= child.deadline) {
                child.timedOut = true;
                endGroup(child);
            }
            running.push_back(child);
        }
        children = std::move(running);
        if (open && watched[0].revents != 0) open = takeRequest(control, helper);
    }
    dropSpare(helper.spare);
    return 0;
}

}  // namespace

int main() {
    struct stat status {};
    if (::fstat(kThumbnailControlDescriptor, &status) != 0 || !S_ISSOCK(status.st_mode)) return 64;
    warmUpThumbnailMakers();
    Helper helper;
    // The first request finds its spare too, for the limits a request has
    // unless a test asks for others.
    helper.spare = forkSpare(ThumbnailLimits{});
    return serve(kThumbnailControlDescriptor, helper);
}
