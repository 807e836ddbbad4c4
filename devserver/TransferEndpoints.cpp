#include "devserver/TransferEndpoints.h"

#include <openssl/evp.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"
#include "devserver/Signing.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;
using ByteVector = std::vector<std::uint8_t>;

constexpr char kEncoderVersion[] = "1.0";
constexpr char kAlgorithm[] = "aes256";
constexpr std::uint64_t kAesBlock = 16;

ProtocolError noSuchUpload() { return ProtocolError(404, "ItemNotFoundException", "No such upload"); }
ProtocolError noSuchFolder() { return ProtocolError(404, "ItemNotFoundException", "No such folder"); }

User owner(DevServer& server, const ServerRequest& request) {
    User user = sessionUser(server, request);
    if (user.uuid.empty()) throw noSuchUser();
    return user;
}

void requireEncoder(const ServerRequest& request) {
    if (requiredHeader(request, "encoder-version") != kEncoderVersion) throw badRequest("Unknown encoder version");
}

std::optional<std::uint64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::uint64_t decimalHeader(const ServerRequest& request, std::string_view key) {
    auto value = decimal(requiredHeader(request, key));
    if (!value) throw badRequest("x-sb-" + std::string(key) + " is not a decimal number");
    return *value;
}

// "first-last".
std::pair<std::uint64_t, std::uint64_t> rangeHeader(const ServerRequest& request) {
    const std::string text = requiredHeader(request, "blockrange");
    const auto dash = text.find('-');
    if (dash == std::string::npos) throw badRequest("x-sb-blockrange is not a range");
    auto first = decimal(std::string_view(text).substr(0, dash));
    auto last = decimal(std::string_view(text).substr(dash + 1));
    if (!first || !last || *first > *last) throw badRequest("x-sb-blockrange is not a range");
    return {*first, *last};
}

// The user's upload under way.
Item pendingUpload(DevServer& server, const User& user, const std::string& uuid) {
    auto item = server.items().find(user.uuid, uuid);
    if (!item || item->kind != ItemKind::file || !item->upload) throw noSuchUpload();
    return *item;
}

std::uint64_t cipherLength(std::uint64_t clearLength) { return (clearLength / kAesBlock + 1) * kAesBlock; }

// Why the block cannot be stored in the upload as it stands; none when it can.
std::optional<std::string> blockProblem(const Item& item, std::uint64_t blocknum, std::uint64_t first,
                                        std::uint64_t last, std::size_t bodySize) {
    if (!item.upload || item.upload->finalized) return "The upload takes no more blocks";
    if (last >= item.size) return "The block's range lies beyond the file's size";
    if (bodySize != cipherLength(last - first + 1)) return "The body is not the ciphertext of the block's range";
    const std::uint64_t stored = item.chunks.size();
    if (blocknum == stored) {
        const std::uint64_t next = item.chunks.empty() ? 0 : item.chunks.back().end + 1;
        if (first != next) return "The block does not begin where the one before ended";
        return std::nullopt;
    }
    if (blocknum + 1 == stored) {
        if (first != item.chunks.back().begin || last != item.chunks.back().end)
            return "A block sent again must keep its range";
        return std::nullopt;
    }
    return "Blocks are stored in order: the next one is " + std::to_string(stored);
}

ByteVector fromHex(std::string_view text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0) throw std::invalid_argument("odd hexadecimal text");
    ByteVector out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) throw std::invalid_argument("not hexadecimal");
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return out;
}

ByteVector sha256(const ByteVector& data) {
    ByteVector out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    out.resize(length);
    return out;
}

}  // namespace

std::string treeHashHex(const std::vector<Chunk>& chunks) {
    std::vector<ByteVector> level;
    level.reserve(chunks.size());
    for (const auto& chunk : chunks) level.push_back(fromHex(chunk.chksum));
    if (level.empty()) return hexLower(sha256({}));
    while (level.size() > 1) {
        std::vector<ByteVector> next;
        next.reserve((level.size() + 1) / 2);
        for (std::size_t i = 0; i < level.size(); i += 2) {
            if (i + 1 == level.size()) {
                next.push_back(std::move(level[i]));
                continue;
            }
            ByteVector joined = std::move(level[i]);
            joined.insert(joined.end(), level[i + 1].begin(), level[i + 1].end());
            next.push_back(sha256(joined));
        }
        level = std::move(next);
    }
    return hexLower(level.front());
}

void installTransferEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("GET", "/filesend/prepare/",
                 Endpoint{"FILESEND_PREPARE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     requireEncoder(request);
                     if (requiredHeader(request, "algorythm") != kAlgorithm) throw badRequest("Unknown algorithm");
                     const std::string parent = requiredHeader(request, "parent-uuid");
                     const std::uint64_t size = decimalHeader(request, "file-size");
                     if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                         throw badRequest("x-sb-file-size is too large");
                     if (!s->items().isFolder(user.uuid, parent)) throw noSuchFolder();
                     Item item;
                     item.owner = user.uuid;
                     item.kind = ItemKind::file;
                     item.parent = parent;
                     item.size = size;
                     item.upload = PendingUpload{};
                     auto stored = s->items().add(std::move(item));
                     if (!stored) throw noSuchFolder();
                     OrderedJson answer;
                     answer["itemUUID"] = stored->uuid;
                     return orderedReply(answer);
                 }});

    server.route("PUT", "/filesend/store/",
                 Endpoint{"FILESEND_SENDBLOCK", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     requireEncoder(request);
                     const std::string uuid = requiredHeader(request, "item-uuid");
                     const std::uint64_t blocknum = decimalHeader(request, "blocknum");
                     // Plain copies: a lambda below uses them, and clang's C++20
                     // cannot capture structured bindings.
                     const auto range = rangeHeader(request);
                     const auto first = range.first;
                     const auto last = range.second;
                     if (auto problem = blockProblem(pendingUpload(*s, user, uuid), blocknum, first, last,
                                                     request.body.size()))
                         throw badRequest(*problem);
                     // Checked against the body by the server's request checks;
                     // the body is hashed again only when it came without one.
                     const auto sent = request.header("x-sb-payload-sha256");
                     const std::string chksum = lowerAscii(
                         sent ? *sent : !request.bodySha256.empty() ? request.bodySha256 : sha256Hex(request.body));

                     // Written outside the store's lock, put in place under it
                     // once the upload still takes the block.
                     DataFolder& data = s->dataFolder();
                     const auto staged = data.stageBlock(uuid, blocknum, request.body, request.spool.get());
                     std::optional<ProtocolError> refusal = noSuchUpload();
                     s->items().modify(user.uuid, uuid, [&](Item& item) {
                         if (!item.upload) return;
                         if (auto problem = blockProblem(item, blocknum, first, last, request.body.size())) {
                             refusal = badRequest(*problem);
                             return;
                         }
                         refusal.reset();
                         data.placeBlock(staged, uuid, blocknum, chksum);
                         const Chunk chunk{first, last, chksum};
                         if (blocknum == item.chunks.size()) {
                             item.chunks.push_back(chunk);
                         } else {
                             item.chunks.back() = chunk;
                         }
                     });
                     if (refusal) {
                         data.discard(staged);
                         throw *refusal;
                     }
                     OrderedJson answer;
                     answer["itemUUID"] = uuid;
                     answer["blocknum"] = blocknum;
                     answer["blockBegin"] = first;
                     answer["blockEnd"] = last;
                     return orderedReply(answer);
                 },
                          true});

    server.route("GET", "/filesend/finalize/",
                 Endpoint{"FILESEND_FINALIZE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     requireEncoder(request);
                     const std::string uuid = requiredHeader(request, "item-uuid");
                     const std::uint64_t sent = decimalHeader(request, "blocks-sent");
                     const std::string treehash = requiredHeader(request, "treehash-sha256");
                     pendingUpload(*s, user, uuid);
                     std::optional<ProtocolError> refusal = noSuchUpload();
                     s->items().modify(user.uuid, uuid, [&](Item& item) {
                         if (!item.upload) return;
                         const std::uint64_t covered = item.chunks.empty() ? 0 : item.chunks.back().end + 1;
                         const std::string own = treeHashHex(item.chunks);
                         if (covered != item.size) {
                             refusal = badRequest("The stored blocks do not cover the file");
                         } else if (sent != item.chunks.size()) {
                             refusal = badRequest("The count of blocks sent is not the count stored");
                         } else if (treehash != own) {
                             refusal = badRequest("The tree hash is not the one of the stored blocks");
                         } else {
                             refusal.reset();
                             item.upload->finalized = true;
                             item.treehash = own;
                         }
                     });
                     if (refusal) throw *refusal;
                     OrderedJson answer;
                     answer["itemUUID"] = uuid;
                     answer["umk"] = user.umk;
                     return orderedReply(answer);
                 }});

    server.route("PUT", "/filesend/terminate/",
                 Endpoint{"FILESEND_TERMINATE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     requireEncoder(request);
                     const std::string uuid = requiredHeader(request, "item-uuid");
                     pendingUpload(*s, user, uuid);
                     const Json probe = Json::parse(request.body, nullptr, false);
                     const bool withThumbnail = probe.is_object() && probe.contains("thumbnail");
                     const Json body = withThumbnail ? objectWithKeys(request.body, {"itemkey", "metadata", "thumbnail"})
                                                     : objectWithKeys(request.body, {"itemkey", "metadata"});
                     std::string itemkey = wrappedKeyMember(body, "itemkey");
                     ByteVector metadata = sealedMember(body, "metadata");
                     std::optional<ByteVector> thumbnail;
                     if (withThumbnail) thumbnail = sealedMember(body, "thumbnail");
                     std::optional<ProtocolError> refusal = noSuchUpload();
                     s->items().modify(user.uuid, uuid, [&](Item& item) {
                         if (!item.upload) return;
                         if (!item.upload->finalized) {
                             refusal = badRequest("The upload is not finalized");
                             return;
                         }
                         refusal.reset();
                         item.itemkey = std::move(itemkey);
                         item.metadata = std::move(metadata);
                         item.thumbnail = std::move(thumbnail);
                         item.upload.reset();
                     });
                     if (refusal) throw *refusal;
                     OrderedJson answer;
                     answer["itemUUID"] = uuid;
                     return orderedReply(answer);
                 }});

    server.route("DELETE", "/filesend/",
                 Endpoint{"FILESEND_ABORT", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     const std::string uuid = requiredHeader(request, "item-uuid");
                     // The store hands the removed file to the server, which
                     // drops its blocks.
                     const auto uploading = [](const Item& item) { return item.upload.has_value(); };
                     if (s->items().remove(user.uuid, uuid, false, uploading) != ItemStore::RemoveOutcome::removed)
                         throw noSuchUpload();
                     OrderedJson answer;
                     answer["itemUUID"] = uuid;
                     return orderedReply(answer);
                 }});
}

