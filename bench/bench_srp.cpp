// The client's work for one login (A at construction, then M and K from the
// server's challenge) beside the same three modular exponentiations done
// directly with OpenSSL's BN: g^a, g^x and (B + N − k·v)^(a + u·x), each with
// the constant-time ladder and exponents of the same sizes. Everything else
// the client does (digests, byte forms, allocation) must stay within 1.2× of
// the bare exponentiations. Prints the ratio of each pair at the end; on a
// shared machine run it with --benchmark_repetitions=10
// --benchmark_enable_random_interleaving=true so that load hits both sides.
#include "BenchSupport.h"
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <cstdio>
#include <map>
#include <string>

#include "crypto/Digest.h"
#include "srp/Client.h"
#include "srp/Group.h"
#include "srp/SaltedVerificationKey.h"
#include "srp/Server.h"

using namespace ostrelcomm;
using namespace ostrelcomm::SRP;

namespace {

constexpr auto kAlgorithm = DigestAlgorithm::sha256;
constexpr std::size_t kPrivateBytes = 128;  // what the client draws for a

Group groupOfBits(int64_t bits) {
    switch (bits) {
        case 2048: return Group::N2048();
        case 3072: return Group::N3072();
        default: return Group::N4096();
    }
}

struct Challenge {
    Bytes salt;
    Bytes B;
};

Challenge challengeFor(const Group& group) {
    auto stored = createSaltedVerificationKey("bench", "correct horse battery", std::nullopt, group, kAlgorithm);
    Server server("bench", stored.salt, stored.verificationKey, group, kAlgorithm);
    return {stored.salt, server.getChallenge().publicKey};
}

void BM_Ours_ClientLogin(benchmark::State& state) {
    const Group group = groupOfBits(state.range(0));
    const Challenge challenge = challengeFor(group);
    for (auto _ : state) {
        auto client = Client::withPassword("bench", "correct horse battery", group, kAlgorithm);
        auto start = client.startAuthentication();
        Bytes M = client.processChallenge(challenge.salt, challenge.B);
        benchmark::DoNotOptimize(start);
        benchmark::DoNotOptimize(M);
    }
}

BIGNUM* secretBn(std::size_t bytes) {
    unsigned char buf[kPrivateBytes];
    RAND_bytes(buf, static_cast<int>(bytes));
    BIGNUM* bn = BN_secure_new();
    BN_set_flags(bn, BN_FLG_CONSTTIME);
    BN_bin2bn(buf, static_cast<int>(bytes), bn);
    return bn;
}

void BM_Direct_ModExps(benchmark::State& state) {
    const Group group = groupOfBits(state.range(0));
    const Challenge challenge = challengeFor(group);
    const std::size_t hashBytes = Digest::length(kAlgorithm);
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* N = BN_bin2bn(group.NBytes().data(), static_cast<int>(group.size()), nullptr);
    BIGNUM* g = BN_bin2bn(group.gBytes().data(), static_cast<int>(group.gBytes().size()), nullptr);
    BIGNUM* base = BN_bin2bn(challenge.B.data(), static_cast<int>(challenge.B.size()), nullptr);
    BIGNUM* u = secretBn(hashBytes);
    BIGNUM *A = BN_new(), *v = BN_new(), *S = BN_new(), *e = BN_new();
    BN_set_flags(e, BN_FLG_CONSTTIME);
    for (auto _ : state) {
        BIGNUM* a = secretBn(kPrivateBytes);
        BIGNUM* x = secretBn(hashBytes);
        BN_mod_exp_mont_consttime(A, g, a, N, ctx, nullptr);
        BN_mod_exp_mont_consttime(v, g, x, N, ctx, nullptr);
        BN_mul(e, u, x, ctx);
        BN_add(e, e, a);
        BN_mod_exp_mont_consttime(S, base, e, N, ctx, nullptr);
        benchmark::DoNotOptimize(A);
        benchmark::DoNotOptimize(S);
        BN_clear_free(a);
        BN_clear_free(x);
    }
    for (BIGNUM* n : {N, g, base, u, A, v, S, e}) BN_clear_free(n);
    BN_CTX_free(ctx);
}

BENCHMARK(BM_Ours_ClientLogin)->Arg(2048)->Arg(3072)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Direct_ModExps)->Arg(2048)->Arg(3072)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        for (const char* bits : {"2048", "3072", "4096"}) {
            double ours = t.seconds(std::string("BM_Ours_ClientLogin/") + bits);
            double direct = t.seconds(std::string("BM_Direct_ModExps/") + bits);
            if (direct > 0) std::printf("N%s client time ours/direct = %.3f (target <= 1.2)\n", bits, ours / direct);
        }
    });
}
