#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace devserver {

// Where the stand-in server keeps the bodies of stored blocks, one file per
// block: <folder>/<item identifier>/<block number in decimal>, each exactly
// the bytes the client sent (IV-less AES-256-CBC ciphertext of the block).
// The records that say which blocks make a file stay in memory (the item
// store); this folder holds only bytes.
//
// Opened at the server's start: either a folder the caller names, which is
// kept when the server stops (and reused, whatever it holds), or a new
// temporary folder, removed with everything in it when the server stops.
// Thread-safe: each block is written under a temporary name and renamed into
// place, so a reader sees a whole block or none.
class DataFolder {
public:
    DataFolder() = default;
    ~DataFolder();
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

    // Throws std::runtime_error when the folder cannot be made.
    void open(const std::optional<std::filesystem::path>& folder);
    // Removes a temporary folder; a named one stays.
    void close();
    // Empty while closed.
    std::filesystem::path path() const;

    // A block's body written under a temporary name, not yet in place; the
    // returned name is passed to placeBlock or discard. Throws
    // std::runtime_error (an item identifier that is not a plain name, a
    // write that fails).
    std::filesystem::path stageBlock(const std::string& item, std::uint64_t blocknum, std::string_view body);
    // Puts a staged body in place as the item's block `blocknum`, replacing
    // what was there. Quick (a rename): callers may hold a lock around it.
    void placeBlock(const std::filesystem::path& staged, const std::string& item, std::uint64_t blocknum);
    void discard(const std::filesystem::path& staged) noexcept;

    // Where block `blocknum` of `item` lies (whether or not it exists).
    std::filesystem::path blockPath(const std::string& item, std::uint64_t blocknum) const;
    // The body of a stored block; absent when there is none.
    std::optional<std::string> readBlock(const std::string& item, std::uint64_t blocknum) const;
    // Drops every block of the item.
    void removeItem(const std::string& item) noexcept;

private:
    std::filesystem::path itemFolder(const std::string& item) const;

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    bool temporary_ = false;
};

}  // namespace devserver
