#include "http/Server_GenericConfirmation.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_GenericConfirmation Server_GenericConfirmation::fromBody(ByteView body) {
    return Server_GenericConfirmation{answer::decodeRecord<OpData>(body)};
}

void from_json(const json::Json& value, Server_GenericConfirmation::OpData& opdata) {
    opdata.parentUUID = json::optionalString(value, "parentUUID");
    opdata.itemUUID = json::requireString(value, "itemUUID");
}

void to_json(json::OrderedJson& value, const Server_GenericConfirmation::OpData& opdata) {
    value = json::OrderedJson::object();
    json::putOptional(value, "parentUUID", opdata.parentUUID);
    value["itemUUID"] = opdata.itemUUID;
}

}  // namespace ostrelcomm
