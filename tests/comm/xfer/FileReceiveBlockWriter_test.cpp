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
};

TEST_F(FileReceiveBlockWriterTest, BlocksAreWrittenAtTheirPlaceAndFedToTheDigestInOrder) {
    const Bytes first = randomBytes(3000);
    const Bytes second = randomBytes(77);
    FileReceiveBlockWriter writer;
    Digest clearHash(DigestAlgorithm::sha256);
    EXPECT_FALSE(writer.finish(clearHash)) << "nothing handed over yet";

    writer.start(DownloadFileSystem::openForWriting(file), first, 0, clearHash);
    EXPECT_EQ(writer.finish(clearHash), true);
    writer.start(DownloadFileSystem::openForWriting(file), second, first.size(), clearHash);
    EXPECT_EQ(writer.finish(clearHash), true);
    EXPECT_FALSE(writer.finish(clearHash));

    Bytes whole = first;
    whole.insert(whole.end(), second.begin(), second.end());
    EXPECT_EQ(contents(), whole);
    EXPECT_EQ(clearHash.final(), sha256(whole));
}

TEST_F(FileReceiveBlockWriterTest, AFailedWriteIsReportedAndLeavesTheDigestAsItWas) {
    FileReceiveBlockWriter writer;
    Digest clearHash(DigestAlgorithm::sha256);
    const int readOnly = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    writer.start(readOnly, randomBytes(10), 0, clearHash);
    EXPECT_EQ(writer.finish(clearHash), false);
    EXPECT_EQ(clearHash.final(), sha256(ByteView()));
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
        writer->start(DownloadFileSystem::openForWriting(file), randomBytes(100), 0, clearHash);
        ASSERT_TRUE(gate->waitForArrivals());
        EXPECT_EQ(FileReceiveBlockWriter::liveWorkers(), 1u);
        if (destroy) {
            writer.reset();
        } else {
            writer->cancel();
            EXPECT_FALSE(writer->finish(clearHash)) << "a cancelled block is not waited for";
        }
        FileReceiveBlockWriter::replaceWorkerHook(nullptr);
        gate->open();
        EXPECT_TRUE(FileReceiveBlockWriter::waitForNoLiveWorkers(kGuard));
        EXPECT_EQ(fs::file_size(file), 0u);
    }
}

}  // namespace
