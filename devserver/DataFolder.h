#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
//
// Beside each block it may keep the SHA-256 of its body, given when the block
// is put in place, so that sending a block need not hash it again. The record
// names the file it was made for (device, inode, size): a reader holding a
// block open uses it only when it names that very file, so a block replaced
// meanwhile is never sent under the digest of another body.
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

    // A request body written into the folder while it arrives, so that
    // staging it as a block afterwards is a rename instead of a write. Used
    // by one thread at a time. The file goes with the spool unless
    // stageBlock took it.
    class Spool {
    public:
        Spool(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
        ~Spool();
        Spool(const Spool&) = delete;
        Spool& operator=(const Spool&) = delete;

        // Appends. After a failed write nothing more is written, and the
        // spool is never taken for a body.
        void write(const char* data, std::size_t length) noexcept;
        // After the last byte.
        void close() noexcept;
        // Closed, and holding exactly `size` bytes written without a fault.
        bool holds(std::uint64_t size) const { return fd_ < 0 && !failed_ && written_ == size; }
        const std::filesystem::path& path() const { return path_; }

    private:
        friend class DataFolder;
        int fd_;
        std::filesystem::path path_;
        std::uint64_t written_ = 0;
        bool failed_ = false;
        bool taken_ = false;
    };
    // A new empty spool file; none when the folder cannot take one (the body
    // is then written when it is staged, as without a spool).
    std::unique_ptr<Spool> openSpool();

    // A block's body written under a temporary name, not yet in place; the
    // returned name is passed to placeBlock or discard. With a spool that
    // holds exactly `body` (written from the same bytes as they arrived), its
    // file is renamed instead. Throws std::runtime_error (an item identifier
    // that is not a plain name, a write that fails).
    std::filesystem::path stageBlock(const std::string& item, std::uint64_t blocknum, std::string_view body,
                                     Spool* spool = nullptr);
    // Puts a staged body in place as the item's block `blocknum`, replacing
    // what was there, and keeps `bodySha256` (the lower-case hex SHA-256 of
    // the staged body; empty: none known) as its digest. Quick (a rename):
    // callers may hold a lock around it.
    void placeBlock(const std::filesystem::path& staged, const std::string& item, std::uint64_t blocknum,
                    std::string bodySha256 = {});
    void discard(const std::filesystem::path& staged) noexcept;

    // Where block `blocknum` of `item` lies (whether or not it exists).
    std::filesystem::path blockPath(const std::string& item, std::uint64_t blocknum) const;
    // The body of a stored block; absent when there is none.
    std::optional<std::string> readBlock(const std::string& item, std::uint64_t blocknum) const;

    // A stored block held open, read in pieces while it is sent.
    class OpenBlock {
    public:
        OpenBlock(int fd, std::uint64_t size, std::string sha256) : fd_(fd), size_(size), sha256_(std::move(sha256)) {}
        ~OpenBlock();
        OpenBlock(const OpenBlock&) = delete;
        OpenBlock& operator=(const OpenBlock&) = delete;

        // Its length when it was opened.
        std::uint64_t size() const { return size_; }
        // The recorded digest of exactly this file's body; empty when none is
        // known.
        const std::string& sha256() const { return sha256_; }
        // Up to `length` bytes from `offset` into `out`: the count read, 0 when
        // the file ends there (cut short meanwhile) or cannot be read.
        std::size_t readAt(std::uint64_t offset, char* out, std::size_t length) const;
        // The whole body: absent when the file is no longer `size()` long.
        std::optional<std::string> readAll() const;

    private:
        int fd_;
        std::uint64_t size_;
        std::string sha256_;
    };
    // Absent when there is no such block.
    std::shared_ptr<const OpenBlock> openBlock(const std::string& item, std::uint64_t blocknum) const;

    // Drops every block of the item.
    void removeItem(const std::string& item) noexcept;

private:
    std::filesystem::path itemFolder(const std::string& item) const;

    struct Digest {
        dev_t device = 0;
        ino_t inode = 0;
        std::uint64_t size = 0;
        std::string sha256;
    };

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    bool temporary_ = false;
    // Block placements and digest records change together under this lock,
    // so a record always names the file in place.
    mutable std::mutex digestMutex_;
    std::map<std::pair<std::string, std::uint64_t>, Digest> digests_;
};

}  // namespace devserver
