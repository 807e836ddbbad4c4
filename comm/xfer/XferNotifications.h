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
