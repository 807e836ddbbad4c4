#include "xfer/FileSendBlockReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "crypto/Random.h"
#include "support/CryptoOracle.h"

using namespace ostrelcomm;
namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kBlock = 4'194'304;

class FileSendBlockReaderTest : public testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("quorvel-blocks-" + std::to_string(::getpid()));
    EncryptionKey key{CipherAlgorithm::aes256, 32};
    Digest clearHash{DigestAlgorithm::sha256};
    std::uint64_t hashed = 0;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    fs::path write(const std::string& name, const Bytes& content) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                     static_cast<std::streamsize>(content.size()));
        return path;
    }

    std::optional<FileSendBlockReader::Block> read(const fs::path& path, std::int64_t size, std::uint64_t block) {
        return FileSendBlockReader::read(path, size, kBlock, block, key, clearHash, hashed);
    }

    // The block decrypted by the openssl command under the file key.
    Bytes decrypted(const FileSendBlockReader::Block& block) {
        auto clear = testsupport::opensslCbc(true, key.key.key.copyOut(), key.key.iv.copyOut(), block.cipher);
        EXPECT_TRUE(clear.has_value());
        return clear.value_or(Bytes{});
    }
};

TEST_F(FileSendBlockReaderTest, BlocksAreEncryptedAloneUnderTheFileKeyAndIvAndEndWithTheFile) {
    // Two equal full blocks and one byte.
    const Bytes half = randomBytes(kBlock);
    Bytes content = half;
    content.insert(content.end(), half.begin(), half.end());
    content.push_back(0x5a);
    const fs::path path = write("three", content);
    const auto size = static_cast<std::int64_t>(content.size());

    std::vector<FileSendBlockReader::Block> blocks;
    for (std::uint64_t n = 0;; ++n) {
        auto block = read(path, size, n);
        if (!block) break;
        blocks.push_back(std::move(*block));
    }
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].cipher.size(), 4'194'320u);
    EXPECT_EQ(blocks[0].clearSize, kBlock);
    EXPECT_EQ(blocks[0].cipher, blocks[1].cipher);
    EXPECT_EQ(blocks[2].cipher.size(), 16u);
    EXPECT_EQ(blocks[2].clearSize, 1);
    Bytes joined;
    for (const auto& block : blocks) {
        Bytes clear = decrypted(block);
        joined.insert(joined.end(), clear.begin(), clear.end());
    }
    EXPECT_TRUE(joined == content);
    EXPECT_EQ(hashed, 3u);
    EXPECT_EQ(clearHash.final(), sha256(content));
}

TEST_F(FileSendBlockReaderTest, EveryBlockLengthGivesTheCipherAndBothDigestsOfItsBytes) {
    // The block's passes run over it in slices: lengths inside one slice, on
    // a slice's edge, and ending mid AES block past several slices.
    for (const std::size_t length : {std::size_t{1}, std::size_t{262'144}, std::size_t{786'439},
                                     static_cast<std::size_t>(kBlock)}) {
        SCOPED_TRACE(length);
        const Bytes content = randomBytes(length);
        const fs::path path = write("one", content);
        Digest digest(DigestAlgorithm::sha256);
        std::uint64_t fed = 0;
        auto block = FileSendBlockReader::read(path, static_cast<std::int64_t>(length), kBlock, 0, key, digest, fed);
        ASSERT_TRUE(block);
        EXPECT_EQ(block->cipher.size(), (length / 16 + 1) * 16);
        EXPECT_TRUE(decrypted(*block) == content);
        EXPECT_EQ(block->bodyDigest, sha256(block->cipher));
        EXPECT_EQ(fed, 1u);
        EXPECT_EQ(digest.final(), sha256(content));
    }
}

TEST_F(FileSendBlockReaderTest, ABlockReadAgainIsNotFedToTheDigestTwice) {
    Bytes content = randomBytes(kBlock + 100);
    const fs::path path = write("two", content);
    const auto size = static_cast<std::int64_t>(content.size());
    ASSERT_TRUE(read(path, size, 0));
    ASSERT_TRUE(read(path, size, 0));
    EXPECT_EQ(Digest(clearHash).final(), sha256(ByteView(content).first(kBlock)));
    ASSERT_TRUE(read(path, size, 1));
    ASSERT_TRUE(read(path, size, 1));
    EXPECT_FALSE(read(path, size, 2));
    EXPECT_EQ(clearHash.final(), sha256(content));
}

TEST_F(FileSendBlockReaderTest, AnEmptyFileHasNoBlock) {
    const fs::path path = write("empty", {});
    EXPECT_FALSE(read(path, 0, 0));
    EXPECT_EQ(hashed, 0u);
}

TEST_F(FileSendBlockReaderTest, AFileThatIsNotTheOneAddedFails) {
    const Bytes content = randomBytes(kBlock + 10);
    const auto size = static_cast<std::int64_t>(content.size());
    struct Case {
        const char* name;
        std::function<fs::path()> make;
        std::uint64_t block;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"shrunk below the block", [&] { return write("shrunk", Bytes(content.begin(), content.end() - 11)); }, 1,
         FileSendBlockReader::kChanged},
        {"shrunk before the end check", [&] { return write("shrunk2", Bytes(content.begin(), content.end() - 1)); },
         2, FileSendBlockReader::kChanged},
        {"grown past its size", [&] {
             Bytes longer = content;
             longer.push_back(1);
             return write("grown", longer);
         }, 2, FileSendBlockReader::kChanged},
        {"gone", [&] { return dir / "missing"; }, 0, FileSendBlockReader::kUnreadable},
        {"a folder", [&] {
             fs::create_directory(dir / "folder");
             return dir / "folder";
         }, 0, FileSendBlockReader::kUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = c.make();
        try {
            read(path, size, c.block);
            ADD_FAILURE() << "no failure";
        } catch (const FileSendBlockReader::Failure& failure) {
            EXPECT_STREQ(failure.what(), c.message);
        }
    }
}

TEST_F(FileSendBlockReaderTest, AFifoPutInPlaceOfTheFileIsRefusedWithoutWaitingForAWriter) {
    const fs::path path = dir / "fifo";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // Nobody ever opens the other end: a blocking open would never return.
    auto outcome = std::async(std::launch::async, [&]() -> std::string {
        try {
            read(path, 10, 0);
            return "no failure";
        } catch (const FileSendBlockReader::Failure& failure) {
            return failure.what();
        }
    });
    if (outcome.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // Frees the blocked open, so the test ends.
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        FAIL() << "the read blocked";
    }
    EXPECT_EQ(outcome.get(), FileSendBlockReader::kUnreadable);
}

}  // namespace
