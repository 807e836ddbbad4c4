#pragma once

// The remote tree's notifications, posted on the engine's own center. Each
// carries "Result" (one of the words below, std::string), "httpError"
// (HTTPError or NullObject) and "CustomData" (the type named, or NullObject
// when there is none).
//
// Requester tags: a job queued with a source hands it back. Then
// "CustomData" is a TaggedPayload holding exactly "source" (std::string) and
// the job's result under its key, NullObject when the job left none; without
// a source it is the bare result, or NullObject.

#include <any>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tree/RemoteDirInfo.h"
#include "tree/RemoteDirectoryBranch.h"
#include "tree/RemoteItemMetadata.h"

namespace ostrelcomm::tree {

inline constexpr char kStarted[] = "Started";
inline constexpr char kReceived[] = "Received";
inline constexpr char kCreated[] = "Created";
inline constexpr char kModified[] = "Modified";
inline constexpr char kDeleted[] = "Deleted";
inline constexpr char kCompleted[] = "Completed";
inline constexpr char kError[] = "Error";
inline constexpr char kAborted[] = "Aborted";

// "CustomData" of a job queued with a source.
using TaggedPayload = std::map<std::string, std::any>;
inline constexpr char kSourceKey[] = "source";
inline constexpr char kDirInfoKey[] = "dirInfo";
inline constexpr char kUuidKey[] = "uuid";

// directory_getInfo: "Started", then "Received" with the listed folder
// (DirInfoPayload; with a source {"source", "dirInfo"}), "Error" or "Aborted".
inline constexpr char kQueryRemoteDirectoryContentNotification[] = "queryRemoteDirectoryContent";
using DirInfoPayload = std::shared_ptr<RemoteDirInfo>;

// directory_create: "Started", then "Created" with the new folder's
// identifier (ItemUuidPayload; with a source {"source", "uuid"}), "Error" or
// "Aborted".
inline constexpr char kNewRemoteDirectoryCreatedNotification[] = "newRemoteDirectoryCreated";
using ItemUuidPayload = std::string;

// A folder's rename or move (directory_modify), and its deletion
// (directory_delete): "Started", then "Modified" and "Deleted" with the
// folder's identifier as the server confirms it (ItemUuidPayload; with a
// source {"source", "uuid"}), "Error" or "Aborted".
inline constexpr char kDirectoryPropertiesModifiedNotification[] = "directoryPropertiesModified";
inline constexpr char kDirectoryDeletedNotification[] = "directoryDeleted";

// directory_getTree: "Available" with a DirectoryTreePayload, or "Error" for
// a job that failed or was aborted; nothing while it runs.
inline constexpr char kGetDirectoryTreeTerminatedNotification[] = "getDirectoryTreeTerminated";
inline constexpr char kAvailable[] = "Available";
// The top folder's children, each node with its decrypted metadata and its
// own children, in the server's order.
using DirectoryTree = std::vector<std::shared_ptr<RemoteDirectoryBranch>>;
// Always these three entries: "source" (std::string), "topUUID"
// (std::string) and "tree" (DirectoryTree).
using DirectoryTreePayload = std::map<std::string, std::any>;
inline constexpr char kTopUUIDKey[] = "topUUID";
inline constexpr char kTreeKey[] = "tree";

// --- file jobs -----------------------------------------------------------------

inline constexpr char kCopied[] = "Copied";
inline constexpr char kFileInfoKey[] = "fileInfo";

// file_getInfo: "Started", then "Received" with a FileInfoPayload, "Error"
// or "Aborted". The payload always holds exactly "source" (std::string) and
// "fileInfo" (FileInfoMetadata), each NullObject when absent, also for a job
// queued without a source.
inline constexpr char kGetFileInfoNotification[] = "getFileInfo";
using FileInfoPayload = TaggedPayload;
using FileInfoMetadata = RemoteItemMetadata;

// file_modify: "Started", then "Modified" with the file's identifier
// (ItemUuidPayload, bare whatever the source), "Error" or "Aborted".
inline constexpr char kFilePropertiesModificationNotification[] = "filePropertiesModification";

// The copy of one remote file (file_copy): "Started", then "Copied" with the
// new file's identifier (ItemUuidPayload) when the job learnt it, else with
// "CustomData" NullObject (the copy job never learns it), "Error" or
// "Aborted". Never carries a "source".
inline constexpr char kFileCopyNotification[] = "fileCopy";

// --- the recursive folder copy (CopyDir), on the copier's own center -------------

// After each folder made and each file copied: "copied" and "total"
// (std::int64_t), no "Result".
inline constexpr char kItemCopiedNotification[] = "ItemCopied";
inline constexpr char kCopiedKey[] = "copied";
inline constexpr char kTotalKey[] = "total";
// The copy has ended (also after a cancel): "Result" "Completed", "httpError"
// and "CustomData" NullObject.
inline constexpr char kCopyCompletedNotification[] = "CopyCompleted";
// The copy has stopped on a failure: the userInfo of the failing job's
// notification ("Result" "Error" or "Aborted", its "httpError" and
// "CustomData"), or an empty userInfo when no job's failure caused it.
inline constexpr char kCopyErrorNotification[] = "CopyError";
// The requester tag of the copier's own folder jobs.
inline constexpr char kCopyDirSource[] = "CopyDir";

// file_delete, and the multi-file upload's deletion of a file it replaces:
// "Started", then "Deleted" with the file's identifier (ItemUuidPayload),
// "Error" or "Aborted".
inline constexpr char kDeleteFileNotification[] = "deleteFile";

}  // namespace ostrelcomm::tree
