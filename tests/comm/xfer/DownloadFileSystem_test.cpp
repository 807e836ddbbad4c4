// The download's local side on a real file system: names made safe, the
// temporary file that no planted link or FIFO can redirect, writes at their
// offset, and the move that never replaces what is there.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ByteCount.h"
#include "xfer/DownloadFileSystem.h"
#include "xfer/SafeLocalFileName.h"

namespace ostrelcomm {
namespace {

namespace fs = std::filesystem;

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "dlfs-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::string text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put(const fs::path& file, const std::string& content) { std::ofstream(file, std::ios::binary) << content; }

TEST(SafeLocalFileName, KeepsEveryNameToOneEntryOfTheFolder) {
    const std::string id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    const struct {
        std::string name;
        std::string safe;
    } cases[] = {
        {"report.pdf", "report.pdf"},   {"../x", ".._x"},      {"../../x", ".._.._x"}, {"a/b", "a_b"},
        {"/etc/x", "_etc_x"},           {"", id},              {".", id},              {"..", id},
        {std::string("x\0y", 3), "x_y"}, {"...", "..."},       {".hidden", ".hidden"}, {"/", "_"},
        {"é 😀.txt", "é 😀.txt"},
    };
    for (const auto& c : cases) {
        const std::string safe = safeLocalFileName(c.name, id);
        EXPECT_EQ(safe, c.safe) << c.name;
        EXPECT_EQ((fs::path("/dest") / safe).parent_path(), fs::path("/dest")) << c.name;
    }
}

TEST(ByteCount, WritesDecimalUnitsAsPeopleReadThem) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "Zero KB"},       {1, "1 byte"},           {999, "999 bytes"},       {1000, "1 KB"},
        {1499, "1 KB"},       {1500, "2 KB"},          {999'499, "999 KB"},      {999'500, "1 MB"},
        {4'194'304, "4.2 MB"}, {1'073'741'824, "1.07 GB"}, {1'500'000'000, "1.5 GB"}, {18'446'744'073'709'551'615u, "18.45 EB"},
    };
    for (const auto& c : cases) EXPECT_EQ(byteCountText(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(byteCountText(std::int64_t{-2000}), "-2 KB");
}

TEST(DownloadFileSystem, TheTemporaryFileReplacesALinkWithoutFollowingIt) {
    Folder folder;
    const fs::path outside = folder.path / "outside";
    put(outside, "keep");
    const fs::path temp = folder.path / "t.OstrelDownload";
    fs::create_symlink(outside, temp);

    ASSERT_TRUE(DownloadFileSystem::createTemporaryFile(temp));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(temp)));
    EXPECT_EQ(fs::file_size(temp), 0u);
    struct stat status {};
    ASSERT_EQ(::stat(temp.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(text(outside), "keep");

    // An old file of the name is emptied; a folder of the name is refused.
    put(temp, "old blocks");
    ASSERT_TRUE(DownloadFileSystem::createTemporaryFile(temp));
    EXPECT_EQ(fs::file_size(temp), 0u);
    fs::create_directory(folder.path / "dir");
    EXPECT_FALSE(DownloadFileSystem::createTemporaryFile(folder.path / "dir"));
}

TEST(DownloadFileSystem, WritesLandAtTheirOffsetAndNeverThroughALinkOrAFifo) {
    Folder folder;
    const fs::path file = folder.path / "f";
    ASSERT_TRUE(DownloadFileSystem::createTemporaryFile(file));
    const std::string second = "world";
    const std::string first = "hello";
    ASSERT_TRUE(DownloadFileSystem::writeAt(file, ByteView(reinterpret_cast<const std::uint8_t*>(second.data()), 5), 5));
    ASSERT_TRUE(DownloadFileSystem::writeAt(file, ByteView(reinterpret_cast<const std::uint8_t*>(first.data()), 5), 0));
    EXPECT_EQ(text(file), "helloworld");

    const fs::path outside = folder.path / "outside";
    put(outside, "keep");
    const fs::path link = folder.path / "link";
    fs::create_symlink(outside, link);
    EXPECT_FALSE(DownloadFileSystem::writeAt(link, ByteView(reinterpret_cast<const std::uint8_t*>(first.data()), 5), 0));
    EXPECT_EQ(text(outside), "keep");

    const fs::path fifo = folder.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(DownloadFileSystem::writeAt(fifo, ByteView(reinterpret_cast<const std::uint8_t*>(first.data()), 5), 0));
    EXPECT_FALSE(DownloadFileSystem::writeAt(folder.path / "missing", ByteView(), 0));
}

TEST(DownloadFileSystem, TheMoveNeverReplacesATargetThatAppearedMeanwhile) {
    Folder folder;
    const fs::path from = folder.path / "from";
    const fs::path to = folder.path / "to";
    put(from, "new");
    put(to, "made meanwhile");
    EXPECT_EQ(DownloadFileSystem::moveWithoutReplacing(from, to), EEXIST);
    EXPECT_EQ(text(to), "made meanwhile");
    EXPECT_EQ(text(from), "new");

    fs::remove(to);
    fs::create_symlink(folder.path / "nowhere", to);
    EXPECT_EQ(DownloadFileSystem::moveWithoutReplacing(from, to), EEXIST);

    auto moved = DownloadFileSystem::moveToFreeName(from, to);
    ASSERT_TRUE(std::holds_alternative<fs::path>(moved));
    EXPECT_EQ(std::get<fs::path>(moved), folder.path / "to (1).");
    EXPECT_EQ(text(std::get<fs::path>(moved)), "new");
    EXPECT_FALSE(fs::exists(from));
}

TEST(DownloadFileSystem, TheFolderIsMadeWithItsParentsAndAFileInTheWayIsAnError) {
    Folder folder;
    EXPECT_FALSE(DownloadFileSystem::createFolder(folder.path / "a" / "b" / "c"));
    EXPECT_TRUE(fs::is_directory(folder.path / "a" / "b" / "c"));
    EXPECT_FALSE(DownloadFileSystem::createFolder(folder.path / "a"));
    put(folder.path / "file", "x");
    EXPECT_TRUE(DownloadFileSystem::createFolder(folder.path / "file"));
    EXPECT_TRUE(DownloadFileSystem::statvfsCapacity(folder.path).available);
    EXPECT_TRUE(DownloadFileSystem::statvfsCapacity(folder.path / "missing").error);
}

}  // namespace
}  // namespace ostrelcomm
