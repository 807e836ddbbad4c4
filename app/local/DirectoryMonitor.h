#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace quorvel {

// Whoever wants the monitor's announcements: any object serves, the monitor
// only watches whether it still lives.
using DirectoryMonitorDelegate = QObject;

// Watches one local folder and posts "refreshLocalFilesList" on Appwise's
// center when its list of entries changes: an entry created, deleted, or
// renamed or moved in or out. A change of an entry's contents or attributes
// (a write, a `touch`, a `chmod`) or anything inside a subfolder posts
// nothing.
//
// Everything, the reading of the events included, runs on the main thread:
// the folder's inotify descriptor is read by a socket notifier. One read
// drains every queued event, so a burst read at once posts once; a burst
// spread over time posts at most once per burst window, and always once after
// the last change, so the folder is listed in its final state. Events the
// kernel had to drop count as a change. When the folder itself goes (removed,
// or its file system unmounted), the monitor posts once and watches nothing
// more.
class DirectoryMonitor {
public:
    // At most one announcement per this long.
    static constexpr std::chrono::milliseconds kDefaultBurstWindow{100};

    DirectoryMonitor();
    ~DirectoryMonitor();
    DirectoryMonitor(const DirectoryMonitor&) = delete;
    DirectoryMonitor& operator=(const DirectoryMonitor&) = delete;

    // Announcements are posted only while the delegate lives.
    void setDelegate(DirectoryMonitorDelegate* delegate) { delegate_ = delegate; }
    DirectoryMonitorDelegate* delegate() const { return delegate_; }

    // Watches `url` from now on, in place of whatever was watched before. A
    // folder that cannot be watched (gone, not a folder, not readable) is
    // logged with the reason and not watched; the next start tries again.
    void startMonitoring(const std::filesystem::path& url);
    // Closes the descriptor at once and drops an announcement still held back
    // by the burst window. Waits for nothing.
    void stopMonitoring();

    // The descriptor of the watch; -1 when none.
    int monitoredDirectoryFileDescriptor() const { return monitoredDirectoryFileDescriptor_; }
    // The folder of the last start; none once stopped.
    const std::optional<std::filesystem::path>& url() const { return url_; }
    // The file-system events read so far, for tests.
    std::uint64_t eventsRead() const { return eventsRead_; }

    // The burst window of every monitor (tests set 0: every read posts).
    static std::chrono::milliseconds burstWindow();
    static void setBurstWindow(std::chrono::milliseconds window);

private:
    void readEvents();
    void endWatch();
    void noteChange();
    void announce();

    QPointer<DirectoryMonitorDelegate> delegate_;
    int monitoredDirectoryFileDescriptor_ = -1;
    std::optional<std::filesystem::path> url_;
    QSocketNotifier notifier_{QSocketNotifier::Read};
    // Runs while announcements are held back; `held_` says one is due when it
    // ends.
    QTimer burstTimer_;
    bool held_ = false;
    std::uint64_t eventsRead_ = 0;
};

}  // namespace quorvel
