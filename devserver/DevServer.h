#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devserver/DataFolder.h"
#include "devserver/Exchange.h"
#include "devserver/Fault.h"
#include "devserver/ItemStore.h"
#include "devserver/SessionTable.h"
#include "devserver/TrustTable.h"
#include "devserver/Users.h"

namespace devserver {

struct DevServerOptions {
    std::string host = "127.0.0.1";
    // 0: any free port, chosen at start.
    int port = 0;
    std::string basePath = "/v1";
    std::size_t threads = 32;
    // How long an idle kept-alive connection stays open (also bounds how long
    // stop() waits for a client that keeps one open).
    int keepAliveSeconds = 2;
    std::size_t maximumBodySize = std::size_t{64} * 1024 * 1024;
    // Keep every request (with its body) for requests(); a long-running server
    // that nobody inspects turns this off.
    bool recordRequests = true;
    // Where stored blocks go (DataFolder), kept when the server stops; absent:
    // a new temporary folder, removed when the server stops.
    std::optional<std::string> dataDir;
    // Adds the raw route "/bench/NAME" outside the base path, for measuring the
    // client beside a plain HTTPS tool: PUT streams the body into
    // <data folder>/bench/NAME, GET streams that file back; no signature, no
    // digest, no size limit. The protocol's routes keep maximumBodySize.
    bool benchRoute = false;
};

struct RecordedRequest {
    std::string method;
    // Below the base path when it starts with it ("/dir/list/"), else as received.
    std::string path;
    // As received, with the query.
    std::string target;
    // Names as the client wrote them (in name order: the HTTP layer does not
    // keep the order of arrival).
    HeaderList headers;
    std::string body;
    // The client's port: equal for requests that came over one connection.
    int remotePort = 0;
    // The serial number (from 1) of the connection the request came over,
    // in the order the server accepted them.
    std::uint64_t connection = 0;

    // Header values by name compared without regard to case (all of them).
    std::vector<std::string> values(std::string_view name) const;
    bool has(std::string_view name) const { return !values(name).empty(); }
};

// The stand-in server: HTTPS on loopback with a certificate authority made at
// start, routing by (method, path) below the base path, the protocol's request
// checks and answer signature, a session table, a record of every request, and
// faults injected per (method, path). Thread-safe; endpoints run on a pool.
class DevServer {
public:
    explicit DevServer(DevServerOptions options = {});
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Makes the CA and certificate, binds and starts serving. Throws
    // std::runtime_error when it cannot.
    void start();
    // Releases every stalled request, then stops and waits for the pool.
    void stop();
    bool isRunning() const;

    int port() const;
    std::string origin() const;   // "https://127.0.0.1:PORT"
    std::string baseUrl() const;  // origin + base path
    const DevServerOptions& options() const;
    const std::string& caCertificatePem() const;
    // Throws std::runtime_error when the file cannot be written.
    void writeCaCertificate(const std::string& path) const;

    // Registers (or replaces) the endpoint for `method` and `path` below the
    // base path, e.g. route("GET", "/dir/list/", {...}).
    void route(const std::string& method, const std::string& path, Endpoint endpoint);

    SessionTable& sessions();
    // The accounts the login knows; tests add users here directly.
    UserStore& users();
    // Every user's folders and files; tests seed and read items here.
    ItemStore& items();
    // The bodies of stored blocks; open between start() and stop().
    DataFolder& dataFolder();

    // Connections accepted so far (each one counted when accepted, whatever
    // came of it afterwards).
    std::size_t acceptedConnections() const;
    // Each user's trusted peers.
    TrustTable& trusts();

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    void clearRequests();
    bool waitForRequestCount(std::size_t count, std::chrono::milliseconds guard) const;

    void setFault(const std::string& method, const std::string& path, Fault fault);
    void clearFault(const std::string& method, const std::string& path);
    void clearFaults();
    // Requests held by a stall right now.
    std::size_t stalledRequests() const;
    bool waitForStalledRequests(std::size_t count, std::chrono::milliseconds guard) const;
    void releaseStalls();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace devserver
