#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/Digest.h"
#include "srp/Group.h"

namespace devserver {

// What the server keeps of an account for its login: the SRP salt and
// verifier, the group and digest they were made with, and the parameter text
// the login's first answer hands the client.
struct User {
    std::string name;
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> verifier;
    ostrelcomm::SRP::Group group = ostrelcomm::SRP::Group::N2048();
    ostrelcomm::DigestAlgorithm digest = ostrelcomm::DigestAlgorithm::sha256;
    // {"group": …, "digestAlgo": …}, sent as it is. Tests may spoil it.
    std::string authParms;

    // A user with a fresh salt and the verifier of `password`, as account
    // creation would store it.
    static User withPassword(std::string name, std::string_view password,
                             ostrelcomm::SRP::Group group = ostrelcomm::SRP::Group::N2048(),
                             ostrelcomm::DigestAlgorithm digest = ostrelcomm::DigestAlgorithm::sha256);
};

// The parameter text of a group and a digest: {"group":"N2048","digestAlgo":"sha256"}.
std::string authParmsText(const ostrelcomm::SRP::Group& group, ostrelcomm::DigestAlgorithm digest);

// Accounts by user name (exact). Thread-safe.
class UserStore {
public:
    // False, and nothing changed, when the name is taken.
    bool add(User user);
    // Adds or replaces.
    void put(User user);
    std::optional<User> find(const std::string& name) const;
    bool remove(const std::string& name);
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, User> users_;
};

}  // namespace devserver
