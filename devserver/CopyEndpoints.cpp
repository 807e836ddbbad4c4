#include "devserver/CopyEndpoints.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"
#include "devserver/Signing.h"
#include "devserver/TransferEndpoints.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

ProtocolError noSuchFile() { return ProtocolError(404, "ItemNotFoundException", "No such file"); }
ProtocolError noSuchFolder() { return ProtocolError(404, "ItemNotFoundException", "No such folder"); }

// The signing user, who owns items only with an account identifier.
User owner(DevServer& server, const ServerRequest& request) {
    User user = sessionUser(server, request);
    if (user.uuid.empty()) throw noSuchUser();
    return user;
}

OrderedJson prepareCopy(DevServer& server, const User& user, const std::string& uuid) {
    const Readable file = readableFile(server, user, uuid);
    OrderedJson answer;
    answer["itemUUID"] = file.item.uuid;
    answer["fileSize"] = file.item.size;
    answer["itemkey"] = file.itemkey;
    if (file.sharer) {
        answer["pubshkey"] = base64Encode(file.sharer->pubshkey);
        answer["privshkey"] = user.privshkey;
    }
    answer["umk"] = user.umk;
    return answer;
}

// The blocks of the source placed under the copy's identifier before the
// copy exists, so that no reader ever sees the copy without its content.
// Removes what it placed when a block is missing or cannot be written.
void copyBlocks(DataFolder& data, const Item& source, const std::string& copy) {
    try {
        for (std::size_t n = 0; n < source.chunks.size(); ++n) {
            auto block = data.openBlock(source.uuid, n);
            auto body = block ? block->readAll() : std::nullopt;
            if (!body) throw noSuchFile();
            data.placeBlock(data.stageBlock(copy, n, *body), copy, n,
                            block->sha256().empty() ? sha256Hex(*body) : block->sha256());
        }
    } catch (...) {
        data.removeItem(copy);
        throw;
    }
}

OrderedJson executeCopy(DevServer& server, const User& user, const std::string& uuid, std::string_view body) {
    const Json value = objectWithKeys(body, {"parentUUID", "itemkey"});
    const std::string parent = stringMember(value, "parentUUID");
    std::string itemkey = wrappedKeyMember(value, "itemkey");
    const Readable source = readableFile(server, user, uuid);
    if (!server.items().isFolder(user.uuid, parent)) throw noSuchFolder();

    Item copy;
    copy.uuid = newUuid();
    copy.owner = user.uuid;
    copy.kind = ItemKind::file;
    copy.parent = parent;
    copy.attrib = source.item.attrib;
    copy.itemkey = std::move(itemkey);
    copy.metadata = source.item.metadata;
    copy.thumbnail = source.item.thumbnail;
    copy.size = source.item.size;
    copy.chunks = source.item.chunks;
    copy.treehash = source.item.treehash;

    const std::string copyUUID = copy.uuid;
    DataFolder& data = server.dataFolder();
    copyBlocks(data, source.item, copyUUID);
    // The parent may have gone since the check above.
    auto stored = server.items().add(std::move(copy));
    if (!stored) {
        data.removeItem(copyUUID);
        throw noSuchFolder();
    }
    OrderedJson answer;
    answer["itemUUID"] = stored->uuid;
    answer["parentUUID"] = stored->parent;
    return answer;
}

}  // namespace

void installCopyEndpoints(DevServer& server) {
    DevServer* s = &server;
    server.route("GET", "/file/copy_prepare/",
                 Endpoint{"FILE_COPY_PREPARE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(prepareCopy(*s, user, requiredHeader(request, "item-uuid")));
                 }});
    server.route("PUT", "/file/copy_execute/",
                 Endpoint{"FILE_COPY_EXECUTE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(executeCopy(*s, user, requiredHeader(request, "item-uuid"), request.body));
                 }});
}

}  // namespace devserver
