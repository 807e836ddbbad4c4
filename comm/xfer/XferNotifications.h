#pragma once

// The transfer area's notifications, posted on the engine's own center. Each
// carries "Result" (std::string), "httpError" (HTTPError or NullObject) and
// "CustomData".

#include <any>
#include <map>
#include <string>

namespace ostrelcomm::xfer {

// The job that uploads one file: its block reports and its end. Every upload
// of the engine posts it, whoever queued the job: "Sending" at every move
// while it runs, then "Sent", "Error" or "Aborted".
inline constexpr char kLocalFileUploadNotification[] = "localFileUpload";

inline constexpr char kSending[] = "Sending";
inline constexpr char kSent[] = "Sent";
inline constexpr char kError[] = "Error";
inline constexpr char kAborted[] = "Aborted";

// "CustomData" of "localFileUpload": always these nine entries, with these
// types (the multi-file upload reads them so).
using LocalFileUploadPayload = std::map<std::string, std::any>;
// std::string: the requester's tag, or empty.
inline constexpr char kSourceKey[] = "source";
// std::string: the job's identifier, or empty.
inline constexpr char kJobIDKey[] = "jobID";
// std::filesystem::path: the local file.
inline constexpr char kLocalURLKey[] = "localURL";
// std::string: the remote folder, or "nil" for the top of the tree.
inline constexpr char kRemoteParentUUIDKey[] = "remoteParentUUID";
inline constexpr char kNoRemoteParent[] = "nil";
// std::string: the remote file, empty before the server has named it.
inline constexpr char kUUIDKey[] = "uuid";
// std::int32_t: the clear bytes of the block being sent (0 outside the blocks).
inline constexpr char kBlockSizeKey[] = "blockSize";
// std::uint64_t: the block sent next, counting from 0; after the last one, the
// number of blocks stored.
inline constexpr char kBlockNumKey[] = "blockNum";
// std::uint64_t: the file's number of blocks.
inline constexpr char kTotalBlocksKey[] = "totalBlocks";
// bool: true in the first report after the job was resumed only.
inline constexpr char kIsResumedKey[] = "isResumed";

}  // namespace ostrelcomm::xfer

namespace ostrelcomm::xfer {

// The job that downloads one file: "Downloading" at every move while it
// runs, then "Received", "Error" or "Aborted" ("Error" and "Aborted" carry no
// "CustomData").
inline constexpr char kRemoteFileDownloadNotification[] = "remoteFileDownload";

inline constexpr char kDownloading[] = "Downloading";
inline constexpr char kReceived[] = "Received";

// "CustomData" of "Downloading" (the first five entries) and of "Received"
// (all eight). "source" and "uuid" are the keys above.
using RemoteFileDownloadPayload = std::map<std::string, std::any>;
// std::string: the path of the file written, "nil" until it is known (so in
// every "Downloading").
inline constexpr char kDownloadLocalURLKey[] = "localURL";
inline constexpr char kNoLocalURL[] = "nil";
// std::uint64_t: the block fetched next, counting from 0; at the end the
// number of blocks stored.
inline constexpr char kDownloadBlockNumKey[] = "blocknum";
// std::int64_t: the file's number of blocks, 1 until the server has said.
inline constexpr char kDownloadTotalBlocksKey[] = "totblocks";
// std::int8_t: the computed tree hash against the one in the metadata: 1
// equal, 0 different, -1 not compared (none in the metadata, or no blocks).
inline constexpr char kSignatureKey[] = "signature";
// RemoteItemMetadata: the item's decrypted metadata.
inline constexpr char kMetadataKey[] = "metadata";
// std::string: lower-case hexadecimal SHA-256 of the clear file written.
inline constexpr char kComputedFileHashKey[] = "computed-filehash-SHA256";

}  // namespace ostrelcomm::xfer

namespace ostrelcomm::xfer {

// A multi-file upload's reports to its owner, posted without an object on the
// center given to the uploader: "Sending" (kSending) while files go out, then
// once per run "Completed", "Aborted" or "Error" (kError). Every report
// carries "Result" (std::string) and "BaseDestinationUUID" (std::string: the
// run's destination folder, "root" for the top of the tree).
inline constexpr char kMultipleLocalFileSendNotification[] = "multipleLocalFileSend";
inline constexpr char kCompleted[] = "Completed";

inline constexpr char kResultKey[] = "Result";
inline constexpr char kBaseDestinationUUIDKey[] = "BaseDestinationUUID";
// "Error": std::string, what ended the run.
inline constexpr char kErrorKey[] = "Error";
// "Sending" also carries, as std::int64_t unless said otherwise:
// the position of the item under work in the source list, counting from 1;
inline constexpr char kItemKey[] = "Item";
// the number of items in the source list, folders included;
inline constexpr char kTotalKey[] = "Total";
// std::string: the item's local name;
inline constexpr char kItemNameKey[] = "ItemName";
// LocalItemInfo::ItemType: the item's kind;
inline constexpr char kItemTypeKey[] = "ItemType";
// the bytes sent in this run: whole files, and what has gone of the file
// under work;
inline constexpr char kBytesSentKey[] = "BytesSent";
// the sum of the sizes of the files in the source list;
inline constexpr char kBytesToSendKey[] = "BytesToSend";
// bytes per second since the run started (0 when it cannot be told);
inline constexpr char kXferRateKey[] = "XferRate";
// the seconds left at that rate (0 when the rate is 0).
inline constexpr char kRemainingTimeKey[] = "RemainingTime";

}  // namespace ostrelcomm::xfer
