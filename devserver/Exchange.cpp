#include "devserver/Exchange.h"

#include "devserver/Signing.h"

namespace devserver {

namespace {

bool sameName(std::string_view a, std::string_view b) { return lowerAscii(a) == lowerAscii(b); }

}  // namespace

std::optional<std::string> ServerRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) return value;
    }
    return std::nullopt;
}

std::optional<std::string> ServerRequest::protocolHeader(std::string_view key) const {
    return header("x-sb-" + std::string(key));
}

Reply Reply::json(const nlohmann::json& value, int status) {
    Reply reply;
    reply.status = status;
    reply.body = value.dump();
    return reply;
}

Reply Reply::bytes(std::string body, std::string contentType) {
    Reply reply;
    reply.contentType = std::move(contentType);
    reply.body = std::move(body);
    return reply;
}

Reply Reply::stream(std::shared_ptr<const StreamedBody> body, std::string contentType) {
    Reply reply;
    reply.contentType = std::move(contentType);
    reply.streamed = std::move(body);
    return reply;
}

Reply Reply::error(int status, std::string code, std::string message, std::string extInfo) {
    nlohmann::ordered_json report;
    report["code"] = std::move(code);
    report["message"] = std::move(message);
    report["extInfo"] = std::move(extInfo);
    Reply reply;
    reply.status = status;
    reply.body = report.dump();
    return reply;
}

Reply& Reply::with(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

ProtocolError::ProtocolError(int status, std::string code, std::string message, std::string extInfo)
    : std::runtime_error(std::move(message)), status_(status), code_(std::move(code)), extInfo_(std::move(extInfo)) {}

Reply ProtocolError::toReply() const { return Reply::error(status_, code_, what(), extInfo_); }

}  // namespace devserver
