// The main view's transfers on screen: a finished download's hash and
// thumbnail written back to the server and the local table refreshed, a
// folder copy's progress on the spinner, and the multi-file upload's strip
// with its counts, bar and time left.

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include <any>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/local/Directory.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/CopyDirBridge.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/RunOnMain.h"
#include "app/window/MainViewController.h"
#include "app/window/StatusBadge.h"
#include "platform/IntExtensions.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"
#include "platform/SystemLog.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"
#include "xfer/ThumbnailHelper.h"
#include "xfer/XferNotifications.h"

namespace quorvel {

namespace {

namespace xfer = ostrelcomm::xfer;
namespace fs = std::filesystem;
using ostrelcomm::systemLog;

constexpr char kAlertIcon[] = "NSInfo";
constexpr char kCommError[] = "Comm libraries error";
constexpr char kBadResultText[] = "remoteFileDownload returned a bad type as 'Result'.\nOperation will be aborted.";
constexpr char kUnexpectedResultText[] = "remoteFileDownload returned an unexpected 'Result': ";
constexpr char kAbortedSuffix[] = ".\nOperation will be aborted.";
constexpr char kBadCustomDataText[] = "remoteFileDownload returned bad 'customData'.\nOperation will be aborted.";
constexpr char kBadLocalURLText[] = "remoteFileDownload returned bad 'localURL'.\nOperation will be aborted.";
constexpr char kHashUpdatedLog[] = "File hash updated: ";

// Qt's bars count in int: the upload's bytes are drawn in thousandths, so
// that a run beyond 2 GiB still fills its bar.
constexpr int kBarScale = 1000;

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// The upload strip's open height.
constexpr int kUploadStripHeight = 80;

template <class Value>
std::optional<Value> entryOf(const xfer::RemoteFileDownloadPayload& payload, const char* key) {
    const auto found = payload.find(key);
    if (found == payload.end()) return std::nullopt;
    if (const auto* value = std::any_cast<Value>(&found->second)) return *value;
    return std::nullopt;
}

template <class Value>
std::optional<Value> valueOf(const ostrelcomm::UserInfo& info, const char* key) {
    if (const auto* value = ostrelcomm::userInfoValue<Value>(info, key)) return *value;
    return std::nullopt;
}

// A folder as a comparison sees it: "a/./b/" and "a/b" are one folder.
fs::path normalFolder(const fs::path& folder) {
    fs::path normal = folder.lexically_normal();
    if (normal.has_relative_path() && !normal.has_filename()) normal = normal.parent_path();
    return normal;
}

int barPosition(std::int64_t sent, std::int64_t toSend) {
    if (toSend <= 0) return kBarScale;
    if (sent <= 0) return 0;
    if (sent >= toSend) return kBarScale;
    return static_cast<int>(static_cast<long double>(sent) * kBarScale / static_cast<long double>(toSend));
}

// The time left as the strip words it: "1 h 2 min 5 s left"; a split that
// gives no part (nothing measured yet) shows "...".
QString remainingTimeText(std::int64_t seconds) {
    const auto [hours, minutes, rest] = ostrelcomm::toHoursMinutesSeconds(seconds);
    QStringList parts;
    const std::pair<std::int64_t, const char*> units[] = {{hours, "hours"}, {minutes, "minutes"}, {rest, "seconds"}};
    for (const auto& [count, unit] : units)
        if (count > 0) parts << QString::number(count) + QLatin1Char(' ') + text(unit);
    if (parts.isEmpty()) return QStringLiteral("...");
    return parts.join(QLatin1Char(' ')) + text(" left");
}

}  // namespace

struct MainViewController::Transfers {
    // One "multipleLocalFileSend" report, copied on the posting thread. Each
    // value is absent when missing or not of its type.
    struct UploadReport {
        std::optional<std::string> result;
        std::optional<std::string> baseDestinationUUID;
        std::optional<std::int64_t> item;
        std::optional<std::int64_t> total;
        std::optional<std::int64_t> remainingTime;
        std::optional<std::int64_t> bytesSent;
        std::optional<std::int64_t> bytesToSend;
        std::optional<std::int64_t> xferRate;
        std::optional<std::string> error;

