#include "devserver/Users.h"

#include <nlohmann/json.hpp>

#include "srp/SaltedVerificationKey.h"

namespace devserver {

namespace {

using ostrelcomm::DigestAlgorithm;
using ostrelcomm::SRP::Group;

const char* groupName(const Group& group) {
    switch (group.groupCase()) {
        case Group::Case::N1024: return "N1024";
        case Group::Case::N1536: return "N1536";
        case Group::Case::N2048: return "N2048";
        case Group::Case::N3072: return "N3072";
        case Group::Case::N4096: return "N4096";
        case Group::Case::N6144: return "N6144";
        case Group::Case::N8192: return "N8192";
        case Group::Case::custom: return "Custom";
    }
    return "Custom";
}

const char* digestName(DigestAlgorithm digest) {
    switch (digest) {
        case DigestAlgorithm::md2: return "md2";
        case DigestAlgorithm::md4: return "md4";
        case DigestAlgorithm::md5: return "md5";
        case DigestAlgorithm::sha1: return "sha1";
        case DigestAlgorithm::sha224: return "sha224";
        case DigestAlgorithm::sha256: return "sha256";
        case DigestAlgorithm::sha384: return "sha384";
        case DigestAlgorithm::sha512: return "sha512";
    }
    return "";
}

}  // namespace

std::string authParmsText(const Group& group, DigestAlgorithm digest) {
    nlohmann::ordered_json text;
    text["group"] = groupName(group);
    text["digestAlgo"] = digestName(digest);
    return text.dump();
}

std::optional<std::pair<Group, DigestAlgorithm>> parseAuthParmsText(std::string_view text) {
    const auto parms = nlohmann::json::parse(text, nullptr, false);
    if (!parms.is_object()) return std::nullopt;
    const auto group = parms.find("group");
    const auto digest = parms.find("digestAlgo");
    if (group == parms.end() || digest == parms.end() || !group->is_string() || !digest->is_string())
        return std::nullopt;
    std::optional<Group> foundGroup;
    for (auto c : {Group::Case::N1024, Group::Case::N1536, Group::Case::N2048, Group::Case::N3072,
                   Group::Case::N4096, Group::Case::N6144, Group::Case::N8192}) {
        const Group candidate = Group::named(c);
        if (*group == groupName(candidate)) foundGroup = candidate;
    }
    std::optional<DigestAlgorithm> foundDigest;
    for (auto d : {DigestAlgorithm::md2, DigestAlgorithm::md4, DigestAlgorithm::md5, DigestAlgorithm::sha1,
                   DigestAlgorithm::sha224, DigestAlgorithm::sha256, DigestAlgorithm::sha384,
                   DigestAlgorithm::sha512}) {
        if (*digest == digestName(d)) foundDigest = d;
    }
    if (!foundGroup || !foundDigest) return std::nullopt;
    return std::make_pair(*foundGroup, *foundDigest);
}

User User::withPassword(std::string name, std::string_view password, Group group, DigestAlgorithm digest) {
    auto key = ostrelcomm::SRP::createSaltedVerificationKey(name, password, std::nullopt, group, digest);
    User user;
    user.name = std::move(name);
    user.salt = std::move(key.salt);
    user.verifier = std::move(key.verificationKey);
    user.authParms = authParmsText(group, digest);
    user.group = std::move(group);
    user.digest = digest;
    return user;
}

bool UserStore::add(User user) {
    std::lock_guard lock(mutex_);
    std::string name = user.name;
    return users_.emplace(std::move(name), std::move(user)).second;
}

void UserStore::put(User user) {
    std::lock_guard lock(mutex_);
    std::string name = user.name;
    users_.insert_or_assign(std::move(name), std::move(user));
}

std::optional<User> UserStore::find(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = users_.find(name);
    if (it == users_.end()) return std::nullopt;
    return it->second;
}

std::optional<User> UserStore::findByUuid(const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    if (uuid.empty()) return std::nullopt;
    for (const auto& [name, user] : users_)
        if (user.uuid == uuid) return user;
    return std::nullopt;
}

bool UserStore::modify(const std::string& name, const std::function<void(User&)>& change) {
    std::lock_guard lock(mutex_);
    auto it = users_.find(name);
    if (it == users_.end()) return false;
    change(it->second);
    return true;
}

bool UserStore::recordLogin(const std::string& name, LoginRecord record) {
    return modify(name, [&](User& user) { user.logins.push_back(std::move(record)); });
}

bool UserStore::remove(const std::string& name) {
    std::lock_guard lock(mutex_);
    return users_.erase(name) > 0;
}

void UserStore::clear() {
    std::lock_guard lock(mutex_);
    users_.clear();
}

std::size_t UserStore::size() const {
    std::lock_guard lock(mutex_);
    return users_.size();
}

}  // namespace devserver
