#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/SessionTable.h"

namespace devserver {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A request as an endpoint sees it, after the server's own checks passed.
struct ServerRequest {
    std::string method;
    // Below the base path: "/dir/list/" for "/v1/dir/list/".
    std::string path;
    // Names as the client wrote them.
    HeaderList headers;
    std::string body;
    // Present when the request was signed with the key of this session and the
    // signature and body digest checked out.
    std::optional<Session> session;

    // First value of a header, name compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
    // The value of "x-sb-" + key.
    std::optional<std::string> protocolHeader(std::string_view key) const;
};

// What an endpoint answers.
struct Reply {
    int status = 200;
    // Absent: no "Content-Type" (then the body must be empty, or the HTTP
    // layer labels it text/plain).
    std::optional<std::string> contentType = std::string("application/json");
    // Extra answer headers. "x-sb-…" names go out lower-cased and signed;
    // others are sent as written and not signed.
    HeaderList headers;
    std::string body;

    static Reply json(const nlohmann::json& value, int status = 200);
    static Reply bytes(std::string body, std::string contentType = "application/octet-stream");
    // The protocol's error report: {"code","message","extInfo"}, all three keys.
    static Reply error(int status, std::string code, std::string message, std::string extInfo = {});
    Reply& with(std::string name, std::string value);
};

// Thrown by an endpoint to answer with the protocol's error report.
class ProtocolError : public std::runtime_error {
public:
    ProtocolError(int status, std::string code, std::string message, std::string extInfo = {});
    int status() const { return status_; }
    const std::string& code() const { return code_; }
    const std::string& extInfo() const { return extInfo_; }
    Reply toReply() const;

private:
    int status_;
    std::string code_;
    std::string extInfo_;
};

// Whether an endpoint needs a signed request. An open endpoint still checks a
// signature that a request carries, and signs the answer to it.
enum class Access { open, session };

using Handler = std::function<Reply(const ServerRequest&)>;

struct Endpoint {
    // Echoed in "x-sb-action" of every answer of the endpoint.
    std::string action;
    Access access = Access::session;
    Handler handler;
};

}  // namespace devserver
