// The remote table's rows and their order: the sort keys by their exact
// texts; names in the library's name order (case-sensitive, canonically
// equivalent names equal); a missing size as 0; rows without a date as now,
// now read once per sort; kinds in their case order; equal keys keeping
// their order in both directions.

#include <QTest>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/window/RemoteItemsTableContent.h"

using quorvel::RemoteItemsTableContent;
using quorvel::TableRemoteItemType;
using FileOrder = RemoteItemsTableContent::FileOrder;
using Ids = std::vector<std::string>;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<FileOrder>)

namespace {

constexpr std::chrono::sys_seconds kNow{std::chrono::sys_days{std::chrono::year{2026} / 12 / 11}};

// U+00C5 and its canonical decomposition A + U+030A: the pair of
// NormalizationTest.txt's line "00C5;00C5;0041 030A;00C5;0041 030A;".
constexpr char kPrecomposedAring[] = "\xC3\x85";
constexpr char kDecomposedAring[] = "A\xCC\x8A";

struct Row {
    std::string uuid;
    std::string name = "n";
    TableRemoteItemType type = TableRemoteItemType::FILE;
    std::optional<std::chrono::sys_seconds> date;
    std::optional<std::int64_t> size;
};

RemoteItemsTableContent contentOf(const std::vector<Row>& rows,
                                  RemoteItemsTableContent::Clock clock = [] { return kNow; }) {
    RemoteItemsTableContent content(std::move(clock));
    for (const auto& row : rows) content.addItem(row.uuid, row.name, row.type, row.date, row.size, {});
    return content;
}

Ids sorted(const std::vector<Row>& rows, FileOrder order, bool ascending) {
    auto content = contentOf(rows);
    content.contentsOrderedBy(order, ascending);
    Ids out;
    for (const auto& row : content.content) out.push_back(row.uuid);
    return out;
}

Row named(std::string uuid, std::string name) { return {std::move(uuid), std::move(name)}; }
Row sized(std::string uuid, std::optional<std::int64_t> size) { return {std::move(uuid), "n", {}, {}, size}; }
Row dated(std::string uuid, std::optional<std::chrono::sys_seconds> date) {
    return {std::move(uuid), "n", {}, date, {}};
}
Row kind(std::string uuid, TableRemoteItemType type) { return {std::move(uuid), "n", type}; }

}  // namespace

Q_DECLARE_METATYPE(std::vector<Row>)
Q_DECLARE_METATYPE(Ids)

