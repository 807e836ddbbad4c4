#include "xfer/FileSendBlockPrefetch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "crypto/Random.h"
#include "support/WorkerGate.h"

using namespace ostrelcomm;
namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kBlock = 1000;
constexpr auto kGuard = std::chrono::seconds(30);

class FileSendBlockPrefetchTest : public testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("quorvel-prefetch-" + std::to_string(::getpid()));
    EncryptionKey key{CipherAlgorithm::aes256, 32};
    Bytes content = randomBytes(2 * kBlock + 500);
    fs::path path;
    std::int64_t size = static_cast<std::int64_t>(content.size());

    void SetUp() override {
        fs::create_directories(dir);
        path = dir / "file";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    void TearDown() override {
        FileSendBlockPrefetch::replaceWorkerHook(nullptr);
        EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
        fs::remove_all(dir);
    }
    Bytes head(std::size_t n) const { return Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(n)); }
};

TEST_F(FileSendBlockPrefetchTest, APreparedBlockIsTheReadersBlockWithItsBodyDigestAndTheDigestCarriedOn) {
    // Block 0 as the job reads it in line; block 1 prepared ahead.
    Digest clearHash(DigestAlgorithm::sha256);
    std::uint64_t hashed = 0;
    ASSERT_TRUE(FileSendBlockReader::read(path, size, kBlock, 0, key, clearHash, hashed));
    FileSendBlockPrefetch prefetch;
    prefetch.start(path, size, kBlock, 1, key, clearHash, hashed);
    auto prepared = prefetch.take(1);
    ASSERT_TRUE(prepared && prepared->block);

    Digest expectedHash(clearHash);
    std::uint64_t expectedHashed = hashed;
    const auto expected = FileSendBlockReader::read(path, size, kBlock, 1, key, expectedHash, expectedHashed);
    ASSERT_TRUE(expected);
    EXPECT_EQ(prepared->block->cipher, expected->cipher);
    EXPECT_EQ(prepared->block->clearSize, kBlock);
    EXPECT_EQ(prepared->bodyDigest, sha256(expected->cipher));
    ASSERT_TRUE(prepared->clearHash);
    EXPECT_EQ(prepared->hashedBlocks, 2u);
    EXPECT_EQ(Digest(*prepared->clearHash).final(), sha256(head(2 * kBlock)));
    // The job's own digest is untouched until it takes the block's.
    EXPECT_EQ(Digest(clearHash).final(), sha256(head(kBlock)));

    // A block the digest has already taken comes without one.
    prefetch.start(path, size, kBlock, 1, key, *prepared->clearHash, 2);
    auto again = prefetch.take(1);
    ASSERT_TRUE(again && again->block);
    EXPECT_FALSE(again->clearHash);
    EXPECT_EQ(again->block->cipher, expected->cipher);

    // Past the end: no block, the end checked.
    prefetch.start(path, size, kBlock, 3, key, clearHash, 3);
    auto end = prefetch.take(3);
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->block);
}

// A sent block's storage, given back, is where a later block is made,
// whatever it held before; one too small for a block is not used.
TEST_F(FileSendBlockPrefetchTest, ASentBlocksStorageServesALaterBlock) {
    Digest clearHash(DigestAlgorithm::sha256);
    std::uint64_t hashed = 0;
    const auto expected = FileSendBlockReader::read(path, size, kBlock, 0, key, clearHash, hashed);
    ASSERT_TRUE(expected);

    FileSendBlockPrefetch prefetch(2);
    Bytes sent(kBlock + 16, 0xAA);
    const std::uint8_t* storage = sent.data();
    prefetch.reuse(std::move(sent));
    prefetch.reuse(Bytes(10, 0xBB));
    prefetch.start(path, size, kBlock, 0, key, Digest(DigestAlgorithm::sha256), 0);
    auto prepared = prefetch.take(0);
    ASSERT_TRUE(prepared && prepared->block);
    EXPECT_EQ(prepared->block->cipher.data(), storage);
    EXPECT_EQ(prepared->block->cipher, expected->cipher);
}

TEST_F(FileSendBlockPrefetchTest, OnlyTheBlockAskedForIsHandedOverAndALaterOneIsKept) {
    Digest clearHash(DigestAlgorithm::sha256);
    FileSendBlockPrefetch prefetch;
    prefetch.start(path, size, kBlock, 2, key, clearHash, 3);
    EXPECT_FALSE(prefetch.take(1)) << "a resent earlier block is read in line";
    auto later = prefetch.take(2);
    ASSERT_TRUE(later && later->block);
    EXPECT_EQ(later->block->clearSize, 500);

    prefetch.start(path, size, kBlock, 1, key, clearHash, 3);
    // A second start while one is held changes nothing.
    prefetch.start(path, size, kBlock, 0, key, clearHash, 3);
    EXPECT_FALSE(prefetch.take(2)) << "an earlier block is dropped";
    EXPECT_FALSE(prefetch.take(1));
}

