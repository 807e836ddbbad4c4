#include "xfer/FileReceiveContext.h"

#include <exception>
#include <utility>

#include "encoding/Encoding.h"
#include "http/Http.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {

FileReceiveContext::FileReceiveContext(const std::string& httpURL, std::string remoteUUID_,
                                       std::filesystem::path localURL_, std::optional<std::string> source_)
    : CommJobsContext(JobsSteps::fileReceive_prepare, Http::forJob(httpURL), JobsSteps::fileReceive_abort),
      localURL(std::move(localURL_)),
      remoteUUID(std::move(remoteUUID_)),
      fileKey(CipherAlgorithm::aes256, 32),
      umk(CipherAlgorithm::aes256, 32),
      source(std::move(source_)) {}

std::shared_ptr<FileReceiveContext> FileReceiveContext::make(const std::string& httpURL, std::string remoteUUID,
                                                             std::filesystem::path localURL,
                                                             std::optional<std::string> source) {
    try {
        return std::shared_ptr<FileReceiveContext>(
            new FileReceiveContext(httpURL, std::move(remoteUUID), std::move(localURL), std::move(source)));
    } catch (const std::exception&) {
        return nullptr;
    }
}

JobNotificationData FileReceiveContext::getNotificationData(JobStatus status) {
    if (status == JobStatus::completed || status == JobStatus::error || status == JobStatus::aborted)
        writer.cancel();
    switch (status) {
        case JobStatus::inProgress:
        case JobStatus::completed: break;
        case JobStatus::error: return {xfer::kRemoteFileDownloadNotification, xfer::kError, httpError, {}};
        case JobStatus::aborted: return {xfer::kRemoteFileDownloadNotification, xfer::kAborted, httpError, {}};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
    xfer::RemoteFileDownloadPayload payload{
        {xfer::kSourceKey, source.value_or("")},
        {xfer::kDownloadLocalURLKey, destinationURL ? destinationURL->string() : std::string(xfer::kNoLocalURL)},
        {xfer::kUUIDKey, remoteUUID},
        {xfer::kDownloadBlockNumKey, blockNum},
        {xfer::kDownloadTotalBlocksKey,
         expectedChunks ? static_cast<std::int64_t>(expectedChunks->size()) : std::int64_t{1}},
    };
    if (status == JobStatus::inProgress)
        return {xfer::kRemoteFileDownloadNotification, xfer::kDownloading, httpError, std::move(payload)};

    payload[xfer::kSignatureKey] = signatureValidity;
    if (metadata) payload[xfer::kMetadataKey] = *metadata;
    // Read from a copy: the digest stays usable if the data is asked again.
    payload[xfer::kComputedFileHashKey] = toHex(Digest(clearHash).final());
    return {xfer::kRemoteFileDownloadNotification, xfer::kReceived, httpError, std::move(payload)};
}

}  // namespace ostrelcomm
