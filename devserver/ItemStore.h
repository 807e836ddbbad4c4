#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devserver {

// The kinds of stored item, written on the wire as "DIRECTORY" and "FILE".
enum class ItemKind { directory, file };

std::string_view wireName(ItemKind kind);

// The parent of the items at the top of a user's tree. It is no stored item:
// every user has it, it has no key and no metadata, and it is never listed
// as an item itself.
inline constexpr char kRootFolder[] = "root";

// One stored block of a file, in the file's block order. Its body (the bytes
// the client sent: the block's AES-256-CBC ciphertext) is a file of the data
// folder (DataFolder::blockPath(item, block number)).
struct Chunk {
    // The clear file's offsets of the block's first and last byte (inclusive):
    // block n + 1 begins at block n's end + 1.
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    // SHA-256 of the body as stored, lower-case hexadecimal: the block's leaf
    // of the file's tree hash.
    std::string chksum;
};

// A file whose upload is under way: from its prepare until its terminate it
// is in no listing, and only the upload's own requests see it.
struct PendingUpload {
    // Set once finalize has found the blocks cover the file and the client's
    // tree hash and count equal the server's; terminate needs it.
    bool finalized = false;
};

// What the server keeps of one remote folder or file. The server cannot read
// any of it but the kind, the parent, the attributes and the sizes: the item
// key is wrapped under the owner's master key and the metadata and thumbnail
// are sealed under the item key, and all three are kept exactly as the client
// sent them.
//
// One record per item, whatever the endpoint that touches it (folders, files,
// uploads, downloads, shares); later endpoints add their fields here (the
// file's blocks in the data folder, an upload under way) rather than keep a
// store of their own. The share grants sit beside the items (ShareGrant).
struct Item {
    // Chosen by the store when an item is added without one.
    std::string uuid;
    // The identifier of the account that owns the item.
    std::string owner;
    ItemKind kind = ItemKind::directory;
    // The folder that holds it: one of the owner's folders, or kRootFolder.
    std::string parent = kRootFolder;
    std::vector<std::string> attrib;
    // The wrapped-key JSON text {"iv","key"}.
    std::string itemkey;
    // The sealed metadata (IV ‖ ciphertext).
    std::vector<std::uint8_t> metadata;
    // The sealed thumbnail, when the client stored one.
    std::optional<std::vector<std::uint8_t>> thumbnail;
    // The size the client reported; 0 for a folder.
    std::uint64_t size = 0;
    // Where the item stands in the order of creation, across all users; set
    // by the store. Listings answer in this order.
    std::uint64_t created = 0;
    // A file's content: its blocks in order (none for an empty file or a
    // folder), and the tree hash of their checksums in lower-case
    // hexadecimal, set when the upload is finalized. `size` is the clear
    // file's length, which the blocks cover exactly.
    std::vector<Chunk> chunks;
    std::string treehash;
    // Present while the file is being uploaded.
    std::optional<PendingUpload> upload;

    // What a listing reports as "thumbnailsize": the stored thumbnail's length.
    std::uint64_t thumbnailSize() const { return thumbnail ? thumbnail->size() : 0; }
};

// A reader's access to another user's item: the item key wrapped under the
// X25519 key that the owner and the reader share (the server cannot unwrap
// it either). One per (item, reader); the file, download, copy and sharing
// endpoints all read the same grants, and an item's grants go with it.
struct ShareGrant {
    // The account identifiers of the item's owner and of the reader.
    std::string owner;
    std::string item;
    std::string reader;
    // The wrapped-key JSON text {"iv","key"}.
    std::string itemkey;
    // The share's identifier, chosen by the store when the grant is first
    // made and kept when it is replaced.
    std::string shareUUID;
    // Where the grant stands in the order of sharing, across all users; set
    // by the store when the grant is first made and kept when it is replaced.
    std::uint64_t granted = 0;
};

// Every user's items. Thread-safe: one mutex over the whole store, held only
// while a call copies in or out, so an endpoint works on copies and never
// holds it while it answers. An item belongs to one owner; every lookup names
// the owner, and another owner's item is as absent as one never made.
//
// Tests seed it with add (items as another client would have stored them,
// made by the test's own oracle) and read back what the endpoints stored with
// find and itemsOf.
//
// Whatever removes an item (remove, removeOwner, clear) hands it to the
// removal hooks afterwards, outside the store's lock: the server drops a
// removed file's blocks from its data folder there.
class ItemStore {
public:
    // A folder as a listing answers it: its own item (absent for the root)
    // and the items directly inside it, in creation order.
    struct Folder {
        std::optional<Item> self;
        std::vector<Item> content;
    };