        static UploadReport of(const ostrelcomm::UserInfo& info) {
            return {valueOf<std::string>(info, xfer::kResultKey),
                    valueOf<std::string>(info, xfer::kBaseDestinationUUIDKey),
                    valueOf<std::int64_t>(info, xfer::kItemKey),
                    valueOf<std::int64_t>(info, xfer::kTotalKey),
                    valueOf<std::int64_t>(info, xfer::kRemainingTimeKey),
                    valueOf<std::int64_t>(info, xfer::kBytesSentKey),
                    valueOf<std::int64_t>(info, xfer::kBytesToSendKey),
                    valueOf<std::int64_t>(info, xfer::kXferRateKey),
                    valueOf<std::string>(info, xfer::kErrorKey)};
        }
    };

    struct DownloadRequest {
        bool underShares = false;
        // Downloads of the item asked for and not yet received.
        int pending = 0;
    };

    std::unordered_map<std::string, DownloadRequest> downloadRequests;
    // Made on the first thumbnail; a video or a PDF takes a while.
    std::shared_ptr<ostrelcomm::SerialQueue> thumbnailer;

    Transfers() = default;
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    ~Transfers() {
        // Never joined here: a thumbnail under way ends on its own, and the
        // queue goes with its last task.
        if (thumbnailer) {
            ostrelcomm::SerialQueue* queue = thumbnailer.get();
            queue->async([last = std::move(thumbnailer)]() mutable { last.reset(); });
        }
    }

    // Where the download of `uuid` was asked for; none when the view did not
    // ask for it.
    std::optional<bool> takeDownloadRequest(const std::string& uuid) {
        const auto found = downloadRequests.find(uuid);
        if (found == downloadRequests.end()) return std::nullopt;
        const bool underShares = found->second.underShares;
        if (--found->second.pending <= 0) downloadRequests.erase(found);
        return underShares;
    }