// --- downloads ---------------------------------------------------------------------

namespace {

ProtocolError noSuchFile() { return ProtocolError(404, "ItemNotFoundException", "No such file"); }

}  // namespace

Readable readableFile(DevServer& server, const User& user, const std::string& uuid) {
    if (auto item = server.items().find(user.uuid, uuid)) {
        if (item->kind != ItemKind::file || item->upload) throw noSuchFile();
        return Readable{*item, item->itemkey, std::nullopt};
    }
    auto shared = server.items().sharedWith(user.uuid, uuid);
    if (!shared || shared->item.kind != ItemKind::file || shared->item.upload) throw noSuchFile();
    auto sharer = server.users().findByUuid(shared->grant.owner);
    if (!sharer) throw noSuchFile();
    return Readable{shared->item, shared->grant.itemkey, std::move(sharer)};
}

void installDownloadEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("GET", "/filerecv/prepare/",
                 Endpoint{"FILERECV_PREPARE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     const Readable file = readableFile(*s, user, requiredHeader(request, "item-uuid"));
                     OrderedJson chunks = OrderedJson::array();
                     for (const Chunk& chunk : file.item.chunks) {
                         OrderedJson entry;
                         entry["begin"] = chunk.begin;
                         entry["end"] = chunk.end;
                         entry["chksum"] = chunk.chksum;
                         chunks.push_back(std::move(entry));
                     }
                     OrderedJson answer;
                     answer["itemUUID"] = file.item.uuid;
                     answer["fileSize"] = file.item.size;
                     answer["attrib"] = file.item.attrib;
                     answer["chunks"] = std::move(chunks);
                     answer["metadata"] = base64Encode(file.item.metadata);
                     answer["itemkey"] = file.itemkey;
                     answer["treehash-SHA256"] = file.item.treehash;
                     if (file.sharer) {
                         answer["pubshkey"] = base64Encode(file.sharer->pubshkey);
                         answer["privshkey"] = user.privshkey;
                     } else {
                         answer["umk"] = user.umk;
                     }
                     return orderedReply(answer);
                 }});

    server.route("GET", "/filerecv/getblock/",
                 Endpoint{"FILERECV_GETBLOCK", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     const Readable file = readableFile(*s, user, requiredHeader(request, "item-uuid"));
                     const std::uint64_t blocknum = decimalHeader(request, "blocknum");
                     if (blocknum >= file.item.chunks.size()) throw badRequest("The file has no such block");
                     auto block = s->dataFolder().openBlock(file.item.uuid, blocknum);
                     if (!block) throw noSuchFile();
                     Reply reply;
                     if (request.mayStream && !block->sha256().empty() && block->size() > 0) {
                         // Sent from the file as it is read, under the digest
                         // recorded when the block was stored.
                         auto body = std::make_shared<StreamedBody>();
                         body->size = block->size();
                         body->sha256 = block->sha256();
                         body->read = [block](std::uint64_t offset, char* out, std::size_t length) {
                             return block->readAt(offset, out, length);
                         };
                         reply = Reply::stream(std::move(body));
                     } else {
                         auto body = block->readAll();
                         if (!body) throw noSuchFile();
                         reply = Reply::bytes(std::move(*body));
                     }
                     const Chunk& chunk = file.item.chunks[blocknum];
                     reply.with("x-sb-blocknum", std::to_string(blocknum));
                     reply.with("x-sb-blockrange", std::to_string(chunk.begin) + "-" + std::to_string(chunk.end));
                     return reply;
                 }});
}

std::optional<Item> storeFile(DevServer& server, Item item, const std::vector<std::string>& bodies) {
    item.kind = ItemKind::file;
    item.upload.reset();
    auto stored = server.items().add(std::move(item));
    if (!stored) return std::nullopt;
    DataFolder& data = server.dataFolder();
    for (std::size_t n = 0; n < bodies.size(); ++n)
        data.placeBlock(data.stageBlock(stored->uuid, n, bodies[n]), stored->uuid, n, sha256Hex(bodies[n]));
    return stored;
}

}  // namespace devserver
