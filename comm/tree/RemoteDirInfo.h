#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "platform/Bytes.h"
#include "tree/RemoteItemInfo.h"

namespace ostrelcomm {

// The decrypted contents of one remote folder: the folder's own entry and the
// items directly inside it, each with its item key unwrapped and its metadata
// decrypted. It always comes from a listing body (create).
//
// Threads: the job that fetched the listing builds it and hands it to its
// observers, which may read it on any thread. From then on it changes only
// through contentsOrderedBy, and only its one owner (the holder that built or
// kept it) calls that; an observer that wants an order of its own sorts a
// copy, never the posted object.
class RemoteDirInfo {
public:
    enum class FileOrder { name, modificationDate, size, itemType };

    // Exactly "name", "modificationDate", "size" or "itemType"; none otherwise.
    static std::optional<FileOrder> fileOrderFromRaw(std::string_view raw);
    static std::string_view rawValue(FileOrder order);

    // Reads a listing body (the answer of "/dir/list/" or
    // "/dir/modify_prepare/") under the 32-byte password key: unwraps "umk"
    // under it, then for "informations" and each item of "content" in order
    // unwraps "itemkey" under the user master key's 32 key bytes and decrypts
    // "metadata" under the item key. Metadata that does not decrypt or decode
    // gets the placeholder (RemoteItemMetadata::invalidPlaceholder) and costs
    // nothing else. Everything else fails the whole listing, there is no
    // partial one: json::DecodeError for a body that does not decode,
    // KeyDecodeError or CryptoError for a "umk" or any "itemkey" that does
    // not unwrap to an AES-256 key object.
    static std::shared_ptr<RemoteDirInfo> create(ByteView jsonData, ByteView decryptPassword);

    // The user master key of the listing; for the library's own jobs.
    const EncryptionKey& umk() const { return umk_; }

    // The listed folder's own entry; absent when the listing has none.
    std::optional<RemoteItemInfo> informations;
    // The folder's items, in listing order until contentsOrderedBy.
    std::vector<RemoteItemInfo> content;

    // Sorts content in place, stably: items whose keys are equal keep their
    // listing order in both directions, so a descending order is not the
    // mirror of the ascending one. name: canonically equivalent names are
    // equal, others compare by the Unicode scalar values of their NFC forms
    // (no case folding or locale: "B" before "a"; bad UTF-8 sorts as U+FFFD).
    // size: the listing's orig_size, not the metadata's fileSize. itemType:
    // ROOT, DIRECTORY, FILE ascending, the blocks reversed descending.
    void contentsOrderedBy(FileOrder order, bool ascending);

private:
    explicit RemoteDirInfo(EncryptionKey umk) : umk_(std::move(umk)) {}

    EncryptionKey umk_;
};

}  // namespace ostrelcomm
