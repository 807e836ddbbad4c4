#include "app/window/MainViewController.h"

namespace quorvel {

// The order of registration is the order in which observers of one
// notification run: keep it. Each observer registers once of itself, so a
// second call adds nothing.
void MainViewController::commRelatedObservers() {
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
