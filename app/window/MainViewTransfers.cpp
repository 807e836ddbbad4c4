#include "app/window/MainViewController.h"

namespace quorvel {

// Filled in with the transfer observers.
void MainViewController::observeRemoteFileDownload() {}
void MainViewController::observeItemCopied() {}
void MainViewController::observeCopyCompleted() {}
void MainViewController::observeCopyError() {}
void MainViewController::observeMultipleLocalFileSend() {}
void MainViewController::recordDownloadRequest(const std::string& /*uuid*/, bool /*underShares*/) {}

}  // namespace quorvel
