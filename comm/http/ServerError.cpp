#include "http/ServerError.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

ServerError::ServerError(ByteView body) : answer(answer::decodeRecord<Answer>(body)) {}

void from_json(const json::Json& value, ServerError::Answer& answer) {
    answer.code = json::requireString(value, "code");
    answer.message = json::requireString(value, "message");
    answer.extInfo = json::requireString(value, "extInfo");
}

void to_json(json::OrderedJson& value, const ServerError::Answer& answer) {
    value = json::OrderedJson::object();
    value["code"] = answer.code;
    value["message"] = answer.message;
    value["extInfo"] = answer.extInfo;
}

}  // namespace ostrelcomm
