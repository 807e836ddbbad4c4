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

#include "tree/RemoteDirInfo.h"
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

// A folder's rename or move, and its deletion: "Modified" and "Deleted" with
// the folder's identifier, as for the creation.
inline constexpr char kDirectoryPropertiesModifiedNotification[] = "directoryPropertiesModified";
inline constexpr char kDirectoryDeletedNotification[] = "directoryDeleted";

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

// The copy of one remote file: "Copied" with the new file's identifier
// (ItemUuidPayload) when the job learnt it, else without "CustomData".
inline constexpr char kFileCopyNotification[] = "fileCopy";

// file_delete, and the multi-file upload's deletion of a file it replaces:
// "Started", then "Deleted" with the file's identifier (ItemUuidPayload),
// "Error" or "Aborted".
inline constexpr char kDeleteFileNotification[] = "deleteFile";

}  // namespace ostrelcomm::tree
