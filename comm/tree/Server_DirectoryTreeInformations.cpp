#include "tree/Server_DirectoryTreeInformations.h"

#include <utility>

#include "crypto/EncryptionKey.h"
#include "http/ServerAnswer.h"

namespace ostrelcomm {

namespace {

using Tree = std::vector<std::shared_ptr<RemoteDirectoryBranch>>;

}  // namespace

Server_DirectoryTreeInformations Server_DirectoryTreeInformations::fromBody(ByteView body) {
    Server_DirectoryTreeInformations answer;
    answer.rawData = answer::decodeRecord<RawDirInfo>(body);
    return answer;
}

Tree Server_DirectoryTreeInformations::decryptAnswer(ByteView decryptPassword) {
    const EncryptionKey umk = EncryptionKey::unwrapAes256(rawData.umk, decryptPassword);
    for (const RawMetadata& entry : rawData.metadata) {
        const EncryptionKey itemKey = EncryptionKey::unwrapAes256(entry.itemkey, umk.key.key.view());
        metadatas.insert_or_assign(entry.itemUUID, RemoteItemMetadata::decrypt(entry.metadata, itemKey,
                                                                               CipherAlgorithm::aes256, 32));
    }
    return prepareBranch(rawData.tree);
}

// With a list of what is left to fill rather than one call per level, so
// the stack stays flat however deep the tree.
Tree Server_DirectoryTreeInformations::prepareBranch(const std::vector<RawRemoteDirectoryBranch>& branches) const {
    Tree result;
    std::vector<std::pair<const std::vector<RawRemoteDirectoryBranch>*, Tree*>> toFill{{&branches, &result}};
    while (!toFill.empty()) {
        const auto [raws, nodes] = toFill.back();
        toFill.pop_back();
        nodes->reserve(raws->size());
        for (const RawRemoteDirectoryBranch& raw : *raws) {
            const auto entry = metadatas.find(raw.itemUUID);
            if (entry == metadatas.end()) throw json::DecodeError("a node of the tree has no metadata entry");
            nodes->push_back(std::make_shared<RemoteDirectoryBranch>(
                raw.itemUUID, RemoteDirectoryBranch::leafTypeFromTreeType(raw.type), entry->second, Tree{}));
            // Each node is filled in from its own raw children, so the order
            // of the answer holds whatever order the nodes are visited in.
            if (!raw.branches.empty()) toFill.emplace_back(&raw.branches, &nodes->back()->branches);
        }
    }
    return result;
}

// Decoding and encoding recurse once per level: a body's depth is bounded by
// the parser before it is read.
void from_json(const json::Json& value, Server_DirectoryTreeInformations::RawRemoteDirectoryBranch& record) {
    json::asObject(value, "tree branch");
    record.itemUUID = json::requireString(value, "itemUUID");
    record.type = json::requireString(value, "type");
    const json::Json& branches = json::asArray(json::required(value, "branches"), "branches");
    record.branches.resize(branches.size());
    for (std::size_t i = 0; i < branches.size(); ++i) from_json(branches[i], record.branches[i]);
}

void from_json(const json::Json& value, Server_DirectoryTreeInformations::RawMetadata& record) {
    json::asObject(value, "tree metadata");
    record.itemUUID = json::requireString(value, "itemUUID");
    record.itemkey = json::requireString(value, "itemkey");
    record.metadata = json::requireBase64(value, "metadata");
}

void from_json(const json::Json& value, Server_DirectoryTreeInformations::RawDirInfo& record) {
    record.umk = json::requireString(value, "umk");
    const json::Json& tree = json::asArray(json::required(value, "tree"), "tree");
    record.tree.resize(tree.size());
    for (std::size_t i = 0; i < tree.size(); ++i) from_json(tree[i], record.tree[i]);
    const json::Json& metadata = json::asArray(json::required(value, "metadata"), "metadata");
    record.metadata.resize(metadata.size());
    for (std::size_t i = 0; i < metadata.size(); ++i) from_json(metadata[i], record.metadata[i]);
}

void to_json(json::OrderedJson& value, const Server_DirectoryTreeInformations::RawRemoteDirectoryBranch& record) {
    value = json::OrderedJson::object();
    value["itemUUID"] = record.itemUUID;
    value["type"] = record.type;
    value["branches"] = json::OrderedJson::array();
    for (const auto& branch : record.branches) value["branches"].push_back(branch);
}

void to_json(json::OrderedJson& value, const Server_DirectoryTreeInformations::RawMetadata& record) {
    value = json::OrderedJson::object();
    value["itemUUID"] = record.itemUUID;
    value["itemkey"] = record.itemkey;
    json::putBase64(value, "metadata", record.metadata);
}

void to_json(json::OrderedJson& value, const Server_DirectoryTreeInformations::RawDirInfo& record) {
    value = json::OrderedJson::object();
    value["umk"] = record.umk;
    value["tree"] = json::OrderedJson::array();
    for (const auto& branch : record.tree) value["tree"].push_back(branch);
    value["metadata"] = json::OrderedJson::array();
    for (const auto& entry : record.metadata) value["metadata"].push_back(entry);
}

}  // namespace ostrelcomm
