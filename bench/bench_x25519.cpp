// X25519 key agreement: our public-key and shared-key computations beside
// libsodium's in the same run, with the ratio of the two printed at the end.
// The shared point alone (the ladder) and HSalsa20 alone show where the time
// of the shared key goes.

#include "BenchSupport.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#if __has_include(<sodium.h>)
#include <sodium.h>
#define QUORVEL_BENCH_SODIUM 1
#endif

#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/MontgomeryOperations.h"
#include "crypto/curve25519/Salsa20.h"

namespace {

using namespace ostrelcomm;
using Key32 = std::array<std::uint8_t, 32>;

// Fixed inputs (RFC 7748 section 6.1): the work does not depend on them.
Key32 key32(const char* hex) {
    Key32 k{};
    for (std::size_t i = 0; i < 32; ++i) {
        unsigned v = 0;
        std::sscanf(hex + 2 * i, "%2x", &v);
        k[i] = static_cast<std::uint8_t>(v);
    }
    return k;
}
const Key32 kPrivate = key32("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const Key32 kPeer = key32("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");

void PublicKey_ours(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(AlgorithmService::GetPublicKey(kPrivate));
    }
}
BENCHMARK(PublicKey_ours);

void SharedPoint_ours(benchmark::State& state) {
    using FE = FieldElementOperations;
    for (auto _ : state) {
        Key32 out{};
        FE::ToBytes(out, MontgomeryOperations::CalculateLadderStep(kPrivate, FE::FromBytes(kPeer, 0), 0), 0);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(SharedPoint_ours);

void SharedKey_ours(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(AlgorithmService::GetSharedSecretKey(kPeer, kPrivate));
    }
}
BENCHMARK(SharedKey_ours);

void HSalsa20_ours(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(Salsa20::HSalsa20(kPeer));
    }
}
BENCHMARK(HSalsa20_ours);

#ifdef QUORVEL_BENCH_SODIUM
void PublicKey_libsodium(benchmark::State& state) {
    for (auto _ : state) {
        Key32 out{};
        benchmark::DoNotOptimize(crypto_scalarmult_base(out.data(), kPrivate.data()));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(PublicKey_libsodium);

void SharedPoint_libsodium(benchmark::State& state) {
    for (auto _ : state) {
        Key32 out{};
        benchmark::DoNotOptimize(crypto_scalarmult(out.data(), kPrivate.data(), kPeer.data()));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(SharedPoint_libsodium);

void SharedKey_libsodium(benchmark::State& state) {
    for (auto _ : state) {
        Key32 out{};
        benchmark::DoNotOptimize(crypto_box_beforenm(out.data(), kPeer.data(), kPrivate.data()));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(SharedKey_libsodium);

void HSalsa20_libsodium(benchmark::State& state) {
    static const std::uint8_t zero[16] = {};
    for (auto _ : state) {
        Key32 out{};
        benchmark::DoNotOptimize(crypto_core_hsalsa20(out.data(), zero, kPeer.data(), nullptr));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(HSalsa20_libsodium);
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef QUORVEL_BENCH_SODIUM
    if (sodium_init() < 0) return 1;
#endif
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        std::printf("\nours / libsodium (target for the key computations: <= 1.50)\n");
        for (const char* op : {"PublicKey", "SharedPoint", "SharedKey", "HSalsa20"}) {
            const double ours = t.seconds(std::string(op) + "_ours");
            const double theirs = t.seconds(std::string(op) + "_libsodium");
            if (ours > 0 && theirs > 0)
                std::printf("  %-12s %10.0f ns  %10.0f ns  ratio %.2f\n", op, ours * 1e9, theirs * 1e9, ours / theirs);
        }
    });
}
