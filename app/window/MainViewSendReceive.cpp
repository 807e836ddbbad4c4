// The main view's transfers: the upload of the local selection, the
// download of the remote one (files at once, folders through their tree),
// the upload strip's button, and the observers that keep the jobs list in
// step with both engines' queues.

#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/RunOnMain.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "encoding/Encoding.h"
#include "platform/SystemLog.h"
#include "tree/RemoteDirInfo.h"
#include "tree/TreeNotifications.h"
#include "xfer/SafeLocalFileName.h"

namespace quorvel {

namespace {

namespace fs = std::filesystem;
using ostrelcomm::RemoteDirectoryBranch;

// The tag of a folder download's tree query.
constexpr char kReceiveFileFromRemoteSource[] = "receiveFileFromRemote";
constexpr char kTreeUndecodable[] = "getDirectoryTreeTerminated observer: Unable to decode notification data";

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// A local name as the user can read it: its UTF-8 as it is, any byte that is
// not part of it as "\xHH", so that a name in another encoding is still told
// apart from its neighbours.
std::string readableName(const std::string& name) {
    if (ostrelcomm::isValidUtf8(name)) return name;
    std::string shown;
    std::size_t i = 0;
    while (i < name.size()) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (i + length <= name.size() && ostrelcomm::isValidUtf8(std::string_view(name).substr(i, length))) {
            shown.append(name, i, length);
            i += length;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", lead);
        shown += escaped;
        ++i;
    }
    return shown;
}

// An item the upload refused, named from the local folder on show when it
// lies in it.
std::string refusedItemName(const fs::path& item, const fs::path& localFolder) {
    const fs::path relative = item.lexically_relative(localFolder);
    const bool inside = !relative.empty() && *relative.begin() != "..";
    return readableName((inside ? relative : item).string());
}

}  // namespace

// --- observers -----------------------------------------------------------------------------

// A turn that added or dropped jobs takes the engine's whole list once; any
// other turn only the records of the jobs that changed, so that a running
// transfer never has the queue copied at each of its blocks.
void MainViewController::observeJobQueues() {
    if (!firstRegistration(registered_.jobQueues)) return;
    Appwise& appwise = Appwise::shared();
    for (const CommTasks task : {CommTasks::slowTask, CommTasks::fastTask}) {
        EngineBridge* bridge = &appwise.bridge(task);
        connect(bridge, &EngineBridge::queueChanged, this, [this, bridge, task](const QueueChanges& changes) {
            if (changes.listChanged) {
                jobsQueueCopied(task, jobsListCopy(*bridge->engine()->queue()));
                return;
            }
            for (const auto& [jobID, job] : changes.jobs) jobChanged(task, jobID, job);
        });
    }
}

void MainViewController::observeFolderTree() {
    if (!firstRegistration(registered_.folderTree)) return;
    connect(&Appwise::shared().bridge(CommTasks::slowTask), &EngineBridge::getDirectoryTreeTerminated, this,
            [this](const DirectoryTreeEvent& event) {
                if (event.result != ostrelcomm::tree::kAvailable) return;
                if (event.customData != CustomDataShape::dictionary) {
                    ostrelcomm::systemLog(kTreeUndecodable);
                    return;
                }
                if (event.source != kReceiveFileFromRemoteSource) return;
                if (!event.data || !event.data->topUUID || !event.data->tree) return;
                const std::string& topUUID = *event.data->topUUID;
                // The folder is made under its own name when the listing on
                // show has it; its branches go into the local folder itself
                // otherwise.
                fs::path destination = Appwise::shared().localPath();
                if (const auto& listing = Appwise::shared().remoteDirectoryInfo()) {
                    const auto top = std::find_if(listing->content.begin(), listing->content.end(),
                                                  [&](const auto& item) { return item.uuid == topUUID; });
                    if (top != listing->content.end())
                        destination /= ostrelcomm::safeLocalFileName(top->metadata.name, top->uuid);
                }
                for (const auto& branch : *event.data->tree)
                    if (branch) receiveDirFromRemote(*branch, destination);
            });
}

void MainViewController::observeTransferActions() {
    if (!firstRegistration(registered_.transferActions)) return;
    const QPointer<MainViewController> self(this);
    const auto act = [self](void (MainViewController::*action)()) {
        return [self, action](const ostrelcomm::Notification&) {
            // The toolbar and the menus post on the main thread; anyone
            // else's request waits for it.
            if (onMainThread()) {
                if (self) (self.data()->*action)();
                return;
            }
            runOnMain([self, action] {
                if (self) (self.data()->*action)();
            });
        };
    };
    observeAppCenter(kActionReceiveFileFromRemoteNotification, act(&MainViewController::receiveFileFromRemote));
    observeAppCenter(kActionSendFileToRemoteNotification, act(&MainViewController::sendLocalItemsToRemote));
}

// --- upload ------------------------------------------------------------------------------------

void MainViewController::sendLocalItemsToRemote() {
    Appwise& appwise = Appwise::shared();
    // As the toolbar offers no upload then: a second run would clear the
    // running one's list, and the shares node and a peer are no folders of
    // the user's to upload into.
    if (appwise.fileXferInProgress() || !multipleLocalToRemote_->isIdle()) {
        ostrelcomm::systemLog("Upload refused: another transfer is in progress");
        return;
    }
    if (appwise.remotePath().compareNode(kSharesNodeUUID, 0)) {
        ostrelcomm::systemLog("Upload refused: the remote pane shows shared items");
        return;
    }

    multipleLocalToRemote_->clearSource();
    bool accepted = false;
    if (directoryItems_) {
        std::vector<int> rows;
        for (const QModelIndex& index : localFilesTable_->selectionModel()->selectedRows()) rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        for (const int row : rows) {
            if (row < 0 || static_cast<std::size_t>(row) >= directoryItems_->size()) continue;
            const Metadata& item = (*directoryItems_)[static_cast<std::size_t>(row)];
            if (item.isApp) continue;
            if (multipleLocalToRemote_->appendToSource(item.url)) accepted = true;
        }
    }

    const std::vector<fs::path> refused = multipleLocalToRemote_->refusedItems();
    if (!refused.empty()) {
        std::string names = localize("UploadRefusedItemsMsg");
        for (const auto& item : refused) names += "\n" + refusedItemName(item, appwise.localPath());
        Appwise::runAlert("UploadRefusedItems", names, "");
    }
    if (!accepted) return;

    appwise.setFileXferInProgress(true);
    appwise.notifications()->post(kFileXferInProgressNotification);
    showTransferStarting();
    // A press of the strip's button while no run went on (a resumed
    // transfer's) would otherwise end this run at its first step.
    multipleLocalToRemote_->setAbortOperation(false);
    multipleLocalToRemote_->startTransfer(appwise.localPath(), appwise.remotePath(),
                                          appwise.setup().sendingConflictBehaviour);
}

void MainViewController::sendingFileActionButton() {
    if (multipleLocalToRemote_->isIdle() && !Appwise::shared().fileXferInProgress()) {
        setSendingFileInfoHeight(0);
        return;
    }
    if (multipleLocalToRemote_->abortOperation()) return;
    multipleLocalToRemote_->setAbortOperation(true);
    sendingFileRemainingTime_->setText(sendingFileRemainingTime_->text() + text(" (aborting)"));
}

// --- download ----------------------------------------------------------------------------------

void MainViewController::receiveFileFromRemote() {
    Appwise& appwise = Appwise::shared();
    const auto& slow = appwise.engine(CommTasks::slowTask);
    const fs::path destination = appwise.localPath();
    // Copies: queuing a job may announce changes that reach the selection.
    if (appwise.remotePath().compareNode(kSharesNodeUUID, 0)) {
        const std::vector<ostrelcomm::SharedItem> shares = appwise.selectedItems().shares();
        for (const auto& item : shares)
            if (slow->fileReceive_add(item.itemuuid, destination, item.metadata.name))
                recordDownloadRequest(item.itemuuid, true);
        return;
    }
    const std::vector<ostrelcomm::RemoteItemInfo> own = appwise.selectedItems().ownElements();
    for (const auto& item : own) {
        switch (item.type) {
            case ostrelcomm::RemoteItemType::FILE:
                if (slow->fileReceive_add(item.uuid, destination, item.metadata.name))
                    recordDownloadRequest(item.uuid, false);
                break;
            case ostrelcomm::RemoteItemType::DIRECTORY:
                slow->directory_getTree(item.uuid, false, "ALL", kReceiveFileFromRemoteSource);
                break;
            case ostrelcomm::RemoteItemType::ROOT:
                return;
        }
    }
}

// Walked with a list of its own rather than by recursion: a tree from the
// server may be of any depth. Branches go in the tree's order, each folder's
// items before its next sibling.
void MainViewController::receiveDirFromRemote(const RemoteDirectoryBranch& item, const fs::path& destURL) {
    const auto& slow = Appwise::shared().engine(CommTasks::slowTask);
    std::vector<std::pair<const RemoteDirectoryBranch*, fs::path>> pending;
    pending.emplace_back(&item, destURL);
    while (!pending.empty()) {
        auto [branch, destination] = std::move(pending.back());
        pending.pop_back();
        switch (branch->type) {
            case RemoteDirectoryBranch::LeafType::file:
                // The download makes the file's own name safe, and the
                // folders on the way.
                if (slow->fileReceive_add(branch->uuid, destination, branch->metadata.name))
                    recordDownloadRequest(branch->uuid, false);
                break;
            case RemoteDirectoryBranch::LeafType::directory: {
                // A folder's name comes from whoever shares it ("..",
                // "a/b", "/etc"): one entry of the folder above, always.
                const fs::path below = destination / ostrelcomm::safeLocalFileName(branch->metadata.name, branch->uuid);
                for (auto child = branch->branches.rbegin(); child != branch->branches.rend(); ++child)
                    if (*child) pending.emplace_back(child->get(), below);
                break;
            }
            case RemoteDirectoryBranch::LeafType::unknown:
                break;
        }
    }
}

}  // namespace quorvel
