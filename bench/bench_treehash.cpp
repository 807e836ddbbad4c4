// The tree hash of a 256 MiB file as a transfer computes it (the SHA-256 of
// each 4 MiB block, then the tree over those digests) beside one plain
// SHA-256 of the same bytes with OpenSSL. The tree adds one small digest per
// block, so both should run at about the same speed. Prints the ratio.
#include "BenchSupport.h"
#include <openssl/sha.h>

#include <cstdio>
#include <vector>

#include "crypto/Digest.h"
#include "crypto/Random.h"
#include "xfer/TreeHash.h"

using namespace ostrelcomm;

namespace {

constexpr std::size_t kBlock = 4 * 1024 * 1024;
constexpr std::size_t kFile = 256 * 1024 * 1024;

const Bytes& fileBytes() {
    static const Bytes data = randomBytes(kFile);
    return data;
}

void BM_TreeHash(benchmark::State& state) {
    const ByteView file = fileBytes();
    for (auto _ : state) {
        std::vector<Bytes> leaves;
        leaves.reserve(kFile / kBlock);
        for (std::size_t offset = 0; offset < file.size(); offset += kBlock)
            leaves.push_back(sha256(file.subspan(offset, kBlock)));
        benchmark::DoNotOptimize(TreeHash::compute(leaves));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFile));
}

void BM_PlainSha256(benchmark::State& state) {
    const Bytes& file = fileBytes();
    unsigned char md[SHA256_DIGEST_LENGTH];
    for (auto _ : state) {
        SHA256(file.data(), file.size(), md);
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFile));
}

BENCHMARK(BM_TreeHash)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSha256)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        const double tree = t.seconds("BM_TreeHash");
        const double plain = t.seconds("BM_PlainSha256");
        if (tree > 0) std::printf("TreeHash speed tree/plain = %.3f (target >= 0.9)\n", plain / tree);
    });
}
