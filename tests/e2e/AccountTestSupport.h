#pragma once

// The account tests' common ground: the shared stand-in server, a recorder of
// every job notification an engine posts (with its payload), a login helper,
// and oracles for the key material written on OpenSSL and libsodium, never on
// the client's own key code.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/AccountEndpoints.h"
#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm::accounttest {

inline constexpr auto kGuard = std::chrono::seconds(30);

// The shared stand-in server; call before the program's first Http.
inline devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

// A user name no other test of the program uses.
inline std::string uniqueUser(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "acct-" + stem + "-" + std::to_string(++counter);
}

inline std::vector<devserver::RecordedRequest> requestsOf(const std::string& user) {
    std::vector<devserver::RecordedRequest> out;
    for (auto& request : server().requests()) {
        auto names = request.values("x-sb-username");
        if (!names.empty() && names.front() == user) out.push_back(std::move(request));
    }
    return out;
}

// "METHOD path" of each request, in order of arrival.
inline std::vector<std::string> requestLines(const std::vector<devserver::RecordedRequest>& requests) {
    std::vector<std::string> out;
    for (const auto& r : requests) out.push_back(r.method + " " + r.path);
    return out;
}

// One notification as posted.
struct Posted {
    std::string name;
    std::string result;
    std::optional<HTTPError> httpError;
    std::any customData;

    template <class T>
    const T* data() const {
        return std::any_cast<T>(&customData);
    }
    bool noData() const { return isNullObject(customData); }
};

// Records the job notifications of the account jobs, the login and the
// logout, and counts "jobQueueEmpty".
class Recorder {
public:
    explicit Recorder(std::shared_ptr<NotificationCenter> center) : center_(std::move(center)) {
        for (const char* name : {"userCreationTerminated", "userProfileDataAvailable", "peerShareData",
                                 "getUserSessionsData", "userModification", "userProfileDeleted", "SRPAuthenticated",
                                 "userLogout"})
            tokens_.push_back(center_->addObserver(name, [this](const Notification& n) { record(n); }));
        tokens_.push_back(center_->addObserver(kJobQueueEmptyNotification, [this](const Notification&) {
            std::lock_guard lock(mutex_);
            ++idle_;
            changed_.notify_all();
        }));
    }
    ~Recorder() {
        for (auto token : tokens_) center_->removeObserver(token);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<Posted> all() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    // "name:result" of each, in order, the login's "InProgress" left out.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& p : all())
            if (p.result != "InProgress") out.push_back(p.name + ":" + p.result);
        return out;
    }
    std::optional<Posted> last(const std::string& name) const {
        auto posted = all();
        for (auto it = posted.rbegin(); it != posted.rend(); ++it)
            if (it->name == name) return *it;
        return std::nullopt;
    }
    // Waits (hang guard only) until the engine has run dry once more.
    bool waitIdle() {
        std::unique_lock lock(mutex_);
        const std::size_t target = ++awaited_;
        return changed_.wait_for(lock, kGuard, [&] { return idle_ >= target; });
    }
    void clear() {
        std::lock_guard lock(mutex_);
        posted_.clear();
    }

private:
    void record(const Notification& n) {
        Posted p{n.name, "", std::nullopt, {}};
        if (const auto* result = userInfoValue<std::string>(n.userInfo, "Result")) p.result = *result;
        if (const auto* error = userInfoValue<HTTPError>(n.userInfo, "httpError")) p.httpError = *error;
        if (auto it = n.userInfo.find("CustomData"); it != n.userInfo.end()) p.customData = it->second;
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(p));
    }

    std::shared_ptr<NotificationCenter> center_;
    std::vector<NotificationCenter::Token> tokens_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Posted> posted_;
    std::size_t idle_ = 0;
    std::size_t awaited_ = 0;
};

// The last error event of an engine's log, if any.
inline std::optional<std::string> lastError(const SrvComm& engine) {
    auto events = engine.comLog().events();
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->type == Logger::EvtType::error) return it->description;
    return std::nullopt;
}

// Logs the engine in; true on "Authenticated".
inline bool login(SrvComm& engine, Recorder& recorder, const std::string& user, const std::string& password) {
    engine.auth_add(user, SecretBytes::fromText(password), SRPAuthMode::new_);
    if (!recorder.waitIdle()) return false;
    auto end = recorder.last("SRPAuthenticated");
    recorder.clear();
    return end && end->result == "Authenticated";
}

// A user made through the creation endpoint's own logic, with keys made on
// OpenSSL as a client would; returns its name.
inline std::string makeAccount(const std::string& stem, const std::string& password) {
    std::string name = uniqueUser(stem);
    devserver::addDemoUser(server().users(), name, password);
    return name;
}

// --- oracles ------------------------------------------------------------------------

// The password key: UTF-8 bytes padded with zeros to 32, SHA-256 when longer.
inline Bytes oraclePasswordKey(const std::string& password) {
    Bytes key(32, 0);
    if (password.size() > 32) {
        unsigned int n = 0;
        EVP_Digest(password.data(), password.size(), key.data(), &n, EVP_sha256(), nullptr);
    } else {
        std::copy(password.begin(), password.end(), key.begin());
    }
    return key;
}

// The plaintext (IV and key of the wrapped key object) of a wrapped-key JSON
// text, by AES-256-CBC with PKCS#7 under `key`; absent when it does not
// decrypt.
inline std::optional<Bytes> oracleUnwrap(const std::string& wrappedText, const Bytes& key) {
    const auto text = nlohmann::json::parse(wrappedText, nullptr, false);
    if (!text.is_object() || !text.contains("iv") || !text.contains("key")) return std::nullopt;
    auto iv = devserver::base64Decode(text["iv"].is_string() ? text["iv"].get<std::string>() : std::string("!"));
    auto cipher = devserver::base64Decode(text["key"].is_string() ? text["key"].get<std::string>() : std::string("!"));
    if (!iv || !cipher || iv->size() != 16) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes plain(cipher->size() + 16);
    int n = 0;
    int tail = 0;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv->data()) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &n, cipher->data(), static_cast<int>(cipher->size())) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &tail) != 1)
        return std::nullopt;
    plain.resize(static_cast<std::size_t>(n + tail));
    return plain;
}

// The X25519 public key of a private key, by libsodium.
inline Bytes oraclePublicKey(const Bytes& privateKey) {
    Bytes out(crypto_scalarmult_BYTES);
    if (sodium_init() < 0 || privateKey.size() != crypto_scalarmult_SCALARBYTES ||
        crypto_scalarmult_base(out.data(), privateKey.data()) != 0)
        return {};
    return out;
}

// The private sharing key (the 32 bytes after the carrier's IV) in a wrapped
// "privshkey".
inline std::optional<Bytes> oraclePrivateKey(const std::string& privshkey, const std::string& password) {
    auto plain = oracleUnwrap(privshkey, oraclePasswordKey(password));
    if (!plain || plain->size() != 48) return std::nullopt;
    return Bytes(plain->begin() + 16, plain->end());
}

}  // namespace ostrelcomm::accounttest
