#include "app/local/DirectoryMonitor.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "platform/SystemLog.h"

namespace quorvel {

namespace {

using ostrelcomm::systemLog;

// Only changes of the entry list: a write, a `touch` or a `chmod` of an entry
// is no event at all, so it costs no read and no listing.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

std::chrono::milliseconds& sharedBurstWindow() {
    static std::chrono::milliseconds window = DirectoryMonitor::kDefaultBurstWindow;
    return window;
}

std::string reason(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

DirectoryMonitor::DirectoryMonitor() {
    notifier_.setEnabled(false);
    burstTimer_.setSingleShot(true);
    // Never early: a coarse timer may end up to 5% before its interval.
    burstTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] { readEvents(); });
    QObject::connect(&burstTimer_, &QTimer::timeout, &burstTimer_, [this] {
        if (!held_) return;
        held_ = false;
        announce();
        burstTimer_.start(burstWindow());
    });
}

DirectoryMonitor::~DirectoryMonitor() { stopMonitoring(); }

std::chrono::milliseconds DirectoryMonitor::burstWindow() { return sharedBurstWindow(); }

void DirectoryMonitor::setBurstWindow(std::chrono::milliseconds window) { sharedBurstWindow() = window; }

void DirectoryMonitor::startMonitoring(const std::filesystem::path& url) {
    stopMonitoring();
    url_ = url;
    const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0) {
        systemLog("Cannot watch " + url.string() + ": " + reason(errno));
        return;
    }
    if (::inotify_add_watch(descriptor, url.c_str(), kWatchMask) < 0) {
        systemLog("Cannot watch " + url.string() + ": " + reason(errno));
        ::close(descriptor);
        return;
    }
    monitoredDirectoryFileDescriptor_ = descriptor;
    notifier_.setSocket(descriptor);
    notifier_.setEnabled(true);
}

void DirectoryMonitor::stopMonitoring() {
    endWatch();
    url_.reset();
    burstTimer_.stop();
    held_ = false;
}

void DirectoryMonitor::endWatch() {
    if (monitoredDirectoryFileDescriptor_ < 0) return;
    notifier_.setEnabled(false);
    ::close(monitoredDirectoryFileDescriptor_);
    monitoredDirectoryFileDescriptor_ = -1;
}

void DirectoryMonitor::readEvents() {
    // Room for at least one event with the longest name, so a read never
    // fails for want of space.
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    bool folderGone = false;
    for (;;) {
        const ssize_t length = ::read(monitoredDirectoryFileDescriptor_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) continue;
        if (length < 0 && errno != EAGAIN) {
            systemLog("Cannot read the changes of " + (url_ ? url_->string() : std::string()) + ": " + reason(errno));
            break;
        }
        if (length <= 0) break;
        for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(length);) {
            inotify_event event{};
            std::memcpy(&event, buffer + at, sizeof event);
            ++eventsRead_;
            // IN_IGNORED: the watch is gone with its folder. Anything else,
            // IN_Q_OVERFLOW included, may have changed the entry list.
            if (event.mask & IN_IGNORED) {
                folderGone = true;
            } else {
                changed = true;
            }
            at += sizeof(inotify_event) + event.len;
        }
    }
    if (folderGone) {
        endWatch();
        url_.reset();
    }
    if (changed || folderGone) noteChange();
}

void DirectoryMonitor::noteChange() {
    if (burstTimer_.isActive()) {
        held_ = true;
        return;
    }
    announce();
    if (burstWindow().count() > 0) burstTimer_.start(burstWindow());
}

void DirectoryMonitor::announce() {
    if (!delegate_) return;
    Appwise::shared().notifications()->post(kRefreshLocalFilesListNotification);
}

}  // namespace quorvel
