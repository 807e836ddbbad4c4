#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/Digest.h"
#include "srp/Group.h"

namespace devserver {

// One entry of an account's login history, as the history query sends it.
struct LoginRecord {
    std::chrono::sys_seconds timestamp{};
    // "FAILED", "SUCCESS" or "ACTUAL" (the current login).
    std::string result;
    std::string extdiag;
};

// What the server keeps of an account: for its login the SRP salt and
// verifier, the group and digest they were made with, and the parameter text
// the login's first answer hands the client; for the account itself (filled
// by account creation) its identifier, its wrapped keys, its public sharing
// key, its plan and figures, and its login history.
struct User {
    std::string name;
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> verifier;
    ostrelcomm::SRP::Group group = ostrelcomm::SRP::Group::N2048();
    ostrelcomm::DigestAlgorithm digest = ostrelcomm::DigestAlgorithm::sha256;
    // {"group": …, "digestAlgo": …}, sent as it is. Tests may spoil it.
    std::string authParms;

    std::string uuid;
    // The user master key and the private sharing key, each the wrapped-key
    // JSON text {"iv","key"} the client made; the server cannot read them.
    std::string umk;
    std::string privshkey;
    std::vector<std::uint8_t> pubshkey;
    // The plan's name, sent as the profile's "profilename".
    std::string profilename = "Free";
    std::chrono::sys_seconds since{};
    std::optional<std::chrono::sys_seconds> currentplanexpiry;
    std::uint64_t diskspace = std::uint64_t{10} * 1024 * 1024 * 1024;
    std::uint64_t usedspace = 0;
    std::uint64_t directories = 0;
    std::uint64_t files = 0;
    // Oldest first; the history query answers in this order.
    std::vector<LoginRecord> logins;

    // A user with a fresh salt and the verifier of `password`, as account
    // creation would store it.
    static User withPassword(std::string name, std::string_view password,
                             ostrelcomm::SRP::Group group = ostrelcomm::SRP::Group::N2048(),
                             ostrelcomm::DigestAlgorithm digest = ostrelcomm::DigestAlgorithm::sha256);
};

// The parameter text of a group and a digest: {"group":"N2048","digestAlgo":"sha256"}.
std::string authParmsText(const ostrelcomm::SRP::Group& group, ostrelcomm::DigestAlgorithm digest);
// The group and digest a parameter text names (exact names, no "Custom");
// absent for anything else.
std::optional<std::pair<ostrelcomm::SRP::Group, ostrelcomm::DigestAlgorithm>> parseAuthParmsText(
    std::string_view text);

// Accounts by user name (exact). Thread-safe.
class UserStore {
public:
    // False, and nothing changed, when the name is taken.
    bool add(User user);
    // Adds or replaces.
    void put(User user);
    std::optional<User> find(const std::string& name) const;
    // The user whose account identifier is `uuid` (never the empty one).
    std::optional<User> findByUuid(const std::string& uuid) const;
    // Runs `change` on the stored user, under the store's lock; false when
    // there is no such user. `change` must not call the store.
    bool modify(const std::string& name, const std::function<void(User&)>& change);
    // Appends to the user's login history; false when there is no such user.
    bool recordLogin(const std::string& name, LoginRecord record);
    bool remove(const std::string& name);
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, User> users_;
};

}  // namespace devserver
