#pragma once

#include <any>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "json/StrictJson.h"
#include "platform/Bytes.h"
#include "tree/RemoteDirectoryBranch.h"
#include "tree/RemoteItemMetadata.h"

namespace ostrelcomm {

// Answer of the folder tree query: the subtree below one folder, nested to any
// depth, and apart from it the wrapped key and sealed metadata of every item
// in it. The body is the record itself; every key is required.
class Server_DirectoryTreeInformations {
public:
    // One node of the answer's tree: its children under "branches", an empty
    // list for a node without any.
    struct RawRemoteDirectoryBranch {
        std::string itemUUID;
        // "DIRECTORY", "FILE" or any other word.
        std::string type;
        std::vector<RawRemoteDirectoryBranch> branches;
    };
    // One item's key, wrapped under the user master key, and its sealed metadata.
    struct RawMetadata {
        std::string itemUUID;
        std::string itemkey;
        Bytes metadata;
    };
    struct RawDirInfo {
        // The user master key wrapped under the password key.
        std::string umk;
        // The top folder's children.
        std::vector<RawRemoteDirectoryBranch> tree;
        std::vector<RawMetadata> metadata;
    };

    RawDirInfo rawData;
    // The decrypted metadata by item identifier, filled by decryptAnswer.
    std::map<std::string, RemoteItemMetadata> metadatas;

    // Decodes the body. Throws json::DecodeError. The parser refuses a body
    // nested deeper than its bound before reading it, which also bounds how
    // deep the decoding of the tree recurses.
    static Server_DirectoryTreeInformations fromBody(ByteView body);
    std::any getAnswer() const { return rawData; }

    // Under the 32-byte password key: unwraps the user master key, then for
    // every "metadata" entry in order unwraps its item key under the master
    // key's 32 key bytes and decrypts its metadata under the item key, a later
    // entry of an identifier replacing an earlier one; then builds the nodes
    // in the answer's order. Nothing here has a placeholder: a key or metadata
    // that does not open, or a node without an entry, fails the whole answer
    // (KeyDecodeError, CryptoError, RemoteItemMetadata::MetadataError,
    // json::DecodeError).
    std::vector<std::shared_ptr<RemoteDirectoryBranch>> decryptAnswer(ByteView decryptPassword);

private:
    std::vector<std::shared_ptr<RemoteDirectoryBranch>> prepareBranch(
        const std::vector<RawRemoteDirectoryBranch>& branches) const;
};

void from_json(const json::Json& value, Server_DirectoryTreeInformations::RawRemoteDirectoryBranch& record);
void from_json(const json::Json& value, Server_DirectoryTreeInformations::RawMetadata& record);
void from_json(const json::Json& value, Server_DirectoryTreeInformations::RawDirInfo& record);
void to_json(json::OrderedJson& value, const Server_DirectoryTreeInformations::RawRemoteDirectoryBranch& record);
void to_json(json::OrderedJson& value, const Server_DirectoryTreeInformations::RawMetadata& record);
void to_json(json::OrderedJson& value, const Server_DirectoryTreeInformations::RawDirInfo& record);

}  // namespace ostrelcomm