TEST_F(FileSendBlockPrefetchTest, AFailedReadIsThrownWhenTheBlockIsTaken) {
    struct Case {
        const char* what;
        fs::path file;
        std::int64_t size;
        const char* message;
    };
    const Case cases[] = {
        {"changed size", path, size + 1, FileSendBlockReader::kChanged},
        {"missing", dir / "missing", size, FileSendBlockReader::kUnreadable},
        {"a folder", dir, size, FileSendBlockReader::kUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileSendBlockPrefetch prefetch;
        Digest clearHash(DigestAlgorithm::sha256);
        prefetch.start(c.file, c.size, kBlock, 0, key, clearHash, 0);
        try {
            prefetch.take(0);
            ADD_FAILURE() << "no failure";
        } catch (const FileSendBlockReader::Failure& failure) {
            EXPECT_STREQ(failure.what(), c.message);
        }
        EXPECT_THROW(FileSendBlockReader::checkUnchanged(c.file, c.size), FileSendBlockReader::Failure);
    }
    EXPECT_NO_THROW(FileSendBlockReader::checkUnchanged(path, size));
}

TEST_F(FileSendBlockPrefetchTest, AWorkerCaughtMidwayEndsByItselfAfterACancelOrTheOwnersEnd) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "owner destroyed" : "cancelled");
        auto gate = std::make_shared<testsupport::WorkerGate>();
        FileSendBlockPrefetch::replaceWorkerHook([gate](std::uint64_t) { gate->arriveAndWait(); });
        auto prefetch = std::make_unique<FileSendBlockPrefetch>();
        Digest clearHash(DigestAlgorithm::sha256);
        prefetch->start(path, size, kBlock, 0, key, clearHash, 0);
        ASSERT_TRUE(gate->waitForArrivals());
        EXPECT_EQ(FileSendBlockPrefetch::liveWorkers(), 1u);
        if (destroy) {
            prefetch.reset();
        } else {
            prefetch->cancel();
            EXPECT_FALSE(prefetch->take(0)) << "a cancelled block is never handed over";
        }
        FileSendBlockPrefetch::replaceWorkerHook(nullptr);
        gate->open();
        EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
    }
}

// Two blocks prepared side by side: the second can feed the file's digest
// only after the first has. Whichever worker is held, each block comes out
// as the reader makes it and the digest handed over is that of the file's
// head, block by block.
TEST_F(FileSendBlockPrefetchTest, BlocksPreparedSideBySideCarryTheDigestInTheirOrderWhicheverIsSlower) {
    for (const std::uint64_t slow : {0u, 1u}) {
        SCOPED_TRACE("held block " + std::to_string(slow));
        auto gate = std::make_shared<testsupport::WorkerGate>();
        FileSendBlockPrefetch::replaceWorkerHook([gate, slow](std::uint64_t n) {
            if (n == slow) gate->arriveAndWait();
        });
        FileSendBlockPrefetch prefetch(2);
        Digest clearHash(DigestAlgorithm::sha256);
        prefetch.start(path, size, kBlock, 0, key, clearHash, 0);
        ASSERT_TRUE(gate->waitForArrivals());
        FileSendBlockPrefetch::replaceWorkerHook(nullptr);
        gate->open();

        Digest expectedHash(DigestAlgorithm::sha256);
        std::uint64_t expectedHashed = 0;
        for (std::uint64_t n = 0; n < 2; ++n) {
            auto prepared = prefetch.take(n);
            ASSERT_TRUE(prepared && prepared->block);
            const auto expected = FileSendBlockReader::read(path, size, kBlock, n, key, expectedHash, expectedHashed);
            ASSERT_TRUE(expected);
            EXPECT_EQ(prepared->block->cipher, expected->cipher);
            EXPECT_EQ(prepared->bodyDigest, sha256(expected->cipher));
            ASSERT_TRUE(prepared->clearHash);
            EXPECT_EQ(prepared->hashedBlocks, n + 1);
            EXPECT_EQ(Digest(*prepared->clearHash).final(), sha256(head((n + 1) * kBlock)));
            // The job takes block n and asks for the next ones.
            prefetch.start(path, size, kBlock, n + 1, key, *prepared->clearHash, n + 1);
        }
        auto last = prefetch.take(2);
        ASSERT_TRUE(last && last->block);
        EXPECT_EQ(last->block->clearSize, 500);
        ASSERT_TRUE(last->clearHash);
        EXPECT_EQ(Digest(*last->clearHash).final(), sha256(content));
        // The end's check, prepared beside the last block; nothing past it.
        auto end = prefetch.take(3);
        ASSERT_TRUE(end);
        EXPECT_FALSE(end->block);
        EXPECT_FALSE(prefetch.take(4));
    }
}

// The first of two blocks is dropped (asked for no more, or everything
// cancelled) while its worker is held: the second never feeds a digest it
// did not get in turn, and every worker ends by itself.
TEST_F(FileSendBlockPrefetchTest, ABlockAfterADroppedOneComesWithoutADigestAndNoWorkerIsLeft) {
    for (const bool cancelAll : {false, true}) {
        SCOPED_TRACE(cancelAll ? "all cancelled" : "first dropped");
        auto gate = std::make_shared<testsupport::WorkerGate>();
        FileSendBlockPrefetch::replaceWorkerHook([gate](std::uint64_t n) {
            if (n == 0) gate->arriveAndWait();
        });
        FileSendBlockPrefetch prefetch(2);
        Digest clearHash(DigestAlgorithm::sha256);
        prefetch.start(path, size, kBlock, 0, key, clearHash, 0);
        ASSERT_TRUE(gate->waitForArrivals());
        if (cancelAll) {
            prefetch.cancel();
            EXPECT_FALSE(prefetch.take(1));
        } else {
            EXPECT_FALSE(prefetch.take(1)) << "the earlier block is dropped first";
        }
        FileSendBlockPrefetch::replaceWorkerHook(nullptr);
        gate->open();
        if (!cancelAll) {
            auto second = prefetch.take(1);
            ASSERT_TRUE(second && second->block);
            EXPECT_FALSE(second->clearHash);
            Digest expectedHash(DigestAlgorithm::sha256);
            std::uint64_t hashed = 2;
            const auto expected = FileSendBlockReader::read(path, size, kBlock, 1, key, expectedHash, hashed);
            ASSERT_TRUE(expected);
            EXPECT_EQ(second->block->cipher, expected->cipher);
        }
        EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
    }
}

}  // namespace