class RemoteItemsTableContentTest : public QObject {
    Q_OBJECT

private slots:
    void keysAreTheirExactTexts_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<std::optional<FileOrder>>("order");
        QTest::newRow("name") << "name" << std::optional(FileOrder::name);
        QTest::newRow("modificationDate") << "modificationDate" << std::optional(FileOrder::modificationDate);
        QTest::newRow("size") << "size" << std::optional(FileOrder::size);
        QTest::newRow("itemType") << "itemType" << std::optional(FileOrder::itemType);
        QTest::newRow("capital") << "Name" << std::optional<FileOrder>();
        QTest::newRow("local date key") << "date" << std::optional<FileOrder>();
        QTest::newRow("trailing blank") << "size " << std::optional<FileOrder>();
        QTest::newRow("empty") << "" << std::optional<FileOrder>();
    }
    void keysAreTheirExactTexts() {
        QFETCH(QString, raw);
        QFETCH(std::optional<FileOrder>, order);
        QCOMPARE(RemoteItemsTableContent::fromRaw(raw.toStdString()), order);
        if (order) QCOMPARE(QString::fromLatin1(RemoteItemsTableContent::rawValue(*order).data()), raw);
    }

    void sortsAsTheTableSays_data() {
        QTest::addColumn<std::vector<Row>>("rows");
        QTest::addColumn<int>("order");
        QTest::addColumn<Ids>("ascending");
        QTest::addColumn<Ids>("descending");
        const auto by = [](FileOrder o) { return static_cast<int>(o); };

        // Every upper-case letter before every lower-case one; no locale.
        QTest::newRow("case before letter") << std::vector<Row>{named("a", "apple"), named("z", "Zeta")}
                                            << by(FileOrder::name) << Ids{"z", "a"} << Ids{"a", "z"};
        QTest::newRow("no numeric order") << std::vector<Row>{named("10", "file10"), named("9", "file9")}
                                          << by(FileOrder::name) << Ids{"10", "9"} << Ids{"9", "10"};
        // Canonically equivalent names are equal: they keep their order in
        // both directions, whichever comes first.
        QTest::newRow("Å composed first")
            << std::vector<Row>{named("composed", kPrecomposedAring), named("decomposed", kDecomposedAring),
                                named("b", "B")}
            << by(FileOrder::name) << Ids{"b", "composed", "decomposed"} << Ids{"composed", "decomposed", "b"};
        QTest::newRow("Å decomposed first")
            << std::vector<Row>{named("decomposed", kDecomposedAring), named("composed", kPrecomposedAring),
                                named("b", "B")}
            << by(FileOrder::name) << Ids{"b", "decomposed", "composed"} << Ids{"decomposed", "composed", "b"};
        QTest::newRow("equal names keep their order")
            << std::vector<Row>{named("1", "same"), named("2", "same"), named("0", "earlier")}
            << by(FileOrder::name) << Ids{"0", "1", "2"} << Ids{"1", "2", "0"};

        QTest::newRow("missing size is 0")
            << std::vector<Row>{sized("none", std::nullopt), sized("big", 5), sized("zero", 0)}
            << by(FileOrder::size) << Ids{"none", "zero", "big"} << Ids{"big", "none", "zero"};
        QTest::newRow("signed sizes") << std::vector<Row>{sized("neg", -1), sized("none", std::nullopt)}
                                      << by(FileOrder::size) << Ids{"neg", "none"} << Ids{"none", "neg"};

        // A row without a date is now: after every past date ascending,
        // before them descending.
        QTest::newRow("dateless rows")
            << std::vector<Row>{dated("shares", std::nullopt), dated("old", kNow - 48h), dated("peer", std::nullopt),
                                dated("new", kNow - 1h)}
            << by(FileOrder::modificationDate) << Ids{"old", "new", "shares", "peer"}
            << Ids{"shares", "peer", "new", "old"};

        QTest::newRow("kinds in case order")
            << std::vector<Row>{kind("shares", TableRemoteItemType::SHARESDIR), kind("dir", TableRemoteItemType::DIRECTORY),
                                kind("peer", TableRemoteItemType::PEER), kind("file", TableRemoteItemType::FILE),
                                kind("root", TableRemoteItemType::ROOT), kind("file2", TableRemoteItemType::FILE)}
            << by(FileOrder::itemType) << Ids{"root", "file", "file2", "dir", "peer", "shares"}
            << Ids{"shares", "peer", "dir", "file", "file2", "root"};
    }
    void sortsAsTheTableSays() {
        QFETCH(std::vector<Row>, rows);
        QFETCH(int, order);
        QFETCH(Ids, ascending);
        QFETCH(Ids, descending);
        QCOMPARE(sorted(rows, static_cast<FileOrder>(order), true), ascending);
        QCOMPARE(sorted(rows, static_cast<FileOrder>(order), false), descending);
    }

    // Now read at each comparison moves during the sort, which then has no
    // consistent order to follow; it is read once.
    void aSortReadsTheClockOnce() {
        int reads = 0;
        std::vector<Row> rows;
        for (int i = 0; i < 1000; ++i) rows.push_back(dated("u" + std::to_string(i), std::nullopt));
        rows.push_back(dated("dated", kNow - 1s));
        auto content = contentOf(rows, [&reads] { return kNow + std::chrono::seconds(reads++); });

        content.contentsOrderedBy(FileOrder::modificationDate, true);
        QCOMPARE(reads, 1);
        // All dateless rows equal: they keep their order, after the dated one.
        QCOMPARE(content.content.front().uuid, std::string("dated"));
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(content.content[static_cast<std::size_t>(i) + 1].uuid, "u" + std::to_string(i));

        content.contentsOrderedBy(FileOrder::modificationDate, false);
        QCOMPARE(reads, 2);
        QCOMPARE(content.content.back().uuid, std::string("dated"));
    }
};

QTEST_GUILESS_MAIN(RemoteItemsTableContentTest)
#include "RemoteItemsTableContent_test.moc"
