#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/DataFolder.h"
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
    // The body's SHA-256 (lower-case hex) when it was taken while the body
    // arrived; empty: not known, hash the body.
    std::string bodySha256;
    // The body written into the data folder as it arrived, for an endpoint
    // that stores it as a file (DataFolder::stageBlock); none for most.
    std::shared_ptr<DataFolder::Spool> spool;
    // Whether an answer may send its body from a StreamedBody: false while a
    // fault or anything else must see the body whole first.
    bool mayStream = false;

    // First value of a header, name compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
    // The value of "x-sb-" + key.
    std::optional<std::string> protocolHeader(std::string_view key) const;
};

// An answer body that is read in pieces while it is sent: a stored block
// sent from its file, its length and digest known before the first byte.
struct StreamedBody {
    std::uint64_t size = 0;
    // Lower-case hex SHA-256 of the `size` bytes that `read` yields.
    std::string sha256;
    // Up to `length` bytes from `offset` into `out`: the count read, 0 when
    // the source ended early or failed (the answer then ends early too).
    std::function<std::size_t(std::uint64_t offset, char* out, std::size_t length)> read;
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
    // In place of `body`, when present.
    std::shared_ptr<const StreamedBody> streamed;

    static Reply json(const nlohmann::json& value, int status = 200);
    static Reply bytes(std::string body, std::string contentType = "application/octet-stream");
    static Reply stream(std::shared_ptr<const StreamedBody> body, std::string contentType = "application/octet-stream");
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
    // The handler stores the body as a file: it is written into a spool file
    // while it arrives (ServerRequest::spool).
    bool spoolsBody = false;
};

}  // namespace devserver
