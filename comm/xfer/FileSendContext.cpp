#include "xfer/FileSendContext.h"

#include <algorithm>
#include <utility>

#include "http/Http.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {

FileSendContext::FileSendContext(const std::string& httpURL, std::filesystem::path localURL_,
                                 std::optional<std::string> remoteParentUUID_, std::int64_t fileSize_,
                                 RemoteItemMetadata metadata_, std::optional<RemoteItemThumbnail> thumbnail_,
                                 bool isPackage_, std::int32_t blockSize_, std::optional<std::string> source_)
    : CommJobsContext(JobsSteps::fileSend_prepare, Http::forJob(httpURL), JobsSteps::fileSend_abort),
      localURL(std::move(localURL_)),
      remoteParentUUID(std::move(remoteParentUUID_)),
      fileSize(fileSize_),
      blockSize(blockSize_),
      isPackage(isPackage_),
      metadata(std::move(metadata_)),
      thumbnail(std::move(thumbnail_)),
      source(std::move(source_)) {
    resumeStatus = JobsSteps::fileSend_resume;
}

std::uint64_t FileSendContext::blockBegin() const { return blockNum * static_cast<std::uint64_t>(blockSize); }

std::uint64_t FileSendContext::blockEnd() const {
    const std::uint64_t size = fileSize > 0 ? static_cast<std::uint64_t>(fileSize) : 0;
    const std::uint64_t end = std::min((blockNum + 1) * static_cast<std::uint64_t>(blockSize), size);
    return end == 0 ? 0 : end - 1;
}

void FileSendContext::prepareResume(const std::string& httpURL) {
    httpSession = Http::forJob(httpURL);
    // The resumed job may find its block on a worker again, whatever the
    // failed run had tried.
    preparedAgain.reset();
}

JobNotificationData FileSendContext::getNotificationData(JobStatus status) {
    const char* result = nullptr;
    switch (status) {
        case JobStatus::inProgress: result = xfer::kSending; break;
        case JobStatus::completed: result = xfer::kSent; break;
        case JobStatus::error: result = xfer::kError; break;
        case JobStatus::aborted: result = xfer::kAborted; break;
        default: break;
    }
    xfer::LocalFileUploadPayload payload{
        {xfer::kSourceKey, source.value_or("")},
        {xfer::kJobIDKey, jobID.value_or("")},
        {xfer::kLocalURLKey, localURL},
        {xfer::kRemoteParentUUIDKey, remoteParentUUID.value_or(xfer::kNoRemoteParent)},
        {xfer::kUUIDKey, itemUUID.value_or("")},
        {xfer::kBlockSizeKey, sentBlockSize},
        {xfer::kBlockNumKey, blockNum},
        {xfer::kTotalBlocksKey, totalBlocks},
        {xfer::kIsResumedKey, isResumed},
    };
    isResumed = false;
    if (status == JobStatus::completed || status == JobStatus::error || status == JobStatus::aborted)
        prefetch.cancel();
    if (result == nullptr) return {std::nullopt, "", std::nullopt, {}};
    return {xfer::kLocalFileUploadNotification, result, httpError, std::move(payload)};
}

}  // namespace ostrelcomm
