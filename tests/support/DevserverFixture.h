#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "devserver/DevServer.h"
#include "platform/UrlSession.h"

struct ssl_st;

namespace testsupport {

// The stand-in server on an ephemeral loopback port, started at construction
// with a CA made for it, its CA certificate written to a temporary file that
// is removed again with the server. The protocol's endpoints are installed
// unless asked otherwise; a test adds its own with server().route(...).
class RunningDevserver {
public:
    explicit RunningDevserver(devserver::DevServerOptions options = {}, bool protocolEndpoints = true);
    ~RunningDevserver();
    RunningDevserver(const RunningDevserver&) = delete;
    RunningDevserver& operator=(const RunningDevserver&) = delete;

    devserver::DevServer& server() { return server_; }
    devserver::DevServer* operator->() { return &server_; }
    // The PEM file of the CA that signed the server's certificate.
    const std::string& caFile() const { return caFile_; }
    // The base URL followed by `path` ("/dir/list/").
    std::string url(std::string_view path) const;
    // An ephemeral configuration that trusts this server's CA.
    std::shared_ptr<ostrelcomm::UrlSessionConfiguration> sessionConfiguration() const;

private:
    devserver::DevServer server_;
    std::string directory_;
    std::string caFile_;
};

// Opens a TLS connection of its own to `server` (trusting its CA) and hands
// the session to `use` once the handshake is done; closes it after. Nothing
// is called when the connection or the handshake fails.
void withRawTls(const RunningDevserver& server, const std::function<void(ssl_st* ssl)>& use);

// Sends `bytes` as they are over a TLS connection of its own to `server` and
// hands each piece of the answer to `onRead` as it arrives, until it returns
// false or the server ends the connection; for requests no HTTP client
// would send, and answers read while they arrive.
void exchangeRawOverTls(const RunningDevserver& server, const std::string& bytes,
                        const std::function<bool(std::string_view piece)>& onRead);

// A test with its own running devserver.
class DevserverTest : public ::testing::Test {
protected:
    RunningDevserver devserver;
};

}  // namespace testsupport
