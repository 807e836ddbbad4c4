// Characters as readers count them, against the Unicode Consortium's own
// grapheme-break test data: every row of the file, whose break marks give
// the number of characters.

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

#include <vector>

#include "app/Extensions/CharacterCount.h"

namespace {

constexpr char kBreakTest[] = "/usr/share/unicode/auxiliary/GraphemeBreakTest.txt";

struct Row {
    int line = 0;
    std::vector<char32_t> codePoints;
    // The number of pieces the break marks ("÷") cut the row into.
    int characters = 0;
};

std::vector<Row> readRows() {
    std::vector<Row> rows;
    QFile file(QString::fromLatin1(kBreakTest));
    if (!file.open(QIODevice::ReadOnly)) return rows;
    int line = 0;
    while (!file.atEnd()) {
        ++line;
        const QString text = QString::fromUtf8(file.readLine()).section(u'#', 0, 0).trimmed();
        if (text.isEmpty()) continue;
        Row row;
        row.line = line;
        int breaks = 0;
        for (const QString& token : text.split(u' ', Qt::SkipEmptyParts)) {
            if (token == QStringLiteral("÷")) {
                ++breaks;
            } else if (token != QStringLiteral("×")) {
                bool ok = false;
                row.codePoints.push_back(char32_t(token.toUInt(&ok, 16)));
                if (!ok) return {};
            }
        }
        // A row starts and ends with a break.
        row.characters = breaks - 1;
        rows.push_back(std::move(row));
    }
    return rows;
}

QString textOf(const std::vector<char32_t>& codePoints) {
    return QString::fromUcs4(codePoints.data(), qsizetype(codePoints.size()));
}

}  // namespace

class CharacterCountTest : public QObject {
    Q_OBJECT

private slots:
    void everyRowOfTheUnicodeBreakTestCountsAsItsBreaksSay() {
        const std::vector<Row> rows = readRows();
        QVERIFY2(rows.size() > 500, "GraphemeBreakTest.txt is missing or unreadable (package unicode-data)");
        QStringList wrong;
        for (const Row& row : rows) {
            const int counted = quorvel::characterCount(textOf(row.codePoints));
            if (counted != row.characters)
                wrong << QStringLiteral("line %1: %2 in place of %3").arg(row.line).arg(counted).arg(row.characters);
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));

        // Among them the kinds a password may well hold, each one character.
        const std::vector<std::vector<char32_t>> kinds = {
            {0x1F476, 0x1F3FF, 0x0308, 0x200D, 0x1F476, 0x1F3FF},  // emoji joined by ZWJ, with modifiers
            {0x1F1E6, 0x1F1E6},                                    // a flag: two regional indicators
            {0xAC00, 0x0308, 0x0300},                              // a letter with two combining marks
            {0x1100, 0xAC01},                                      // a Hangul syllable sequence
        };
        for (const auto& kind : kinds) {
            bool found = false;
            for (const Row& row : rows) found = found || (row.codePoints == kind && row.characters == 1);
            QVERIFY2(found, qPrintable(QStringLiteral("no one-character row of ") + textOf(kind)));
        }
    }

    void anEmptyTextHasNone() { QCOMPARE(quorvel::characterCount(QString()), 0); }
};

QTEST_GUILESS_MAIN(CharacterCountTest)
#include "CharacterCount_test.moc"
