#include "app/window/MainViewController.h"

namespace quorvel {

// Filled in with the downloads, the uploads and the queue observers.
void MainViewController::observeJobQueues() {}
void MainViewController::observeFolderTree() {}
void MainViewController::observeTransferActions() {}

}  // namespace quorvel
