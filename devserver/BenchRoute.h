#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace devserver {

class DataFolder;

// The raw byte route of DevServerOptions::benchRoute, on the HTTP layer
// itself: bodies are streamed to and from disk, never held whole, so a
// transfer of any size measures the connection rather than this server.
//
// The HTTP layer's body limit applies to streamed bodies too, so it is lifted
// for the whole server; every request that is not for this route is then held
// to `protocolBodyLimit` before its body is read.
namespace benchroute {

inline constexpr char kPrefix[] = "/bench/";
// GET: the handler times below as text, then cleared.
inline constexpr char kTimesPath[] = "/bench-times";

// Time spent in the protocol's handlers, by "METHOD path", from the moment
// the HTTP layer hands the request over (its body read) to the answer built:
// the server's own share of a client's transfer.
class HandlerTimes {
public:
    void add(const std::string& route, std::chrono::steady_clock::duration spent);
    // "METHOD path count seconds" lines, then everything is forgotten.
    std::string take();

private:
    struct Total {
        std::uint64_t count = 0;
        std::chrono::steady_clock::duration spent{};
    };
    std::mutex mutex_;
    std::map<std::string, Total> totals_;
};

// Registers the route and the times' route (before the catch-all routes,
// which would otherwise take their requests) and the guard of the other
// routes' bodies.
void install(httplib::Server& server, DataFolder& data, HandlerTimes& times, std::size_t protocolBodyLimit);

// Where the body named `name` is kept; throws std::runtime_error for a name
// that is not a plain file name (letters, digits, '-', '_' and '.', not
// starting with '.').
std::filesystem::path fileFor(const DataFolder& data, const std::string& name);

}  // namespace benchroute
}  // namespace devserver
