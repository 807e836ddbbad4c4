#include "crypto/Digest.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "encoding/Encoding.h"

using namespace ostrelcomm;

namespace {

struct Vector {
    DigestAlgorithm algorithm;
    std::string input;
    std::string hex;
    const char* source;
};

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits80 = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
const std::string kTwoBlock = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

const std::vector<Vector> kVectors = {
    {DigestAlgorithm::md2, "", "8350e5a3e24c153df2275c9f80692773", "RFC 1319 A.5"},
    {DigestAlgorithm::md2, "a", "32ec01ec4a6dac72c0ab96fb34c0b5d1", "RFC 1319 A.5"},
    {DigestAlgorithm::md2, "abc", "da853b0d3f88d99b30283a69e6ded6bb", "RFC 1319 A.5"},
    {DigestAlgorithm::md2, "message digest", "ab4f496bfb2a530b219ff33031fe06b0", "RFC 1319 A.5"},
    {DigestAlgorithm::md2, "abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b", "RFC 1319 A.5"},
    {DigestAlgorithm::md2, kAlnum, "da33def2a42df13975352846c30338cd", "RFC 1319 A.5"},
    {DigestAlgorithm::md2, kDigits80, "d5976f79d83d3a0dc9806c3c66f3efd8", "RFC 1319 A.5"},
    {DigestAlgorithm::md4, "", "31d6cfe0d16ae931b73c59d7e0c089c0", "RFC 1320 A.5"},
    {DigestAlgorithm::md4, "abc", "a448017aaf21d8525fc10ae87aa6729d", "RFC 1320 A.5"},
    {DigestAlgorithm::md4, "message digest", "d9130a8164549fe818874806e1c7014b", "RFC 1320 A.5"},
    {DigestAlgorithm::md4, kAlnum, "043f8582f241db351ce627e153e7f0e4", "RFC 1320 A.5"},
    {DigestAlgorithm::md4, kDigits80, "e33b4ddc9c38f2199c3e7b164fcc0536", "RFC 1320 A.5"},
    {DigestAlgorithm::md5, "", "d41d8cd98f00b204e9800998ecf8427e", "RFC 1321 A.5"},
    {DigestAlgorithm::md5, "abc", "900150983cd24fb0d6963f7d28e17f72", "RFC 1321 A.5"},
    {DigestAlgorithm::md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0", "RFC 1321 A.5"},
    {DigestAlgorithm::md5, kDigits80, "57edf4a22be3c955ac49da2e2107b67a", "RFC 1321 A.5"},
    {DigestAlgorithm::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d", "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha1, kTwoBlock, "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha224, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7",
     "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha224, kTwoBlock, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525",
     "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha256, kTwoBlock, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
     "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha384, "abc",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
     "FIPS 180-4 / SHA examples"},
    {DigestAlgorithm::sha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce8"
     "0e2a9ac94fa54ca49f",
     "FIPS 180-4 / SHA examples"},
};

}  // namespace

TEST(Digest, KnownAnswersOneShotAndIncremental) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(std::string(v.source) + " \"" + v.input.substr(0, 20) + "\"");
        EXPECT_EQ(toHex(Digest::compute(v.algorithm, asBytes(v.input))), v.hex);
        EXPECT_EQ(Digest::length(v.algorithm) * 2, v.hex.size());
        // Byte by byte and in uneven pieces must give the same value.
        Digest pieces(v.algorithm);
        for (std::size_t i = 0; i < v.input.size(); i += 7)
            pieces.update(asBytes(std::string_view(v.input).substr(i, 7)));
        EXPECT_EQ(toHex(pieces.final()), v.hex);
    }
}

TEST(Digest, MillionAs) {
    // FIPS 180-4 / SHA examples: one million repetitions of "a".
    std::string chunk(1000, 'a');
    Digest d(DigestAlgorithm::sha256);
    for (int i = 0; i < 1000; ++i) d.update(asBytes(chunk));
    EXPECT_EQ(toHex(d.final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Digest, FinalConsumesTheObject) {
    Digest d(DigestAlgorithm::sha256);
    d.final();
    EXPECT_ANY_THROW(d.final());
    EXPECT_ANY_THROW(d.update(asBytes("x")));
}

TEST(Digest, ACopyReadsTheRunningStateAndTheOriginalGoesOn) {
    for (auto algorithm : {DigestAlgorithm::md2, DigestAlgorithm::sha256}) {
        SCOPED_TRACE(static_cast<int>(algorithm));
        Digest running(algorithm);
        running.update(asBytes("ab"));
        Digest reading = running;
        EXPECT_EQ(reading.final(), Digest::compute(algorithm, asBytes("ab")));
        // Read twice: each copy is consumed alone.
        EXPECT_EQ(Digest(running).final(), Digest::compute(algorithm, asBytes("ab")));
        running.update(asBytes("c"));
        EXPECT_EQ(running.final(), Digest::compute(algorithm, asBytes("abc")));
        EXPECT_ANY_THROW(Digest(running).final());
    }
}

class FileDigest : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("quorvel-digest-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path writeFile(const std::string& name, std::size_t size) {
        auto path = dir / name;
        std::ofstream out(path, std::ios::binary);
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 4093) & 0xff);
        out << data;
        return path;
    }
};

TEST_F(FileDigest, EqualsOnePieceDigestAroundTheBlockSize) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, Digest::kFileBlockSize, Digest::kFileBlockSize + 1,
                             2 * Digest::kFileBlockSize + 17}) {
        SCOPED_TRACE(size);
        auto path = writeFile("f" + std::to_string(size), size);
        std::ifstream in(path, std::ios::binary);
        std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto digest = Digest(DigestAlgorithm::sha256).getFileDigest(path);
        ASSERT_TRUE(digest.has_value());
        EXPECT_EQ(*digest, sha256(asBytes(whole)));
    }
}

TEST_F(FileDigest, AbsentForMissingFileAndFolder) {
    EXPECT_FALSE(Digest(DigestAlgorithm::sha256).getFileDigest(dir / "missing").has_value());
    EXPECT_FALSE(Digest(DigestAlgorithm::sha256).getFileDigest(dir).has_value());
}

TEST_F(FileDigest, MemoryStaysFlatForALargeFile) {
    // A sparse file far larger than a block: reading it whole would raise the
    // process's peak resident size by at least its size.
    constexpr std::size_t kSize = std::size_t{192} << 20;
    auto path = dir / "sparse";
    { std::ofstream out(path, std::ios::binary); }
    std::filesystem::resize_file(path, kSize);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    auto digest = Digest(DigestAlgorithm::sha256).getFileDigest(path);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    ASSERT_TRUE(digest.has_value());
    EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024L, static_cast<long>(kSize / 4));
}
