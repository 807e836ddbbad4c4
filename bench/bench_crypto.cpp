// Our AES-256-CBC and SHA-256 beside OpenSSL's EVP called directly, over the
// 4 MiB buffers a transfer block uses. The adapter must add no copies: each
// pair should run at the same speed. Prints the ratio of each pair at the end.
#include "BenchSupport.h"
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>

#include "crypto/Digest.h"
#include "crypto/Random.h"
#include "crypto/StreamCryptor.h"

using namespace ostrelcomm;

namespace {

constexpr std::size_t kBlock = 4 * 1024 * 1024;
const Bytes kKey = randomBytes(32);
const Bytes kIv = randomBytes(16);
const Bytes kData = randomBytes(kBlock);

Bytes encryptedData() {
    return StreamCryptor::run(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, kKey, kIv, kData);
}

void ours(benchmark::State& state, StreamCryptor::Operation op) {
    Bytes input = op == StreamCryptor::Operation::encrypt ? kData : encryptedData();
    Bytes out(input.size() + 16);
    for (auto _ : state) {
        StreamCryptor c(op, CipherAlgorithm::aes256, kKey, kIv);
        std::size_t n = c.update(input, out.data());
        n += c.final(out.data() + n);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void direct(benchmark::State& state, int enc) {
    Bytes input = enc ? kData : encryptedData();
    Bytes out(input.size() + 16);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, kKey.data(), kIv.data(), enc);
        int n = 0, m = 0;
        EVP_CipherUpdate(ctx, out.data(), &n, input.data(), static_cast<int>(input.size()));
        EVP_CipherFinal_ex(ctx, out.data() + n, &m);
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(n + m);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Ours_AesEncrypt(benchmark::State& s) { ours(s, StreamCryptor::Operation::encrypt); }
void BM_Direct_AesEncrypt(benchmark::State& s) { direct(s, 1); }
void BM_Ours_AesDecrypt(benchmark::State& s) { ours(s, StreamCryptor::Operation::decrypt); }
void BM_Direct_AesDecrypt(benchmark::State& s) { direct(s, 0); }

void BM_Ours_Sha256(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Digest(DigestAlgorithm::sha256).update(kData).final());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kData.size()));
}

void BM_Direct_Sha256(benchmark::State& state) {
    unsigned char md[32];
    for (auto _ : state) {
        unsigned int len = 0;
        EVP_Digest(kData.data(), kData.size(), md, &len, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kData.size()));
}

BENCHMARK(BM_Ours_AesEncrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Direct_AesEncrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_AesDecrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Direct_AesDecrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_Sha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Direct_Sha256)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        for (const char* op : {"AesEncrypt", "AesDecrypt", "Sha256"}) {
            double ours = t.seconds(std::string("BM_Ours_") + op);
            double direct = t.seconds(std::string("BM_Direct_") + op);
            if (ours > 0) std::printf("%-11s speed ours/direct = %.3f (target >= 0.95)\n", op, direct / ours);
        }
    });
}
