#pragma once

// What the end-to-end tests of the engine read back besides its
// notifications: the requests the stand-in server saw for one user, and the
// last error the engine logged; and user names no other test of the program
// uses.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "devserver/DevServer.h"
#include "jobs/SrvComm.h"

namespace testsupport {

// `stem` followed by a number no other call of the program got.
inline std::string uniqueName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(++counter);
}

// The requests whose "x-sb-username" names `user`, in order of arrival.
inline std::vector<devserver::RecordedRequest> requestsOf(const devserver::DevServer& server, const std::string& user) {
    std::vector<devserver::RecordedRequest> out;
    for (auto& request : server.requests()) {
        auto names = request.values("x-sb-username");
        if (!names.empty() && names.front() == user) out.push_back(std::move(request));
    }
    return out;
}

// "METHOD path" of each request, in order.
inline std::vector<std::string> requestLines(const std::vector<devserver::RecordedRequest>& requests) {
    std::vector<std::string> out;
    for (const auto& r : requests) out.push_back(r.method + " " + r.path);
    return out;
}

// The last error event of an engine's log, if any.
inline std::optional<std::string> lastError(const ostrelcomm::SrvComm& engine) {
    auto events = engine.comLog().events();
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->type == ostrelcomm::Logger::EvtType::error) return it->description;
    return std::nullopt;
}

}  // namespace testsupport
