#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

struct Session {
    std::string id;
    // The login session's key: signs the requests and the answers.
    std::vector<std::uint8_t> key;
    std::string userName;
    // An expired session's requests are refused with "Session expired".
    bool expired = false;
};

// Login sessions by id. Thread-safe.
class SessionTable {
public:
    void add(Session session);
    std::optional<Session> find(const std::string& id) const;
    bool expire(const std::string& id);
    bool remove(const std::string& id);
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Session> sessions_;
};

}  // namespace devserver
