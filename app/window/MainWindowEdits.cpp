// The main window's remote edits: cut, copy and paste through the internal
// clipboard, and the deletion of own items and shares after a confirmation.

#include <QPointer>
#include <QString>

#include <utility>

#include "app/Extensions/Localize.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "app/utils/Pasteboard.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "app/window/MainWindow.h"
#include "jobs/JobStatus.h"
#include "platform/SystemLog.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/RemoteItemType.h"

namespace quorvel {

namespace {

using ostrelcomm::RemoteItemType;
using ostrelcomm::systemLog;
using Operation = Pasteboard::OperationType;

QString localized(const char* key) { return QString::fromStdString(localize(key)); }

// The confirmation of a destructive edit: "Cancel" first, so that it is the
// default, then the button that acts.
AlertQuestion confirmation(const char* message, const char* informative, const char* act) {
    return AlertQuestion{localized(message), localized(informative), AlertIcon::caution,
                         {localized("Cancel"), localized(act)}};
}

constexpr int kActButton = 1;

}  // namespace

// --- clipboard -------------------------------------------------------------------------

void MainWindow::goCutRemoteItems() {
    Appwise& appwise = Appwise::shared();
    Pasteboard& board = appwise.pasteboard();
    const auto& own = appwise.selectedItems().ownElements();
    if (own.empty()) return board.setOperationType(Operation::remoteCut);
    board.holdOwnElements(own, Operation::remoteCut);
}

void MainWindow::goCopyRemoteItems() {
    Appwise& appwise = Appwise::shared();
    Pasteboard& board = appwise.pasteboard();
    const SelectedItems& selected = appwise.selectedItems();
    if (!selected.ownElements().empty()) board.holdOwnElements(selected.ownElements(), Operation::remoteOwnCopy);
    if (!selected.shares().empty()) board.holdShares(selected.shares(), Operation::remoteShareCopy);
}

void MainWindow::goPasteRemoteItems() {
    // Its copies go on from their own list into their own folder; a second
    // paste now would start a second chain beside it.
    if (copyChain_) return;
    Appwise& appwise = Appwise::shared();
    Pasteboard& board = appwise.pasteboard();
    // Taken once: entering another folder while the copies run changes
    // nothing of where they go.
    const std::string destination = appwise.remotePath().actPathUUID();
    switch (board.operationType()) {
        case Operation::none:
            return;
        case Operation::remoteCut:
            remoteCutItems(destination);
            break;
        case Operation::remoteOwnCopy:
        case Operation::remoteShareCopy:
            copyChain_ = CopyChain{board.operationType(), destination, board.ownElementsIterator(),
                                   board.sharesIterator(), std::nullopt, false};
            remoteCopyItems();
            break;
    }
    board.clear();
}

void MainWindow::remoteCutItems(const std::string& destination) {
    Appwise& appwise = Appwise::shared();
    Pasteboard& board = appwise.pasteboard();
    const auto& fast = appwise.engine(CommTasks::fastTask);
    while (auto item = board.ownElementsIterator().next()) {
        switch (item->type) {
            case RemoteItemType::ROOT:
                systemLog("Cut of root dir is impossible!");
                break;
            case RemoteItemType::FILE:
                fast->file_modify(item->uuid, destination, std::nullopt, std::nullopt);
                break;
            case RemoteItemType::DIRECTORY:
                fast->directory_modify(item->uuid, destination, std::nullopt, std::nullopt);
                break;
        }
    }
    board.clear();
}

// --- the copy chain --------------------------------------------------------------------

void MainWindow::remoteCopyItems() {
    if (!copyChain_) return;
    CopyChain& chain = *copyChain_;
    Appwise& appwise = Appwise::shared();

    std::optional<std::string> uuid;
    RemoteItemType type = RemoteItemType::FILE;
    std::string name;
    if (chain.kind == Operation::remoteOwnCopy) {
        if (auto item = chain.own.next()) {
            uuid = item->uuid;
            type = item->type;
            name = item->metadata.name;
        }
    } else if (auto item = chain.shares.next()) {
        uuid = item->itemuuid;
        type = item->itemtype;
        name = item->metadata.name;
    }

    if (!uuid) {
        appwise.engine(CommTasks::fastTask)->directory_getInfo(chain.destination, std::string(kMainWindowSource));
        return endCopyChain();
    }
    switch (type) {
        case RemoteItemType::ROOT:
            systemLog("Copy of root dir is impossible!");
            return endCopyChain();
        case RemoteItemType::FILE:
            chain.fileCopyJob = appwise.engine(CommTasks::slowTask)->file_copy(*uuid, chain.destination);
            return;
        case RemoteItemType::DIRECTORY:
            chain.folderCopy = true;
            viewController_->copyDirJob()->copy(name, *uuid, chain.destination);
            return;
    }
}

void MainWindow::endCopyChain() {
    copyChain_.reset();
    followState();
}

void MainWindow::slowQueueChanged(const QueueChanges& changes) {
    if (!copyChain_ || !copyChain_->fileCopyJob) return;
    const auto found = changes.jobs.find(*copyChain_->fileCopyJob);
    if (found == changes.jobs.end()) return;
    // A job the queue no longer knows says nothing more: the chain would
    // wait for ever.
    if (!found->second) return endCopyChain();
    const ostrelcomm::JobStatus status = found->second->status;
    if (!ostrelcomm::isFinished(status)) return;
    if (status != ostrelcomm::JobStatus::completed) return endCopyChain();
    copyChain_->fileCopyJob.reset();
    remoteCopyItems();
}

void MainWindow::folderCopyCompleted() {
    if (!copyChain_ || !copyChain_->folderCopy) return;
    copyChain_->folderCopy = false;
    remoteCopyItems();
}

// --- deletion --------------------------------------------------------------------------

void MainWindow::deleteItem() {
    const SelectedItems& selected = Appwise::shared().selectedItems();
    if (selected.ownElements().empty()) {
        if (!selected.shares().empty()) goRemoveShare();
        return;
    }
    // The second question only once the first is answered.
    const QPointer<MainWindow> self(this);
    goDeleteRemoteItems([self] {
        if (self && !Appwise::shared().selectedItems().shares().empty()) self->goRemoveShare();
    });
}

void MainWindow::goDeleteRemoteItems(std::function<void()> then) {
    Appwise::shared().alertPresenter().ask(
        confirmation("DeleteItemConfirm", "DeleteItemConfirmMsg", "Delete"), this,
        [then = std::move(then)](int button) {
            if (button == kActButton) {
                Appwise& appwise = Appwise::shared();
                const auto& fast = appwise.engine(CommTasks::fastTask);
                // The selection as it is now, when the user has answered.
                for (const auto& item : appwise.selectedItems().ownElements()) {
                    switch (item.type) {
                        case RemoteItemType::ROOT:
                            systemLog("Invalid item type - Cannot delete root dir!");
                            break;
                        case RemoteItemType::FILE:
                            fast->file_delete(item.uuid);
                            break;
                        case RemoteItemType::DIRECTORY:
                            fast->directory_delete(item.uuid, true, std::nullopt);
                            break;
                    }
                }
            }
            if (then) then();
        });
}

void MainWindow::goRemoveShare() {
    Appwise::shared().alertPresenter().ask(confirmation("DeleteShareConfirm", "DeleteShareConfirmMsg", "Remove"),
                                           this, [](int button) {
                                               if (button != kActButton) return;
                                               Appwise& appwise = Appwise::shared();
                                               const auto& fast = appwise.engine(CommTasks::fastTask);
                                               for (const auto& item : appwise.selectedItems().shares())
                                                   fast->shares_removeShare(item.shareid);
                                           });
}

}  // namespace quorvel