    // Stores a new item, with a new identifier when it has none, and returns
    // it as stored. Absent, and nothing stored, when the identifier is taken
    // or the parent is not one of the owner's folders.
    std::optional<Item> add(Item item);
    std::optional<Item> find(const std::string& owner, const std::string& uuid) const;
    // True for the root and for the owner's items of the folder kind.
    bool isFolder(const std::string& owner, const std::string& uuid) const;
    // Absent when `uuid` is not one of the owner's folders (or the root).
    // Files whose upload is under way are left out.
    std::optional<Folder> folder(const std::string& owner, const std::string& uuid) const;
    // Runs `change` on the stored item under the store's lock; false when the
    // owner has no such item. `change` must not call the store, nor change
    // the item's identifier or owner.
    bool modify(const std::string& owner, const std::string& uuid, const std::function<void(Item&)>& change);
    // Every item of the owner, in creation order.
    std::vector<Item> itemsOf(const std::string& owner) const;
    // Drops every item of the owner (a deleted profile), their grants and the
    // grants to the owner as a reader; returns how many items went. The removal
    // hooks run for each of the items.
    std::size_t removeOwner(const std::string& owner);
    void clear();
    std::size_t size() const;

    // --- moving and removing items ----------------------------------------

    enum class ChangeOutcome { changed, noSuchItem, noSuchFolder, intoItself };
    // Under one lock: moves the owner's item into `newParent` when one is
    // given (one of the owner's folders or the root, never the item itself
    // nor a folder below it), then runs `edit` on it. Nothing is changed
    // unless the outcome is `changed`. `edit` follows modify's rules, and
    // must not change the parent either.
    ChangeOutcome change(const std::string& owner, const std::string& uuid, const std::optional<std::string>& newParent,
                         const std::function<void(Item&)>& edit);

    enum class RemoveOutcome { removed, noSuchItem, notEmpty };
    // Removes the owner's item; a folder that holds anything only when
    // `recursive`, and then with everything below it. The one way items
    // leave the store besides removeOwner and clear.
    // `only`, when given, may refuse the item itself (noSuchItem, nothing
    // removed), checked under the same lock.
    RemoveOutcome remove(const std::string& owner, const std::string& uuid, bool recursive,
                         const std::function<bool(const Item&)>& only = nullptr);

    // Per-item clean-up of what an item keeps outside this store (a file's
    // blocks in the data folder, the grants that share it): later endpoints
    // register a hook here rather than remove anything themselves. Every hook
    // runs once for each item that remove or removeOwner takes out, after
    // the store's lock is released, the items below a folder before the
    // folder. The items are gone from the store by then, so a hook cannot
    // refuse; one that throws stops the hooks after it for that item.
    using RemovalHook = std::function<void(const Item& removed)>;
    void addRemovalHook(RemovalHook hook);

    // --- share grants (file, download, copy and sharing endpoints) ---

    // An item shared with a reader, as the reader sees it.
    struct Shared {
        Item item;
        ShareGrant grant;
    };
    // Grants `reader` the owner's item under `itemkey`, in place of an
    // earlier grant (whose share identifier it keeps); false, and nothing
    // stored, when the owner has no such item or the reader is the owner.
    bool grant(const std::string& owner, const std::string& uuid, const std::string& reader, std::string itemkey);
    // The item `uuid` as granted to `reader`; absent without a grant.
    std::optional<Shared> sharedWith(const std::string& reader, const std::string& uuid) const;
    // The grants of one of the owner's items, in the order they were made.
    std::vector<ShareGrant> grantsOf(const std::string& owner, const std::string& uuid) const;
    // Every item granted to `reader`, in the order the grants were made;
    // with `owner`, only that owner's. Files whose upload is under way are
    // left out.
    std::vector<Shared> grantsTo(const std::string& reader,
                                 const std::optional<std::string>& owner = std::nullopt) const;
    // Withdraws the grant named `shareUUID` when `user` is its owner or its
    // reader, and returns it; absent, and nothing changed, otherwise. The
    // item itself stays.
    std::optional<ShareGrant> revoke(const std::string& user, const std::string& shareUUID);

    // --- sharing endpoints ---

    // What share() did.
    struct Sharing {
        ShareGrant grant;
        // False when the item was shared with the reader already: `grant` is
        // that earlier grant, unchanged.
        bool made = false;
    };
    // Shares the owner's item with `reader` under `itemkey` unless it is
    // shared with that reader already, in one step under the store's lock.
    // Absent, and nothing stored, when the owner has no such item or the
    // reader is the owner.
    std::optional<Sharing> share(const std::string& owner, const std::string& uuid, const std::string& reader,
                                 std::string itemkey);

private:
    bool isFolderLocked(const std::string& owner, const std::string& uuid) const;
    static std::vector<Item> inCreationOrder(std::vector<Item> items);

    mutable std::mutex mutex_;
    // Owner → identifier → item.
    std::map<std::string, std::map<std::string, Item>> items_;
    // (item, reader) → grant.
    std::map<std::pair<std::string, std::string>, ShareGrant> grants_;
    std::uint64_t nextCreated_ = 1;
    std::uint64_t nextGranted_ = 1;
    std::vector<RemovalHook> removalHooks_;

    // Runs the hooks on items already taken out, without the lock.
    void afterRemoval(const std::vector<Item>& removed) const;
};

}  // namespace devserver
