#include "xfer/ThumbnailHelperProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

extern char** environ;

namespace ostrelcomm {

namespace {

// Descriptors handed to the helper are first moved above the one it gets
// them on, so that putting it in place never overwrites another.
constexpr int kAboveHelperDescriptors = 10;

std::string errorText(int code) { return std::strerror(code); }

// This process's environment, and glibc's allocator told to ask for huge
// pages: each child starts without a page of its own heap, and faulting in a
// decoded photograph 4 KiB at a time costs more than decoding it.
std::vector<std::string> helperEnvironment() {
    constexpr std::string_view kTunables = "GLIBC_TUNABLES=";
    constexpr std::string_view kHugePages = "glibc.malloc.hugetlb=1";
    std::vector<std::string> variables;
    bool tuned = false;
    for (char** at = environ; at != nullptr && *at != nullptr; ++at) {
        std::string variable(*at);
        if (variable.starts_with(kTunables)) {
            variable += (variable.size() > kTunables.size() ? ":" : "") + std::string(kHugePages);
            tuned = true;
        }
        variables.push_back(std::move(variable));
    }
    if (!tuned) variables.push_back(std::string(kTunables) + std::string(kHugePages));
    return variables;
}

}  // namespace

ThumbnailHelperProcess& ThumbnailHelperProcess::shared() {
    // Never destroyed: a thumbnail may still be under way while the program
    // exits.
    static auto* const helper = new ThumbnailHelperProcess();
    return *helper;
}

std::filesystem::path ThumbnailHelperProcess::program() {
    static const std::filesystem::path chosen = [] {
        const char* named = std::getenv("QUORVEL_THUMBNAILER");
        return std::filesystem::path(named != nullptr && *named != '\0' ? named : QUORVEL_THUMBNAILER_PATH);
    }();
    return chosen;
}

bool ThumbnailHelperProcess::send(const ThumbnailRequest& request, int file, int output, int ending,
                                  std::string& whyNot) {
    std::lock_guard lock(mutex_);
    if (pid_ >= 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;  // it died since the last request, and is reaped now
    }
    if (pid_ >= 0 && control_ >= 0 && deliver(request, file, output, ending)) return true;
    // Not started yet, or gone (crashed, killed): a new one takes it.
    stop();
    if (!start(whyNot)) return false;
    if (deliver(request, file, output, ending)) return true;
    whyNot = "the thumbnail helper takes no request (" + errorText(errno) + ")";
    stop();
    return false;
}

std::optional<pid_t> ThumbnailHelperProcess::helper() const {
    std::lock_guard lock(mutex_);
    if (pid_ < 0) return std::nullopt;
    return pid_;
}

bool ThumbnailHelperProcess::deliver(const ThumbnailRequest& request, int file, int output, int ending) const {
    const int descriptors[3] = {file, output, ending};
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
        sent = ::sendmsg(control_, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof request);
}

bool ThumbnailHelperProcess::start(std::string& whyNot) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        whyNot = "no socket for the thumbnail helper (" + errorText(errno) + ")";
        return false;
    }
    const int theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kAboveHelperDescriptors);
    ::close(pair[1]);
    if (theirs < 0) {
        whyNot = "no socket for the thumbnail helper (" + errorText(errno) + ")";
        ::close(pair[0]);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs, kThumbnailControlDescriptor);
    // Standard error stays, for a report of a crash; nothing else of this
    // process reaches the helper.
    posix_spawn_file_actions_addclosefrom_np(&actions, kThumbnailControlDescriptor + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own (a terminal's signals for the client's group do not
    // reach it), and every signal as a new program has it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);

    const std::string path = program().string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    std::vector<std::string> variables = helperEnvironment();
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(theirs);
    if (failed != 0) {
        whyNot = "the thumbnail helper " + path + " cannot be started (" + errorText(failed) + ")";
        ::close(pair[0]);
        return false;
    }
    pid_ = pid;
    control_ = pair[0];
    return true;
}

void ThumbnailHelperProcess::stop() {
    if (control_ >= 0) ::close(control_);
    control_ = -1;
    if (pid_ < 0) return;
    // Its children end with it: they die with their parent.
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

}  // namespace ostrelcomm
