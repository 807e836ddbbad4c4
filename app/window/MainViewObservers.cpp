#include "app/window/MainViewController.h"

namespace quorvel {

// The order of registration is the order in which observers of one
// notification run: keep it.
void MainViewController::commRelatedObservers() {
    if (commObserversRegistered_) {
        return;
    }
    commObserversRegistered_ = true;
    observeFolderResults();
    observeRemoteFileDownload();
    observeEmptyQueues();
    observeItemCopied();
    observeCopyCompleted();
    observeCopyError();
    observeJobQueues();
    observeFolderTree();
}

void MainViewController::appRelatedObservers() {
    if (appObserversRegistered_) {
        return;
    }
    appObserversRegistered_ = true;
    observeShowFullLog();
    observeLocalFolderRefresh();
    observeAuthentication();
    observeRefresh();
    observeTransferActions();
    observePasteboard();
    observeSelectAll();
    observeMultipleLocalFileSend();
}

}  // namespace quorvel
