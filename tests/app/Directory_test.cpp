// The local folder's listing: what it holds (against the shell's glob and
// coreutils' stat over the same folder), what it logs when it cannot read,
// and its orders.

#include <QFileIconProvider>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "AppTestSupport.h"
#include "app/local/Directory.h"

using namespace apptest;
using quorvel::Directory;
using quorvel::Metadata;
namespace fs = std::filesystem;

// A name, its size (-1: a folder) and its modification day.
using Entries = std::vector<std::tuple<std::string, int, int>>;
// Names whose keys are equal, group after group.
using Groups = std::vector<std::vector<std::string>>;
Q_DECLARE_METATYPE(Entries)
Q_DECLARE_METATYPE(Groups)

namespace {

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

// Sets the modification time, in seconds since the epoch.
void setModified(const fs::path& path, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    QVERIFY(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0);
}

std::string fileName(const Metadata& entry) { return entry.url.filename().string(); }

// What coreutils says of each entry the shell's glob gives (which leaves out
// names starting with "."), links followed: name -> "type size mtime". An
// entry that stat cannot follow is missing.
std::map<std::string, std::string> statOracle(const fs::path& folder) {
    QProcess shell;
    shell.setWorkingDirectory(QFile::decodeName(folder.c_str()));
    shell.start("sh", {"-c", "stat -L --format='%n/%F %s %Y' -- *"});
    shell.waitForFinished();
    std::map<std::string, std::string> rows;
    for (const QByteArray& line : shell.readAllStandardOutput().split('\n')) {
        const auto slash = line.indexOf('/');
        if (slash < 0) continue;
        rows[line.left(slash).toStdString()] = line.mid(slash + 1).toStdString();
    }
    return rows;
}

// An icon theme of the test's own, with icons for a few MIME types, so that
// which icon an entry got can be read back (QIcon::name).
void installTestTheme(const fs::path& root) {
    const fs::path theme = root / "quorveltest";
    fs::create_directories(theme / "16x16");
    writeFile(theme / "index.theme",
              "[Icon Theme]\nName=quorveltest\nDirectories=16x16\n\n[16x16]\nSize=16\nType=Fixed\n");
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    for (const char* name : {"text-plain", "image-png", "application-pdf", "audio-x-generic"})
        QVERIFY(image.save(QString::fromStdString((theme / "16x16" / (std::string(name) + ".png")).string())));
    QIcon::setThemeSearchPaths({QString::fromStdString(root.string())});
    QIcon::setThemeName("quorveltest");
}

// Names in the order given, for messages.
QString joined(const std::vector<Metadata>& entries) {
    QStringList names;
    for (const auto& e : entries) names << QString::fromStdString(e.name);
    return names.join(' ');
}

}  // namespace

