#pragma once

// The remote tree's notifications, posted on the engine's own center. Each
// carries "Result" (std::string), "httpError" (HTTPError or NullObject) and
// "CustomData".

namespace ostrelcomm::tree {

// The job that deletes one remote file.
inline constexpr char kDeleteFileNotification[] = "deleteFile";
// The job that creates one remote folder.
inline constexpr char kNewRemoteDirectoryCreatedNotification[] = "newRemoteDirectoryCreated";
// The job that lists one remote folder.
inline constexpr char kQueryRemoteDirectoryContentNotification[] = "queryRemoteDirectoryContent";

}  // namespace ostrelcomm::tree
