#include "xfer/ThumbnailChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "platform/Bytes.h"
#include "platform/FileDescriptor.h"
#include "platform/SystemLog.h"
#include "thumbnail/ThumbnailOutput.h"
#include "xfer/ThumbnailHelperProcess.h"

namespace ostrelcomm {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 64 * 1024;
// Beyond the child's wall time, for the helper to end and report it.
constexpr auto kReportGrace = std::chrono::seconds(2);

void logFailure(const std::string& why) { systemLog(kThumbnailErrorPrefix + why); }

struct Followed {
    Bytes output;
    bool overrun = false;
    std::optional<ThumbnailEnding> ending;
    bool helperGone = false;  // the ending socket closed without an ending
};

// Reads the child's output and the helper's report of its ending, until both
// are in, the output grows beyond a thumbnail or the time is up.
Followed follow(int output, int ending, Clock::time_point deadline) {
    Followed followed;
    bool outputClosed = false;
    while (!(outputClosed && (followed.ending || followed.helperGone))) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd watched[2] = {{outputClosed ? -1 : output, POLLIN, 0},
                             {followed.ending || followed.helperGone ? -1 : ending, POLLIN, 0}};
        if (::poll(watched, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        if (watched[0].revents != 0) {
            const std::size_t had = followed.output.size();
            const std::size_t room = ThumbnailOutput::kMaxBytes + 1 - had;
            followed.output.resize(had + std::min(room, kReadChunk));
            const ssize_t got = ::read(output, followed.output.data() + had, followed.output.size() - had);
            followed.output.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) outputClosed = true;
            if (followed.output.size() > ThumbnailOutput::kMaxBytes) {
                followed.overrun = true;
                break;
            }
        }
        if (watched[1].revents != 0) {
            ThumbnailEnding report;
            const ssize_t got = ::recv(ending, &report, sizeof report, MSG_DONTWAIT);
            if (got == static_cast<ssize_t>(sizeof report)) {
                followed.ending = report;
            } else if (got >= 0 || (errno != EINTR && errno != EAGAIN)) {
                followed.helperGone = true;
            }
        }
    }
    return followed;
}

std::string signalName(int signal) {
    const char* text = ::sigdescr_np(signal);
    return "signal " + std::to_string(signal) + (text != nullptr ? std::string(" (") + text + ")" : std::string());
}

}  // namespace

ThumbnailChild::ThumbnailChild(ThumbnailLimits limits, ThumbnailFault fault) : limits_(limits), fault_(fault) {}

ThumbnailResult ThumbnailChild::make(const RegularFile& file, ThumbnailKind kind) const {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        logFailure("no pipe for the thumbnail (" + std::string(std::strerror(errno)) + ")");
        return {};
    }
    const FileDescriptor output(pipeEnds[0]);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        ::close(pipeEnds[1]);
        logFailure("no socket for the thumbnail (" + std::string(std::strerror(errno)) + ")");
        return {};
    }
    const FileDescriptor ending(pair[0]);

    ThumbnailRequest request;
    request.kind = static_cast<std::uint8_t>(kind);
    request.fault = static_cast<std::uint8_t>(fault_);
    request.processorSeconds = static_cast<std::uint32_t>(std::max<std::int64_t>(limits_.processor.count(), 1));
    request.wallMilliseconds = static_cast<std::uint32_t>(std::max<std::int64_t>(limits_.wallTime.count(), 1));
    request.memoryBytes = limits_.memoryBytes;
    std::string whyNot;
    bool sent = false;
    {
        // The helper has its own copies once it holds the request; these
        // close here, so the output ends when the child's does.
        const FileDescriptor outputWrite(pipeEnds[1]);
        const FileDescriptor endingTheirs(pair[1]);
        sent = ThumbnailHelperProcess::shared().send(request, file.descriptor(), outputWrite.get(), endingTheirs.get(),
                                                     whyNot);
    }
    if (!sent) {
        logFailure(whyNot);
        return {};
    }

    // Closing the two descriptors on the way out, whatever happened, tells
    // the helper to end a child still running.
    const Followed followed = follow(output.get(), ending.get(), Clock::now() + limits_.wallTime + kReportGrace);
    if (followed.overrun) {
        logFailure("the thumbnail's maker wrote more than a thumbnail can take");
        return {};
    }
    if (!followed.ending) {
        logFailure(followed.helperGone ? "the thumbnail helper ended before the thumbnail"
                                       : "the thumbnail helper did not report the thumbnail's end");
        return {};
    }
    const int status = followed.ending->waitStatus;
    if (followed.ending->timedOut != 0) {
        logFailure("the thumbnail's maker took longer than " + std::to_string(limits_.wallTime.count()) + " ms");
        return {};
    }
    if (WIFSIGNALED(status)) {
        logFailure("the thumbnail's maker was stopped by " + signalName(WTERMSIG(status)));
        return {};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        logFailure("the thumbnail's maker ended with status " + std::to_string(WEXITSTATUS(status)));
        return {};
    }
    auto decoded = ThumbnailOutput::decode(followed.output);
    if (!decoded) {
        logFailure("the thumbnail's maker wrote output that cannot be read");
        return {};
    }
    if (decoded->logLine) systemLog(*decoded->logLine);
    return std::move(decoded->result);
}

}  // namespace ostrelcomm
