#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace devserver {

// How one signature header of an answer is spoiled.
struct HeaderTamper {
    enum class Mode {
        none,
        drop,       // left out
        corrupt,    // "x-sb-auth", "x-sb-payload-sha256": one hex digit changed;
                    // "x-sb-auth-headers": its last name left out
        upperCase,  // the value in upper case
        replace,    // the value replaced by `value`
    };
    Mode mode = Mode::none;
    std::string value;

    static HeaderTamper drop() { return {Mode::drop, {}}; }
    static HeaderTamper corrupt() { return {Mode::corrupt, {}}; }
    static HeaderTamper upperCase() { return {Mode::upperCase, {}}; }
    static HeaderTamper replace(std::string v) { return {Mode::replace, std::move(v)}; }
};

// A misbehaviour injected for one (method, path). The body digest is spoiled
// before the answer is signed (so the signature holds and the digest check is
// what fails); the signature headers after.
struct Fault {
    // Answer with this status and the protocol's error report instead of
    // asking the endpoint (400 when only an exception is given).
    std::optional<int> status;
    std::optional<std::string> exceptionName;
    std::optional<std::string> exceptionMessage;
    std::optional<std::string> extInfo;
    // Answer with this body (and `contentType`) instead of an error report.
    std::optional<std::string> rawBody;
    std::optional<std::string> contentType;
    bool omitContentType = false;

    HeaderTamper auth;           // "x-sb-auth"
    HeaderTamper authHeaders;    // "x-sb-auth-headers"
    HeaderTamper payloadSha256;  // "x-sb-payload-sha256"
    std::optional<std::string> action;    // signed in place of the endpoint's "x-sb-action"
    std::optional<std::string> username;  // signed in place of the echoed "x-sb-username"
    // Other protocol headers of the answer ("x-sb-blocknum", …, lower-case),
    // spoiled before the answer is signed: the signature holds and the
    // client's own reading of the header is what meets them.
    std::map<std::string, HeaderTamper> answerHeaders;
    // One byte of the answer body changed before the body is hashed and the
    // answer signed: a block damaged at its source, which every transport
    // check passes.
    bool flipBodyByte = false;

    // Close the connection without a byte of answer.
    bool dropConnection = false;
    // Hold the request until DevServer::releaseStalls() or stop(), then answer.
    bool stall = false;
    // Send the answer body a byte at a time, one every `trickleInterval`,
    // until released.
    bool trickle = false;
    std::chrono::milliseconds trickleInterval{20};

    // Apply to this many requests only, then disappear; absent: until cleared.
    std::optional<int> times;

    static Fault exception(int status, std::string name, std::string message, std::string extInfo = {}) {
        Fault f;
        f.status = status;
        f.exceptionName = std::move(name);
        f.exceptionMessage = std::move(message);
        f.extInfo = std::move(extInfo);
        return f;
    }
    static Fault sessionExpired() { return exception(403, "AccessDeniedException", "Session expired"); }
    static Fault badChecksum() {
        return exception(400, "BadChecksumException", "The block's checksum does not match its content");
    }
    static Fault stalled() {
        Fault f;
        f.stall = true;
        return f;
    }
    static Fault droppedConnection() {
        Fault f;
        f.dropConnection = true;
        return f;
    }
};

}  // namespace devserver
