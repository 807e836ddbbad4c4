#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "platform/Bytes.h"

namespace ostrelcomm {

// What a download does to the local disk, on Linux calls whose failures are
// all seen: the destination folder, the temporary file the blocks go to, the
// free space before the first block, and the final move that never replaces
// anything.
class DownloadFileSystem {
public:
    // The room left for an unprivileged user on the volume of a folder. Either
    // an error description, or a value (absent: the system gave none).
    struct Capacity {
        std::optional<std::int64_t> available;
        std::optional<std::string> error;
    };
    using CapacityReader = std::function<Capacity(const std::filesystem::path& folder)>;

    // statvfs: f_bavail × f_frsize (absent when that does not fit).
    static Capacity statvfsCapacity(const std::filesystem::path& folder);
    // What the download reads: statvfsCapacity unless a test has put
    // another reader in its place.
    static Capacity volumeAvailableCapacity(const std::filesystem::path& folder);
    // Puts `reader` in place (an empty one restores statvfsCapacity) and
    // returns the one it replaces. For tests.
    static CapacityReader replaceCapacityReader(CapacityReader reader);

    // The folder with every missing parent; an existing folder is fine.
    // Absent on success, else the error's description.
    static std::optional<std::string> createFolder(const std::filesystem::path& folder);

    // A new empty file readable by its owner only (0600). Whatever had the
    // name before, a file or a symbolic link, is removed first and never
    // followed or written; a folder of the name is a failure.
    static bool createTemporaryFile(const std::filesystem::path& file);

    // Writes all of `bytes` at `offset` of the existing regular file `file`,
    // which is opened without following a symbolic link (nor blocking on a
    // FIFO put in its place) and closed again. False on any failure, a short
    // write or a failed close included.
    static bool writeAt(const std::filesystem::path& file, ByteView bytes, std::uint64_t offset);

    // writeAt in two halves, for a write made elsewhere than the file was
    // opened: the existing regular file opened for writing as writeAt opens
    // it (a descriptor, or -1), then all of `bytes` written at `offset`
    // through it and the descriptor closed (false on any failure, the close's
    // included; the descriptor is closed whatever happens).
    static int openForWriting(const std::filesystem::path& file);
    static bool writeAtAndClose(int fd, ByteView bytes, std::uint64_t offset);

    // Renames `from` to `to` unless something exists at `to`: 0, or the
    // errno (EEXIST when `to` was taken). Atomic where the file system
    // supports it; elsewhere a hard link then the removal of `from`, which
    // refuses a taken name just as well.
    static int moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

    // Moves `from` to `wanted`, or to the first free numbered variant of it
    // (getProgressiveURL) when it is taken, trying the next one when another
    // process takes a name between the choice and the move. The path written,
    // or the description of the failure.
    static std::variant<std::filesystem::path, std::string> moveToFreeName(const std::filesystem::path& from,
                                                                           const std::filesystem::path& wanted);
};

}  // namespace ostrelcomm
