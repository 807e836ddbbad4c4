// Our AES-256-CBC, SHA-256 and HMAC-SHA256 beside OpenSSL's EVP called
// directly with each algorithm fetched once, at the sizes the system meets:
// 1 KiB (an item key or a metadata record, ten thousand of them in a large
// listing), 64 KiB and 4 MiB (a transfer block). The adapter adds no copy and
// no per-call lookup, so each pair should run at the same speed. Prints the
// speed of ours relative to the direct call at the end.
#include "BenchSupport.h"
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>

#include "crypto/Digest.h"
#include "crypto/Hmac.h"
#include "crypto/Random.h"
#include "crypto/StreamCryptor.h"

using namespace ostrelcomm;

namespace {

constexpr std::int64_t kSizes[] = {1024, 64 * 1024, 4 * 1024 * 1024};

const Bytes kKey = randomBytes(32);
const Bytes kIv = randomBytes(16);
const Bytes kData = randomBytes(4 * 1024 * 1024);

// --- the direct calls, each algorithm fetched once --------------------------

EVP_CIPHER* aes256Cbc() {
    static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    return cipher;
}

EVP_MD* sha256Md() {
    static EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

// EVP_MAC takes its digest by name; a context with SHA-256 set, copied for
// each message, is how it uses an already fetched digest.
EVP_MAC_CTX* hmacPrepared() {
    static EVP_MAC_CTX* ctx = [] {
        EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        EVP_MAC_CTX* c = EVP_MAC_CTX_new(mac);
        EVP_MAC_free(mac);
        char digest[] = "SHA256";
        OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
        EVP_MAC_CTX_set_params(c, params);
        return c;
    }();
    return ctx;
}

ByteView input(benchmark::State& state) { return ByteView(kData).first(static_cast<std::size_t>(state.range(0))); }

// The ciphertext of the input, for the decrypting side.
Bytes encrypted(ByteView plain) {
    return StreamCryptor::run(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, kKey, kIv, plain);
}

void ours(benchmark::State& state, StreamCryptor::Operation op) {
    const Bytes in = op == StreamCryptor::Operation::encrypt ? Bytes(input(state).begin(), input(state).end())
                                                              : encrypted(input(state));
    Bytes out(in.size() + 16);
    for (auto _ : state) {
        StreamCryptor c(op, CipherAlgorithm::aes256, kKey, kIv);
        std::size_t n = c.update(in, out.data());
        n += c.final(out.data() + n);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void direct(benchmark::State& state, int enc) {
    const Bytes in = enc ? Bytes(input(state).begin(), input(state).end()) : encrypted(input(state));
    Bytes out(in.size() + 16);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_CipherInit_ex2(ctx, aes256Cbc(), kKey.data(), kIv.data(), enc, nullptr);
        int n = 0, m = 0;
        EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
        EVP_CipherFinal_ex(ctx, out.data() + n, &m);
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(n + m);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Ours_AesEncrypt(benchmark::State& s) { ours(s, StreamCryptor::Operation::encrypt); }
void BM_Direct_AesEncrypt(benchmark::State& s) { direct(s, 1); }
void BM_Ours_AesDecrypt(benchmark::State& s) { ours(s, StreamCryptor::Operation::decrypt); }
void BM_Direct_AesDecrypt(benchmark::State& s) { direct(s, 0); }

void BM_Ours_Sha256(benchmark::State& state) {
    const ByteView in = input(state);
    // The whole-buffer form, which the transport uses for every body.
    for (auto _ : state) benchmark::DoNotOptimize(sha256(in));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Direct_Sha256(benchmark::State& state) {
    const ByteView in = input(state);
    unsigned char md[32];
    for (auto _ : state) {
        unsigned int len = 0;
        EVP_Digest(in.data(), in.size(), md, &len, sha256Md(), nullptr);
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Ours_Hmac(benchmark::State& state) {
    const ByteView in = input(state);
    std::uint8_t mac[HmacSha256::kSize];
    for (auto _ : state) {
        HmacSha256(kKey).update(in).final(mac);
        benchmark::DoNotOptimize(mac);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Direct_Hmac(benchmark::State& state) {
    const ByteView in = input(state);
    unsigned char mac[32];
    for (auto _ : state) {
        EVP_MAC_CTX* ctx = EVP_MAC_CTX_dup(hmacPrepared());
        std::size_t len = 0;
        EVP_MAC_init(ctx, kKey.data(), kKey.size(), nullptr);
        EVP_MAC_update(ctx, in.data(), in.size());
        EVP_MAC_final(ctx, mac, &len, sizeof mac);
        EVP_MAC_CTX_free(ctx);
        benchmark::DoNotOptimize(mac);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void sizes(benchmark::internal::Benchmark* b) {
    for (std::int64_t size : kSizes) b->Arg(size);
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Ours_AesEncrypt)->Apply(sizes);
BENCHMARK(BM_Direct_AesEncrypt)->Apply(sizes);
BENCHMARK(BM_Ours_AesDecrypt)->Apply(sizes);
BENCHMARK(BM_Direct_AesDecrypt)->Apply(sizes);
BENCHMARK(BM_Ours_Sha256)->Apply(sizes);
BENCHMARK(BM_Direct_Sha256)->Apply(sizes);
BENCHMARK(BM_Ours_Hmac)->Apply(sizes);
BENCHMARK(BM_Direct_Hmac)->Apply(sizes);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        std::printf("\nspeed ours/direct, medians (target >= 0.95 at every size)\n");
        std::printf("  %-11s %10s %10s %10s\n", "", "1 KiB", "64 KiB", "4 MiB");
        for (const char* op : {"AesEncrypt", "AesDecrypt", "Sha256", "Hmac"}) {
            std::printf("  %-11s", op);
            for (std::int64_t size : kSizes) {
                const std::string suffix = std::string(op) + "/" + std::to_string(size);
                const double ours = t.seconds("BM_Ours_" + suffix);
                const double direct = t.seconds("BM_Direct_" + suffix);
                if (ours > 0 && direct > 0)
                    std::printf(" %10.3f", direct / ours);
                else
                    std::printf(" %10s", "-");
            }
            std::printf("\n");
        }
    });
}
