#include "app/window/MainViewController.h"

namespace quorvel {

// Filled in with the browsing observers.
void MainViewController::observeFolderResults() {}
void MainViewController::observeEmptyQueues() {}
void MainViewController::observeShowFullLog() {}
void MainViewController::observeLocalFolderRefresh() {}
void MainViewController::observeAuthentication() {}
void MainViewController::observeRefresh() {}
void MainViewController::observePasteboard() {}
void MainViewController::observeSelectAll() {}

}  // namespace quorvel