class DirectoryTest : public QObject {
    Q_OBJECT

private slots:
    void listsTheVisibleEntriesAsTheFileSystemSeesThem() {
        TemporaryFolder dir;
        const fs::path folder = dir.path();
        writeFile(folder / ".hidden", "secret");
        fs::create_directory(folder / ".hiddenFolder");
        writeFile(folder / ".hiddenFolder" / "inside", "x");
        fs::create_directory(folder / "Sub");
        writeFile(folder / "Sub" / "inner1.txt", "one");
        writeFile(folder / "Sub" / "inner2.txt", "two");
        fs::create_directory_symlink("Sub", folder / "LinkToSub");
        fs::create_symlink("nowhere", folder / "Dangling");
        fs::create_symlink("Loop", folder / "Loop");
        fs::create_symlink("/dev/null", folder / "Device");
        QVERIFY(::mkfifo((folder / "Pipe").c_str(), 0600) == 0);
        writeFile(folder / "Empty", "");
        writeFile(folder / "Data.bin", std::string(1234, 'd'));
        writeFile(folder / "caf\xe9", "a name that is not UTF-8");
        setModified(folder / "Data.bin", 1600000000);

        LogCapture log;
        const Directory listing(folder);

        QCOMPARE(listing.url, folder);
        QVERIFY(log.lines().empty());
        const auto oracle = statOracle(folder);
        // Everything the glob gives, and the links stat cannot follow.
        QCOMPARE(oracle.size(), std::size_t{7});
        QCOMPARE(listing.files.size(), oracle.size() + 2);
        for (const auto& entry : listing.files) {
            QCOMPARE(entry.url.parent_path(), folder);
            QVERIFY(!entry.isApp);
            const std::string name = fileName(entry);
            if (name == "Dangling" || name == "Loop") {
                QVERIFY(!oracle.count(name));
                QVERIFY(!entry.isFolder);
                QCOMPARE(entry.size, std::int64_t{0});
                QVERIFY(entry.date == quorvel::kDistantPast);
                continue;
            }
            QVERIFY2(oracle.count(name), name.c_str());
            const std::string seen = oracle.at(name);
            const std::string typeAndSize = seen.substr(0, seen.rfind(' '));
            const long mtime = std::stol(seen.substr(seen.rfind(' ') + 1));
            if (entry.isFolder) {
                QVERIFY2(typeAndSize.rfind("directory ", 0) == 0, name.c_str());
                QCOMPARE(entry.size, std::int64_t{0});
            } else {
                QVERIFY2(typeAndSize.rfind("directory", 0) != 0, name.c_str());
                QCOMPARE(std::to_string(entry.size), typeAndSize.substr(typeAndSize.rfind(' ') + 1));
            }
            QCOMPARE(entry.date.time_since_epoch().count(), std::int64_t{mtime});
            QVERIFY(!entry.icon.isNull());
        }

        std::map<std::string, Metadata> byName;
        for (const auto& entry : listing.files) byName[fileName(entry)] = entry;
        QVERIFY(byName.at("LinkToSub").isFolder);
        QCOMPARE(byName.at("LinkToSub").url, folder / "LinkToSub");
        QCOMPARE(byName.at("Data.bin").size, std::int64_t{1234});
        QCOMPARE(byName.at("Data.bin").date.time_since_epoch().count(), std::int64_t{1600000000});
        // Shown with U+FFFD in place of the byte, opened by its own bytes.
        const Metadata latin = byName.at("caf\xe9");
        QCOMPARE(latin.name, std::string("caf\xef\xbf\xbd"));
        std::ifstream reopened(latin.url, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(reopened)), std::istreambuf_iterator<char>());
        QCOMPARE(content, std::string("a name that is not UTF-8"));
    }

    void anEntryIsItsPlace() {
        TemporaryFolder dir;
        const fs::path folder = dir.path();
        fs::create_directory(folder / "Sub");
        writeFile(folder / "Data.bin", std::string(1234, 'd'));
        const Directory listing(folder);
        std::map<std::string, Metadata> byName;
        for (const auto& entry : listing.files) byName[entry.name] = entry;

        QCOMPARE(quorvel::debugDescription(byName.at("Sub")), std::string("Sub Folder: true Size: 0"));
        QCOMPARE(quorvel::debugDescription(byName.at("Data.bin")), std::string("Data.bin Folder: false Size: 1234"));
        Metadata renamed = byName.at("Data.bin");
        renamed.name = "Other";
        renamed.size = 1;
        QVERIFY(renamed == byName.at("Data.bin"));
        QVERIFY(!(byName.at("Sub") == byName.at("Data.bin")));
    }

    void aFolderThatCannotBeReadGivesWhatItCouldAndALogLine() {
        TemporaryFolder dir;
        const fs::path missing = dir.path() / "gone";
        LogCapture log;
        const Directory listing(missing);
        QVERIFY(listing.files.empty());
        QCOMPARE(listing.url, missing);
        QCOMPARE(log.lines(), std::vector<std::string>{"Cannot read URL " + missing.string()});
    }

    // Permissions do not stop root.
    void aFolderWithoutPermissionIsLoggedNotListed() {
        if (::geteuid() == 0) QSKIP("root reads every folder");
        TemporaryFolder dir;
        const fs::path closed = dir.path() / "closed";
        fs::create_directory(closed);
        writeFile(closed / "a", "x");
        ::chmod(closed.c_str(), 0);
        LogCapture log;
        const Directory listing(closed);
        ::chmod(closed.c_str(), 0700);
        QVERIFY(listing.files.empty());
        QCOMPARE(log.lines(), std::vector<std::string>{"Cannot read URL " + closed.string()});
    }

    // Readable but not searchable: the names come, their attributes do not.
    void entriesWhoseAttributesCannotBeReadAreLoggedAndLeftOut() {
        if (::geteuid() == 0) QSKIP("root reads every attribute");
        TemporaryFolder dir;
        const fs::path closed = dir.path() / "namesOnly";
        fs::create_directory(closed);
        writeFile(closed / "a", "x");
        fs::create_directory(closed / "b");
        ::chmod(closed.c_str(), 0400);
        LogCapture log;
        const Directory listing(closed);
        ::chmod(closed.c_str(), 0700);
        QVERIFY(listing.files.empty());
        auto lines = log.lines();
        std::sort(lines.begin(), lines.end());
        QCOMPARE(lines, (std::vector<std::string>{"Error reading file attributes: " + (closed / "a").string(),
                                                  "Error reading file attributes: " + (closed / "b").string()}));
    }

    // Each row: the entries (a name, its size, its modification day; size -1
    // makes a folder), the order, and the expected result as groups of equal
    // keys; within a group the listing's own order must hold.
    void sortsStablyByEachKey_data() {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("order");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<Groups>("groups");

        const std::string aRingComposed = "\xc3\x85";  // U+00C5
        const std::string aRingDecomposed = "A\xcc\x8a";  // U+0041 U+030A
        // From NormalizationTest.txt: 212B;00C5;00C5;0041 030A;0041 030A;
        const Entries names = {
            {"apple", 1, 1}, {"Zeta", 1, 1}, {"banana", 1, 1}, {aRingComposed, 1, 1}, {"B", 1, 1},
            {aRingDecomposed, 1, 1}, {"A", 1, 1}};
        QTest::newRow("name ascending: upper case first, equivalent names equal")
            << names << "name" << true
            << Groups{
                   {"A"}, {"B"}, {"Zeta"}, {"apple"}, {"banana"}, {aRingComposed, aRingDecomposed}};
        QTest::newRow("name descending")
            << names << "name" << false
            << Groups{
                   {aRingComposed, aRingDecomposed}, {"banana"}, {"apple"}, {"Zeta"}, {"B"}, {"A"}};

        const Entries sizes = {
            {"ten1", 10, 1}, {"empty1", 0, 1}, {"ten2", 10, 1}, {"folder", -1, 1},
            {"five", 5, 1},  {"empty2", 0, 1}, {"ten3", 10, 1}};
        QTest::newRow("size ascending: the unknown and the empty first")
            << sizes << "size" << true
            << Groups{{"empty1", "folder", "empty2"}, {"five"}, {"ten1", "ten2", "ten3"}};
        QTest::newRow("size descending")
            << sizes << "size" << false
            << Groups{{"ten1", "ten2", "ten3"}, {"five"}, {"empty1", "folder", "empty2"}};

        const Entries dates = {
            {"late", 1, 30}, {"early", 1, 2}, {"mid1", 1, 15}, {"folder", -1, 15}, {"mid2", 1, 15}};
        QTest::newRow("date ascending")
            << dates << "date" << true
            << Groups{{"early"}, {"mid1", "folder", "mid2"}, {"late"}};
        QTest::newRow("date descending")
            << dates << "date" << false
            << Groups{{"late"}, {"mid1", "folder", "mid2"}, {"early"}};
    }
    void sortsStablyByEachKey() {
        QFETCH(Entries, entries);
        QFETCH(QString, order);
        QFETCH(bool, ascending);
        QFETCH(Groups, groups);

        TemporaryFolder dir;
        const fs::path folder = dir.path();
        for (const auto& [name, size, day] : entries) {
            if (size < 0) {
                fs::create_directory(folder / name);
            } else {
                writeFile(folder / name, std::string(static_cast<std::size_t>(size), 'x'));
            }
            setModified(folder / name, 1600000000L + day * 86400L);
        }
        const Directory listing(folder);
        const auto key = Directory::fileOrderFromRaw(order.toStdString());
        QVERIFY(key);
        const QString listedBefore = joined(listing.files);

        const auto sorted = listing.contentsOrderedBy(*key, ascending);

        // Equal keys keep the order of the listing, in both directions.
        const auto listed = [&](const std::string& name) {
            for (std::size_t i = 0; i < listing.files.size(); ++i)
                if (listing.files[i].name == name) return i;
            return listing.files.size();
        };
        std::vector<std::string> expected;
        for (auto group : groups) {
            std::sort(group.begin(), group.end(),
                      [&](const std::string& a, const std::string& b) { return listed(a) < listed(b); });
            expected.insert(expected.end(), group.begin(), group.end());
        }
        std::vector<std::string> got;
        for (const auto& entry : sorted) got.push_back(entry.name);
        QVERIFY2(got == expected, qPrintable("got " + joined(sorted) + ", listed " + joined(listing.files)));
        // A copy: the listing keeps its own order.
        QCOMPARE(joined(listing.files), listedBefore);
    }

    // The type comes from the name; its icon from the theme, by the type's
    // own icon name, else its generic one, else the plain file icon. The
    // same when the folder is listed again and the types of its names are
    // remembered.
    void eachFileGetsTheIconOfItsType_data() {
        QTest::addColumn<int>("listings");
        QTest::newRow("listed once") << 1;
        QTest::newRow("listed again") << 2;
    }
    void eachFileGetsTheIconOfItsType() {
        QFETCH(int, listings);
        constexpr int fillers = 20;
        TemporaryFolder themes;
        installTestTheme(themes.path());
        TemporaryFolder dir;
        const fs::path folder = dir.path();
        for (int n = 0; n < fillers; ++n) writeFile(folder / ("filler " + std::to_string(n) + ".pdf"), "x");
        writeFile(folder / "notes.txt", "x");
        writeFile(folder / "picture.png", "not really a picture");
        writeFile(folder / "tune.mp3", "x");
        writeFile(folder / "unknown.qq7", "x");
        fs::create_directory(folder / "folder.txt");

        std::map<std::string, QString> icons;
        for (int round = 0; round < listings; ++round) {
            const Directory listing(folder);
            QCOMPARE(listing.files.size(), std::size_t(fillers + 5));
            for (const auto& entry : listing.files) icons[entry.name] = entry.icon.name();
        }

        QCOMPARE(icons.at("notes.txt"), QString("text-plain"));
        QCOMPARE(icons.at("picture.png"), QString("image-png"));
        QCOMPARE(icons.at("tune.mp3"), QString("audio-x-generic"));
        const QFileIconProvider provider;
        QCOMPARE(icons.at("unknown.qq7"), provider.icon(QAbstractFileIconProvider::File).name());
        QCOMPARE(icons.at("folder.txt"), provider.icon(QAbstractFileIconProvider::Folder).name());
        for (int n = 0; n < fillers; ++n) QCOMPARE(icons.at("filler " + std::to_string(n) + ".pdf"), QString("application-pdf"));
        QIcon::setThemeName(QString());
    }

    void fileOrderFromRawIsExact() {
        QCOMPARE(Directory::fileOrderFromRaw("name"), std::optional(Directory::FileOrder::name));
        QCOMPARE(Directory::fileOrderFromRaw("date"), std::optional(Directory::FileOrder::date));
        QCOMPARE(Directory::fileOrderFromRaw("size"), std::optional(Directory::FileOrder::size));
        for (const char* other : {"Name", "size ", "modificationDate", "itemType", ""})
            QVERIFY2(!Directory::fileOrderFromRaw(other), other);
        for (auto order : {Directory::FileOrder::name, Directory::FileOrder::date, Directory::FileOrder::size})
            QCOMPARE(Directory::fileOrderFromRaw(Directory::rawValue(order)), std::optional(order));
    }
};

QTEST_MAIN(DirectoryTest)
#include "Directory_test.moc"