    static void downloadReported(MainViewController& view, const RemoteFileDownloadEvent& event);
    static void writeBack(MainViewController& view, const std::string& uuid,
                          std::optional<ostrelcomm::RemoteItemMetadata> metadata, const fs::path& file,
                          bool makeThumbnail);
    static void uploadReported(MainViewController& view, const UploadReport& report);
    static void drawSending(MainViewController& view, const UploadReport& report);
    static void drawRunEnded(MainViewController& view);
};

MainViewController::Transfers& MainViewController::transfers() {
    if (!transfers_) transfers_ = std::make_shared<Transfers>();
    return *transfers_;
}

// --- the download's report -----------------------------------------------------------------

void MainViewController::observeRemoteFileDownload() {
    if (!firstRegistration(registered_.download)) return;
    connect(&Appwise::shared().bridge(CommTasks::slowTask), &EngineBridge::remoteFileDownload, this,
            [this](const RemoteFileDownloadEvent& event) { Transfers::downloadReported(*this, event); });
}

void MainViewController::recordDownloadRequest(const std::string& uuid, bool underShares) {
    auto& request = transfers().downloadRequests[uuid];
    request.underShares = underShares;
    ++request.pending;
}

void MainViewController::Transfers::downloadReported(MainViewController& view, const RemoteFileDownloadEvent& event) {
    if (!event.result) return Appwise::runAlert(kCommError, kBadResultText, kAlertIcon);
    const std::string& word = *event.result;
    if (word == xfer::kDownloading || word == xfer::kAborted || word == xfer::kError) return;
    if (word != xfer::kReceived)
        return Appwise::runAlert(kCommError, kUnexpectedResultText + word + kAbortedSuffix, kAlertIcon);
    if (!event.data) return Appwise::runAlert(kCommError, kBadCustomDataText, kAlertIcon);
    const auto& payload = *event.data;
    const auto localURL = entryOf<std::string>(payload, xfer::kDownloadLocalURLKey);
    if (!localURL) return Appwise::runAlert(kCommError, kBadLocalURLText, kAlertIcon);
    const fs::path file(*localURL);

    Appwise& appwise = Appwise::shared();
    const auto uuid = entryOf<std::string>(payload, xfer::kUUIDKey);
    // Where the download was asked for decides: a file of another user,
    // finished once the user has left the shares, is still not the user's
    // to write to. A download the view did not ask for goes by the place on
    // show.
    std::optional<bool> underShares;
    if (uuid) underShares = view.transfers().takeDownloadRequest(*uuid);
    if (!underShares.value_or(appwise.remotePath().compareNode(kSharesNodeUUID, 0))) {
        auto metadata = entryOf<ostrelcomm::RemoteItemMetadata>(payload, xfer::kMetadataKey);
        const auto hash = entryOf<std::string>(payload, xfer::kComputedFileHashKey);
        if (hash && metadata) {
            metadata->clearFileHash = *hash;
            systemLog(kHashUpdatedLog + *hash);
        }
        if (uuid) {
            bool makeThumbnail = false;
            if (const auto& listing = appwise.remoteDirectoryInfo())
                for (const auto& item : listing->content)
                    if (item.uuid == *uuid && item.thumbnailsize == 0) makeThumbnail = true;
            writeBack(view, *uuid, std::move(metadata), file, makeThumbnail);
        }
    }

    if (normalFolder(file.parent_path()) == normalFolder(appwise.localPath())) {
        view.setLocalFiles(Directory(appwise.localPath()));
        view.reloadLocalFileList();
    }
}

void MainViewController::Transfers::writeBack(MainViewController& view, const std::string& uuid,
                                              std::optional<ostrelcomm::RemoteItemMetadata> metadata,
                                              const fs::path& file, bool makeThumbnail) {
    const auto modify = [uuid](std::optional<ostrelcomm::RemoteItemMetadata> newMetadata,
                               std::optional<ostrelcomm::RemoteItemThumbnail> thumbnail) {
        if (!newMetadata && !thumbnail) return;
        Appwise::shared().engine(CommTasks::slowTask)->file_modify(uuid, std::nullopt, newMetadata, thumbnail);
    };
    if (!makeThumbnail) return modify(std::move(metadata), std::nullopt);

    Transfers& state = view.transfers();
    if (!state.thumbnailer) state.thumbnailer = std::make_shared<ostrelcomm::SerialQueue>("MainViewThumbnails");
    state.thumbnailer->async([self = QPointer<MainViewController>(&view), file, modify,
                              metadata = std::move(metadata)]() mutable {
        ostrelcomm::ThumbnailResult made = ostrelcomm::createThumnbnail(file);
        runOnMain([self, modify, metadata = std::move(metadata), made = std::move(made)]() mutable {
            // The view that asked is gone: so is the reason to write.
            if (!self) return;
            std::optional<ostrelcomm::RemoteItemThumbnail> thumbnail;
            if (made.thumbnail && made.thumbnailmime)
                thumbnail.emplace(std::move(*made.thumbnailmime), std::move(*made.thumbnail));
            modify(std::move(metadata), std::move(thumbnail));
        });
    });
}

// --- the folder copy's progress ------------------------------------------------------------

void MainViewController::observeItemCopied() {
    if (!firstRegistration(registered_.itemCopied)) return;
    connect(copyDirBridge_.get(), &CopyDirBridge::itemCopied, this, [this](std::int64_t copied, std::int64_t total) {
        // A malformed report reads as 0 of 0: no share of anything.
        activeSlowJobProgress_ = total < 1 ? -1.0F : static_cast<float>(copied) / static_cast<float>(total);
        updateSpinner();
    });
}

void MainViewController::observeCopyCompleted() {
    if (!firstRegistration(registered_.copyCompleted)) return;
    connect(copyDirBridge_.get(), &CopyDirBridge::copyCompleted, this, [this] {
        activeSlowJobProgress_ = -1;
        updateSpinner();
    });
}

void MainViewController::observeCopyError() {
    if (!firstRegistration(registered_.copyError)) return;
    connect(copyDirBridge_.get(), &CopyDirBridge::copyError, this, [this] {
        activeSlowJobProgress_ = -1;
        updateSpinner();
    });
}

// --- the upload strip ----------------------------------------------------------------------

void MainViewController::observeMultipleLocalFileSend() {
    if (!firstRegistration(registered_.upload)) return;
    // Posted on the slow engine's thread under its lock: only copied there.
    observeAppCenter(
        xfer::kMultipleLocalFileSendNotification,
        [self = QPointer<MainViewController>(this)](const ostrelcomm::Notification& notification) {
            runOnMain([self, report = Transfers::UploadReport::of(notification.userInfo)] {
                if (self) Transfers::uploadReported(*self, report);
            });
        });
}

void MainViewController::Transfers::uploadReported(MainViewController& view, const UploadReport& report) {
    if (!report.result || !report.baseDestinationUUID) return;
    const std::string& word = *report.result;
    Appwise& appwise = Appwise::shared();
    if (word != xfer::kSending && *report.baseDestinationUUID == appwise.remotePath().actPathUUID())
        appwise.engine(CommTasks::fastTask)->directory_getInfo(*report.baseDestinationUUID, std::string(kMainWindowSource));

    if (word == xfer::kSending) return drawSending(view, report);
    if (word != xfer::kCompleted && word != xfer::kAborted && word != xfer::kError) return;

    appwise.setFileXferInProgress(false);
    appwise.notifications()->post(kFileXferInProgressNotification);
    if (word == xfer::kCompleted) {
        view.setSendingFileInfoHeight(0);
        view.sendingFileRemainingTime_->setText(text("All files sent"));
        drawRunEnded(view);
    } else if (word == xfer::kAborted) {
        view.sendingFileActionButton_->setText(text("Close"));
        view.sendingFileRemainingTime_->setText(text("Aborted by user"));
        drawRunEnded(view);
    } else {
        if (!report.error) return systemLog("Cannot get error text");
        systemLog("Error: " + *report.error);
        view.sendingFileActionButton_->setText(text("Close"));
        view.sendingFileRemainingTime_->setText(text("Error sending files"));
    }
}

void MainViewController::Transfers::drawSending(MainViewController& view, const UploadReport& report) {
    if (!report.item) return systemLog("Cannot get Item");
    if (!report.total) return systemLog("Cannot get Total");
    if (!report.remainingTime) return systemLog("Cannot get RemainingTime");
    if (!report.bytesSent || !report.bytesToSend || !report.xferRate) return systemLog("Cannot get XferRate");

    view.sendingFileActionButton_->setText(text("Cancel"));
    view.sendingFilesProgress_->setText(text("SendingMultipleFileProgress")
                                            .arg(*report.item)
                                            .arg(*report.total)
                                            .arg(Formatters::byteCount(*report.xferRate)));
    view.sendingFileRemainingTime_->setText(remainingTimeText(*report.remainingTime));
    const int position = barPosition(*report.bytesSent, *report.bytesToSend);
    view.sendingFileProgressBar_->setRange(0, kBarScale);
    view.sendingFileProgressBar_->setValue(position);
    const std::int64_t left = *report.total - *report.item + 1;
    showBadge(view.jobsNumber_, static_cast<int>(left), systemColor(SystemColor::green));
    view.commStatusIndicator_->hide();
    view.progressSpinner_->show();
    view.progressSpinner_->setRange(0, kBarScale);
    view.progressSpinner_->setValue(position);
}

// The activity beside the tabs once a run has ended, the strip aside.
void MainViewController::Transfers::drawRunEnded(MainViewController& view) {
    view.commStatusIndicator_->show();
    view.jobsNumber_->hide();
    paintBadge(view.jobsNumber_, QStringLiteral("..."), systemColor(SystemColor::green));
    view.progressSpinner_->hide();
    view.progressSpinner_->setRange(0, 100);
    view.progressSpinner_->setValue(0);
}

void MainViewController::showTransferStarting() {
    commStatusIndicator_->hide();
    progressSpinner_->show();
    progressSpinner_->setRange(0, 0);
    progressSpinner_->setValue(0);
    setSendingFileInfoHeight(kUploadStripHeight);
    sendingFileProgressBar_->setRange(0, 0);
    sendingFilesProgress_->setText(text("Sending data..."));
    sendingFileRemainingTime_->setText(QStringLiteral("..."));
}

}  // namespace quorvel
