#include "support/CryptoOracle.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sodium.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"

namespace testsupport {

namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::optional<Bytes> cbc(int encrypt, const Bytes& key, const Bytes& iv, const Bytes& input) {
    if (key.size() != 32 || iv.size() != 16) return std::nullopt;
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(input.size() + 16);
    int n = 0;
    int tail = 0;
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypt) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n, input.data(), static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace

Bytes oracleRandom(std::size_t count) {
    Bytes out(count);
    if (count > 0 && RAND_bytes(out.data(), static_cast<int>(count)) != 1) throw std::runtime_error("RAND_bytes");
    return out;
}

Bytes oraclePasswordKey(const std::string& password) {
    Bytes key(32, 0);
    if (password.size() > 32) {
        unsigned int n = 0;
        EVP_Digest(password.data(), password.size(), key.data(), &n, EVP_sha256(), nullptr);
    } else {
        std::copy(password.begin(), password.end(), key.begin());
    }
    return key;
}

Bytes oracleCbcEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
    auto out = cbc(1, key, iv, plain);
    if (!out) throw std::runtime_error("oracle encryption failed");
    return *out;
}

std::optional<Bytes> oracleCbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher) {
    return cbc(0, key, iv, cipher);
}

Bytes oracleSeal(const Bytes& key, const Bytes& plain) {
    Bytes sealed = oracleRandom(16);
    const Bytes cipher = oracleCbcEncrypt(key, sealed, plain);
    sealed.insert(sealed.end(), cipher.begin(), cipher.end());
    return sealed;
}

std::optional<Bytes> oracleOpen(const Bytes& key, const Bytes& sealed) {
    if (sealed.size() < 16) return std::nullopt;
    return oracleCbcDecrypt(key, Bytes(sealed.begin(), sealed.begin() + 16), Bytes(sealed.begin() + 16, sealed.end()));
}

std::string oracleWrap(const Bytes& ivAndKey, const Bytes& wrappingKey) {
    const Bytes iv = oracleRandom(16);
    nlohmann::json text = {{"iv", devserver::base64Encode(iv)},
                           {"key", devserver::base64Encode(oracleCbcEncrypt(wrappingKey, iv, ivAndKey))}};
    return text.dump();
}

std::optional<Bytes> oracleUnwrap(const std::string& wrappedText, const Bytes& key) {
    const auto text = nlohmann::json::parse(wrappedText, nullptr, false);
    if (!text.is_object() || !text.contains("iv") || !text.contains("key") || !text["iv"].is_string() ||
        !text["key"].is_string())
        return std::nullopt;
    auto iv = devserver::base64Decode(text["iv"].get<std::string>());
    auto cipher = devserver::base64Decode(text["key"].get<std::string>());
    if (!iv || !cipher || iv->size() != 16) return std::nullopt;
    return oracleCbcDecrypt(key, *iv, *cipher);
}

Bytes oraclePublicKey(const Bytes& privateKey) {
    Bytes out(crypto_scalarmult_BYTES);
    if (sodium_init() < 0 || privateKey.size() != crypto_scalarmult_SCALARBYTES ||
        crypto_scalarmult_base(out.data(), privateKey.data()) != 0)
        return {};
    return out;
}

std::optional<Bytes> oraclePrivateKey(const std::string& privshkey, const std::string& password) {
    auto plain = oracleUnwrap(privshkey, oraclePasswordKey(password));
    if (!plain || plain->size() != 48) return std::nullopt;
    return Bytes(plain->begin() + 16, plain->end());
}

std::optional<Bytes> opensslCbc(bool decrypt, const Bytes& key, const Bytes& iv, const Bytes& input) {
    static std::atomic<unsigned> counter{0};
    const auto stem = std::filesystem::temp_directory_path() /
                      ("quorvel-cbc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    const auto in = stem.string() + ".in";
    const auto out = stem.string() + ".out";
    {
        std::ofstream file(in, std::ios::binary);
        file.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
    }
    const std::string command = std::string("openssl enc -aes-256-cbc") + (decrypt ? " -d" : "") + " -K " + hex(key) +
                                " -iv " + hex(iv) + " -in '" + in + "' -out '" + out + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    std::optional<Bytes> result;
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        std::ifstream file(out, std::ios::binary);
        result = Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return result;
}

}  // namespace testsupport
