// Browsing: the path bars, the double clicks of both tables, and the
// observers that list the remote folder on show and follow the application's
// own events (login state, clipboard, refresh, select all, the local folder).

#include <QFile>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QTableView>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/Extensions/Image.h"
#include "app/Extensions/SystemColor.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/Pasteboard.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/RunOnMain.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "app/window/PathBar.h"
#include "jobs/VirtualPath.h"
#include "platform/SystemLog.h"
#include "shares/ShareNotifications.h"
#include "tree/TreeNotifications.h"

namespace quorvel {

namespace {

using ostrelcomm::VirtualPath;
namespace tree = ostrelcomm::tree;
namespace shares = ostrelcomm::shares;

constexpr char kRootNodeImage[] = "RootNodeIcon";

// The program's own folder image, whatever the desktop's theme, in the
// colour of the text: the path bars look as the remote rows do on every
// machine, on light and dark palettes.
QImage folderImage() {
    return tintedImage(namedImage(QStringLiteral("GenericFolderIcon")), systemColor(SystemColor::label));
}

// Whether the remote pane shows the users who share with the user or one of
// them's items. A path whose first identifier cannot be read is not.
bool underSharesNode(const VirtualPath& path) {
    try {
        return path.getUUIDFromIndex(0) == kSharesNodeUUID;
    } catch (const VirtualPath::PathError&) {
        return false;
    }
}

// One item per level of a local folder, "/" first.
std::vector<PathBar::Item> localPathItems(const std::filesystem::path& folder) {
    std::vector<PathBar::Item> items;
    const QImage image = folderImage();
    std::filesystem::path prefix;
    for (const auto& part : folder) {
        prefix /= part;
        if (part.empty()) continue;
        const QString title = part == part.root_directory() ? QStringLiteral("/") : QFile::decodeName(part.c_str());
        items.push_back({title, image, prefix.native()});
    }
    return items;
}

}  // namespace

// --- path bars -----------------------------------------------------------------------

void MainViewController::setLocalPath(const PathBar::Item* clicked) {
    if (!clicked || !clicked->url) return;
    Appwise::shared().setLocalPath(std::filesystem::path(*clicked->url));
    restartDirectoryMonitor();
}

void MainViewController::setRemotePath(const PathBar::Item* clicked) {
    if (!clicked) {
        ostrelcomm::systemLog("No clicked path...");
        return;
    }
    if (!clicked->url) {
        ostrelcomm::systemLog("No URL...");
        return;
    }
    Appwise& appwise = Appwise::shared();
    try {
        const auto url = VirtualPath::URL::make(*clicked->url);
        if (!url) throw VirtualPath::PathError(VirtualPath::pathException::unableToBuildURL);
        appwise.remotePath().truncatePath(*url);
    } catch (const VirtualPath::PathError&) {
        ostrelcomm::systemLog("Unable to correctly truncate path!");
        return;
    }
    appwise.notifications()->post(kActionRefreshNotification);
}

void MainViewController::updateRemotePathView(bool visible) {
    // Drawn from a copy that announces nothing: drawing the path is no
    // change of it.
    const VirtualPath path(Appwise::shared().remotePath().serialize());
    std::vector<PathBar::Item> items;
    try {
        const QImage folder = folderImage();
        const auto names = path.pathComponents();
        for (std::size_t level = 0; level <= names.size(); ++level) {
            VirtualPath prefix(path.serialize());
            prefix.truncatePath(static_cast<long long>(level));
            const VirtualPath::URL url = prefix.getURL();
            QString title;
            QImage image;
            if (level == 0) {
                const auto parts = url.pathComponents();
                title = parts.empty() ? QString() : QString::fromStdString(parts.back());
                // The bar may be disabled while a listing is on its way: the
                // image takes the colour of the enabled text all the same.
                const QColor tint = remotePathView_->palette().color(QPalette::Active, QPalette::WindowText);
                image = tintedImage(namedImage(QString::fromLatin1(kRootNodeImage)), tint);
            } else {
                title = QString::fromStdString(names[level - 1]);
                image = folder;
            }
            items.push_back({title, image, url.string()});
        }
    } catch (const VirtualPath::PathError&) {
        ostrelcomm::systemLog("Unable to set remote path");
        return;
    }
    remotePathView_->setItems(std::move(items));
    if (visible) {
        remotePathView_->setEnabled(true);
        remotePathView_->show();
    } else {
        remotePathView_->hide();
    }
}

void MainViewController::restartDirectoryMonitor() {
    directoryMonitor_->stopMonitoring();
    directoryMonitor_->startMonitoring(Appwise::shared().localPath());
}

// --- double clicks ---------------------------------------------------------------------

void MainViewController::localTableViewDoubleClick(int row) {
    if (row < 0 || !directoryItems_ || static_cast<std::size_t>(row) >= directoryItems_->size()) return;
    const Metadata item = (*directoryItems_)[static_cast<std::size_t>(row)];
    if (item.isFolder && !item.isApp) {
        Appwise::shared().setLocalPath(item.url);
        restartDirectoryMonitor();
        return;
    }
    sendLocalItemsToRemote();
}

void MainViewController::remoteTableViewDoubleClick(int row) {
    const auto& content = remoteItemsTableContent_.content;
    if (row < 0 || static_cast<std::size_t>(row) >= content.size()) return;
    const auto item = content[static_cast<std::size_t>(row)];
    Appwise& appwise = Appwise::shared();
    switch (item.type) {
        case TableRemoteItemType::ROOT: return;
        case TableRemoteItemType::FILE: receiveFileFromRemote(); return;
        case TableRemoteItemType::DIRECTORY: appwise.remotePath().append(item.name, item.uuid); break;
        case TableRemoteItemType::PEER: {
            // The list may have been refreshed since the row was drawn: the
            // row holds the peer's identifier too.
            const auto peer = sharingPeers_.find(item.name);
            appwise.remotePath().append(item.name, peer != sharingPeers_.end() ? peer->second : item.uuid);
            break;
        }
        case TableRemoteItemType::SHARESDIR:
            appwise.remotePath().append(localize("SHARES"), kSharesNodeUUID);
            break;
    }
    appwise.notifications()->post(kActionRefreshNotification);
    updateRemotePathView(true);
}

// --- engine observers ------------------------------------------------------------------

void MainViewController::refreshCurrentFolder() {
    const Appwise& appwise = Appwise::shared();
    appwise.engine(CommTasks::fastTask)->directory_getInfo(appwise.remotePath().actPathUUID(), kMainWindowSource);
}

void MainViewController::showRemotePane() {
    updateRemotePathView(true);
    reloadRemoteFileList();
}

void MainViewController::clearRemoteSelection() {
    SelectedItems& selected = Appwise::shared().selectedItems();
    selected.setOwnElements({});
    selected.setShares({});
}

void MainViewController::observeFolderResults() {
    if (!firstRegistration(registered_.folderResults)) return;
    EngineBridge& fast = Appwise::shared().bridge(CommTasks::fastTask);

    // Listings asked for by a sheet (rename, information) are theirs.
    connect(&fast, &EngineBridge::queryRemoteDirectoryContent, this, [this](const DirectoryContentEvent& event) {
        if (event.source && *event.source != kMainWindowSource) return;
        if (event.result != tree::kReceived) return;
        if (!event.data || !*event.data) {
            ostrelcomm::systemLog(event.customData == CustomDataShape::absent
                                      ? "newRemoteDirectoryContentAvailable observer: Unable to decode notification data"
                                      : "newRemoteDirectoryContentAvailable observer: Unreadable remoteDirInfo");
            return;
        }
        clearRemoteSelection();
        Appwise::shared().setRemoteDirectoryInfo(*event.data);
        showRemotePane();
    });

    connect(&fast, &EngineBridge::queryForSharingPeers, this, [this](const SharingPeersEvent& event) {
        if (!event.result || *event.result == shares::kStarted) return;
        sharingPeers_.clear();
        if (*event.result == shares::kError || *event.result == tree::kAborted) {
            reloadRemoteFileList();
            return;
        }
        if (!event.data) return;
        // Two peers of one name: the later one stays.
        for (const auto& peer : *event.data) sharingPeers_.insert_or_assign(peer.peerUsername, peer.peerUUID);
        showRemotePane();
    });

    connect(&fast, &EngineBridge::querySharedItems, this, [this](const SharedItemsEvent& event) {
        if (!event.result || *event.result == shares::kStarted) return;
        sharedItems_.clear();
        if (*event.result == shares::kError || *event.result == tree::kAborted) {
            reloadRemoteFileList();
            return;
        }
        if (!event.data) return;
        sharedItems_ = *event.data;
        showRemotePane();
    });

    // Only the folders this view created: a sheet's creation is the sheet's.
    connect(&fast, &EngineBridge::newRemoteDirectoryCreated, this, [this](const DirectoryCreatedEvent& event) {
        if (event.result != tree::kCreated) return;
        if (event.customData != CustomDataShape::dictionary) {
            ostrelcomm::systemLog("newRemoteDirectoryCreated observer: Unable to decode notification data");
            return;
        }
        if (event.source != kMainWindowSource) return;
        refreshCurrentFolder();
    });

    connect(&fast, &EngineBridge::filePropertiesModification, this, [this](const FileModificationEvent& event) {
        if (event.result == tree::kModified || event.result == tree::kCopied) refreshCurrentFolder();
    });

    // Deletions come in runs: the folder is listed once, when a queue has
    // run empty.
    connect(&fast, &EngineBridge::deleteFile, this, [](const FileDeletedEvent& event) {
        if (event.result == tree::kDeleted) Appwise::shared().setRefreshRemoteContent(true);
    });

    connect(&fast, &EngineBridge::removeShareTerminated, this, [](const RemoveShareEvent& event) {
        if (event.result == shares::kRemoved) Appwise::shared().notifications()->post(kActionRefreshNotification);
    });

    connect(&fast, &EngineBridge::directoryDeleted, this, [](const DirectoryDeletedEvent& event) {
        if (event.result == tree::kDeleted) Appwise::shared().setRefreshRemoteContent(true);
    });

    connect(&fast, &EngineBridge::directoryPropertiesModified, this, [this](const DirectoryModifiedEvent& event) {
        if (event.result == tree::kModified) refreshCurrentFolder();
    });
}

void MainViewController::observeEmptyQueues() {
    if (!firstRegistration(registered_.emptyQueues)) return;
    Appwise& appwise = Appwise::shared();
    const auto deferredRefresh = [this] {
        Appwise& shared = Appwise::shared();
        if (!shared.refreshRemoteContent()) return;
        shared.setRefreshRemoteContent(false);
        refreshCurrentFolder();
    };
    connect(&appwise.bridge(CommTasks::slowTask), &EngineBridge::jobQueueEmpty, this, deferredRefresh);
    connect(&appwise.bridge(CommTasks::fastTask), &EngineBridge::jobQueueEmpty, this, deferredRefresh);
}

// --- application observers -------------------------------------------------------------

void MainViewController::observeApplication(const char* name, std::function<void(MainViewController&)> handler) {
    const QPointer<MainViewController> self(this);
    observeAppCenter(name, [self, handler](const ostrelcomm::Notification&) {
        if (onMainThread()) {
            if (self) handler(*self);
            return;
        }
        runOnMain([self, handler] {
            if (self) handler(*self);
        });
    });
}

void MainViewController::observeAppCenter(const char* name, ostrelcomm::NotificationCenter::Observer observer) {
    if (!appCenter_) appCenter_ = Appwise::shared().notifications();
    appTokens_.push_back(appCenter_->addObserver(name, std::move(observer)));
}

void MainViewController::observeShowFullLog() {
    if (!firstRegistration(registered_.showFullLog)) return;
    observeApplication(
        kShowFullLogChangedNotification,
        [](MainViewController& view) { view.viewTypeBtn_->setVisible(Appwise::shared().setup().showFullLog); });
}

void MainViewController::observeLocalFolderRefresh() {
    if (!firstRegistration(registered_.localFolderRefresh)) return;
    observeApplication(
        kRefreshLocalFilesListNotification,
        [](MainViewController& view) {
            const std::filesystem::path folder = Appwise::shared().localPath();
            view.localPathView_->setItems(localPathItems(folder));
            view.localFiles_.emplace(folder);
            view.reloadLocalFileList();
        });
}

void MainViewController::observeAuthentication() {
    if (!firstRegistration(registered_.authentication)) return;
    const QPointer<MainViewController> self(this);
    // Posted on an engine's thread with its lock held: the state is read
    // there, the rest waits for the main thread. A login changes nothing
    // here: whoever logged in asks for the listing.
    observeAppCenter(kAuthenticationStatusChangedNotification, [self](const ostrelcomm::Notification&) {
        if (Appwise::shared().authenticated()) return;
        runOnMain([self] {
            if (!self) return;
            MainViewController& view = *self;
            Appwise& appwise = Appwise::shared();
            appwise.remotePath().clean();
            appwise.setRemoteDirectoryInfo(nullptr);
            view.sharedItems_.clear();
            view.sharingPeers_.clear();
            // What was selected or held of the remote tree goes with the
            // session: shared items carry their opened keys, and so does
            // the password.
            view.clearRemoteSelection();
            Pasteboard& pasteboard = appwise.pasteboard();
            pasteboard.clear();
            pasteboard.ownElementsIterator() = {};
            pasteboard.sharesIterator() = {};
            appwise.setPassword(std::nullopt);
            view.updateRemotePathView(false);
            view.reloadRemoteFileList();
        });
    });
}

void MainViewController::observeRefresh() {
    if (!firstRegistration(registered_.refresh)) return;
    // Also posted on an engine's thread: the listing is asked for from the
    // main thread, where jobs are queued.
    observeApplication(
        kActionRefreshNotification,
        [](MainViewController& view) {
            view.remotePathView_->setEnabled(false);
            view.clearRemoteSelection();
            Appwise& appwise = Appwise::shared();
            VirtualPath& path = appwise.remotePath();
            const auto& fast = appwise.engine(CommTasks::fastTask);
            if (underSharesNode(path)) {
                if (path.getPathElements().size() == 2)
                    fast->shares_queryForSharingPeer();
                else
                    fast->shares_queryForSharedItems(path.actPathUUID());
                return;
            }
            const std::string folder = path.actPathUUID();
            if (folder == "root") path.clean();
            fast->directory_getInfo(folder, kMainWindowSource);
        });
}

void MainViewController::observePasteboard() {
    if (!firstRegistration(registered_.pasteboard)) return;
    observeApplication(kPasteboardChangedNotification,
                       [](MainViewController& view) { view.reloadRemoteFileList(); });
}

void MainViewController::observeSelectAll() {
    if (!firstRegistration(registered_.selectAll)) return;
    observeApplication(
        kSelectAllNotification,
        [](MainViewController& view) {
            if (view.selectedTable_ == SelectedTable::localItems)
                view.localFilesTable_->selectAll();
            else if (view.selectedTable_ == SelectedTable::remoteItems)
                view.remoteFilesTable_->selectAll();
        });
}

}  // namespace quorvel
