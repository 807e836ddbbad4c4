#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "xfer/FileManagerExtensions.h"

using namespace ostrelcomm;
namespace fs = std::filesystem;

namespace {

class ProgressiveURL : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "progressive-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // "name" a file, "name/" a folder, "name@" a symbolic link to nothing.
    void make(const std::string& entry) {
        if (entry.back() == '/') {
            fs::create_directory(dir_ / entry.substr(0, entry.size() - 1));
        } else if (entry.back() == '@') {
            fs::create_symlink(dir_ / "nowhere", dir_ / entry.substr(0, entry.size() - 1));
        } else {
            std::ofstream(dir_ / entry) << "x";
        }
    }

    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
};

}  // namespace

TEST_F(ProgressiveURL, FirstFreeNumberedName) {
    struct Row {
        const char* wanted;
        std::vector<std::string> present;
        const char* result;
    };
    const std::vector<Row> rows = {
        {"report.pdf", {"report.pdf"}, "report (1).pdf"},
        {"report.pdf", {"report.pdf", "report (1).pdf"}, "report (2).pdf"},
        {"archive.tar.gz", {"archive.tar.gz"}, "archive.tar (1).gz"},
        {"notes", {"notes"}, "notes (1)."},
        {"report.pdf", {}, "report.pdf"},
        {"report.pdf", {"report (1).pdf"}, "report.pdf"},
        {"report.pdf", {"report.pdf", "report (2).pdf"}, "report (1).pdf"},
        {"report.pdf", {"report.pdf/"}, "report (1).pdf"},
        {"report.pdf", {"report.pdf@"}, "report (1).pdf"},
        {"report.pdf", {"report.pdf", "report (1).pdf/", "report (2).pdf@"}, "report (3).pdf"},
        {"archive.", {"archive."}, "archive (1)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wanted);
        for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
        for (const auto& entry : row.present) make(entry);
        EXPECT_EQ(getProgressiveURL(dir_ / row.wanted), dir_ / row.result);
        EXPECT_EQ(entries(), row.present.size()) << "it only looks";
    }
}
