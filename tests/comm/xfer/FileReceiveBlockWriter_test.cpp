#include "xfer/FileReceiveBlockWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "crypto/Random.h"
#include "support/CryptoOracle.h"
#include "support/WorkerGate.h"
#include "xfer/DownloadFileSystem.h"

using namespace ostrelcomm;
namespace fs = std::filesystem;

namespace {

constexpr auto kGuard = std::chrono::seconds(30);

class FileReceiveBlockWriterTest : public testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("quorvel-writer-" + std::to_string(::getpid()));
    fs::path file = dir / "download";
    Bytes key = testsupport::oracleRandom(32);
    Bytes iv = testsupport::oracleRandom(16);

    void SetUp() override {
        fs::create_directories(dir);
        ASSERT_TRUE(DownloadFileSystem::createTemporaryFile(file));
    }
    void TearDown() override {
        FileReceiveBlockWriter::replaceWorkerHook(nullptr);
        EXPECT_TRUE(FileReceiveBlockWriter::waitForNoLiveWorkers(kGuard));
        fs::remove_all(dir);
    }
    Bytes contents() const {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // `clear` as the server stores it, under the test's key, to be written at
    // `offset` through a descriptor of the file.
    FileReceiveBlockWriter::Block block(const Bytes& clear, std::uint64_t offset) const {
        return {.fd = DownloadFileSystem::openForWriting(file),
                .cipher = testsupport::oracleCbcEncrypt(key, iv, clear),
                .offset = offset,
                .clearLength = clear.size(),
                .key = SecretBytes(key),
                .iv = SecretBytes(iv)};
    }
};

TEST_F(FileReceiveBlockWriterTest, BlocksAreDecryptedWrittenAtTheirPlaceAndFedToTheDigestInOrder) {
    const Bytes first = randomBytes(3000);
    const Bytes second = randomBytes(77);
    FileReceiveBlockWriter writer;
    Digest clearHash(DigestAlgorithm::sha256);
    EXPECT_EQ(writer.finish(clearHash), std::nullopt) << "nothing handed over yet";

    writer.start(block(first, 0), clearHash);
    EXPECT_EQ(writer.finish(clearHash), std::nullopt);
    writer.start(block(second, first.size()), clearHash);
    EXPECT_EQ(writer.finish(clearHash), std::nullopt);
    EXPECT_EQ(writer.finish(clearHash), std::nullopt);

    Bytes whole = first;
    whole.insert(whole.end(), second.begin(), second.end());
    EXPECT_EQ(contents(), whole);
    EXPECT_EQ(clearHash.final(), sha256(whole));
}

// Each failure is the job's message, leaves the digest as it was and writes
// nothing; a block that does not decrypt is reported before a file that could
// not be opened for it.
TEST_F(FileReceiveBlockWriterTest, AFailedBlockIsReportedAndWritesNothing) {
    enum class Spoil { cutCipher, shortKey, longerRange, readOnly, noFile, noFileAndCutCipher };
    const struct {
        Spoil spoil;
        std::string message;  // a prefix of it
    } cases[] = {
        {Spoil::cutCipher, "Non cryptor error: "},
        {Spoil::shortKey, "Cryptor error "},
        {Spoil::longerRange, FileReceiveBlockWriter::kBlockLength},
        {Spoil::readOnly, FileReceiveBlockWriter::kUnwritable},
        {Spoil::noFile, FileReceiveBlockWriter::kUnwritable},
        {Spoil::noFileAndCutCipher, "Non cryptor error: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.spoil));
        FileReceiveBlockWriter::Block spoilt = block(randomBytes(100), 0);
        switch (c.spoil) {
            // Short of a whole cipher block: never decrypts, whatever the key.
            case Spoil::cutCipher: spoilt.cipher.pop_back(); break;
            case Spoil::shortKey: spoilt.key = SecretBytes(randomBytes(5)); break;
            case Spoil::longerRange: spoilt.clearLength = 101; break;
            case Spoil::readOnly:
                ::close(spoilt.fd);
                spoilt.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
                ASSERT_GE(spoilt.fd, 0);
                break;
            case Spoil::noFileAndCutCipher: spoilt.cipher.pop_back(); [[fallthrough]];
            case Spoil::noFile:
                ::close(spoilt.fd);
                spoilt.fd = -1;
                break;
        }
        FileReceiveBlockWriter writer;
        Digest clearHash(DigestAlgorithm::sha256);
        writer.start(std::move(spoilt), clearHash);
        const auto failure = writer.finish(clearHash);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->rfind(c.message, 0), 0u) << *failure;
        EXPECT_EQ(clearHash.final(), sha256(ByteView()));
        EXPECT_EQ(fs::file_size(file), 0u);
    }
    EXPECT_EQ(DownloadFileSystem::openForWriting(dir), -1) << "a folder is no file to write";
    EXPECT_EQ(DownloadFileSystem::openForWriting(dir / "missing"), -1);
}

TEST_F(FileReceiveBlockWriterTest, ABlockCaughtMidwayIsNotWrittenAfterACancelOrTheOwnersEnd) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "owner destroyed" : "cancelled");
        auto gate = std::make_shared<testsupport::WorkerGate>();
        FileReceiveBlockWriter::replaceWorkerHook([gate] { gate->arriveAndWait(); });
        auto writer = std::make_unique<FileReceiveBlockWriter>();
        Digest clearHash(DigestAlgorithm::sha256);
        writer->start(block(randomBytes(100), 0), clearHash);
        ASSERT_TRUE(gate->waitForArrivals());
        EXPECT_EQ(FileReceiveBlockWriter::liveWorkers(), 1u);
        if (destroy) {
            writer.reset();
        } else {
            writer->cancel();
            EXPECT_EQ(writer->finish(clearHash), std::nullopt) << "a cancelled block is not waited for";
        }
        FileReceiveBlockWriter::replaceWorkerHook(nullptr);
        gate->open();
        EXPECT_TRUE(FileReceiveBlockWriter::waitForNoLiveWorkers(kGuard));
        EXPECT_EQ(fs::file_size(file), 0u);
    }
}

}  // namespace
