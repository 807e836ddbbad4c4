// The password strength rule: a table of passwords and their levels, with
// each row's character classes found again by Python's regular expressions
// from the same patterns, read from one fixture file that the product's
// patterns must equal character for character.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>

#include <array>
#include <vector>

#include "app/Extensions/CharacterCount.h"
#include "app/utils/PasswordStrength.h"

namespace {

const QString kOracles = QStringLiteral(QUORVEL_SOURCE_DIR "/tests/app/oracles/");

struct Row {
    const char* what;
    QString password;
    int characters;
    int level;
};

const QString kFamily = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
const QString kAcute = QStringLiteral("e\u0301");

std::vector<Row> rows() {
    return {
        {"four small letters", QStringLiteral("abcd"), 4, 1},
        {"eight small letters", QStringLiteral("abcdefgh"), 8, 1},
        {"a capital and seven small letters", QStringLiteral("Abcdefgh"), 8, 2},
        {"the same and a digit", QStringLiteral("Abcdefgh1"), 9, 3},
        {"nine small letters", QStringLiteral("abcdefghi"), 9, 2},
        {"four exclamation marks", QStringLiteral("!!!!"), 4, 1},
        {"empty", QString(), 0, 0},
        {"one space", QStringLiteral(" "), 1, 1},
        {"e acute", QString::fromUtf8("é"), 1, 1},
        // A digit is also in the special class's range '&' to '_'.
        {"a small letter and a digit", QStringLiteral("a1"), 2, 2},
        // Counted as code units these would score more length points.
        {"a letter and three joined emoji", QStringLiteral("a") + kFamily + kFamily + kFamily, 4, 1},
        {"five e with a combining acute", kAcute.repeated(5), 5, 1},
    };
}

int lengthPoints(int characters) { return characters <= 4 ? 1 : characters <= 8 ? 2 : 3; }

int levelOf(int score) { return score < 4 ? 1 : score < 7 ? 2 : 3; }

QStringList fixturePatterns() {
    QFile file(kOracles + "password-classes.txt");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// Python's re.search of each pattern of the fixture in each password.
std::vector<std::array<int, 4>> pythonClasses(const std::vector<Row>& table, QString* failure) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        *failure = QStringLiteral("python3 is not installed");
        return {};
    }
    QJsonArray passwords;
    for (const Row& row : table) passwords.append(row.password);
    QProcess oracle;
    oracle.start(python, {kOracles + "password_classes.py", kOracles + "password-classes.txt"});
    oracle.write(QJsonDocument(passwords).toJson(QJsonDocument::Compact));
    oracle.closeWriteChannel();
    if (!oracle.waitForFinished(60'000) || oracle.exitCode() != 0) {
        *failure = QStringLiteral("the Python oracle failed: ") + QString::fromUtf8(oracle.readAllStandardError());
        return {};
    }
    std::vector<std::array<int, 4>> out;
    for (const auto& found : QJsonDocument::fromJson(oracle.readAllStandardOutput()).array()) {
        const QJsonArray classes = found.toArray();
        if (classes.size() != 4) break;
        out.push_back({classes[0].toInt(), classes[1].toInt(), classes[2].toInt(), classes[3].toInt()});
    }
    if (out.size() != table.size()) *failure = QStringLiteral("the Python oracle answered for other rows");
    return out;
}

}  // namespace

class PasswordStrengthTest : public QObject {
    Q_OBJECT

private slots:
    void thePatternsAreTheFixturesCharacterForCharacter() {
        const QStringList patterns = fixturePatterns();
        QCOMPARE(patterns.size(), qsizetype(quorvel::PasswordStrength::kClassPatterns.size()));
        for (qsizetype i = 0; i < patterns.size(); ++i)
            QCOMPARE(QString::fromLatin1(quorvel::PasswordStrength::kClassPatterns[std::size_t(i)]), patterns[i]);
        QCOMPARE(patterns[3].size(), qsizetype(59));
    }

    void eachPasswordGetsTheLevelItsCharactersAndClassesGive() {
        const std::vector<Row> table = rows();
        QString failure;
        const auto classes = pythonClasses(table, &failure);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        for (std::size_t i = 0; i < table.size(); ++i) {
            const Row& row = table[i];
            const QByteArray what(row.what);
            QVERIFY2(quorvel::characterCount(row.password) == row.characters, what.constData());
            if (row.characters > 0) {
                const int score = lengthPoints(row.characters) + classes[i][0] + classes[i][1] + classes[i][2] +
                                  classes[i][3];
                QVERIFY2(levelOf(score) == row.level, what.constData());
            }
            QVERIFY2(quorvel::PasswordStrength::checkStrength(row.password) == row.level,
                     qPrintable(what + ": level " + QByteArray::number(quorvel::PasswordStrength::checkStrength(row.password))));
        }
        // The special class takes in the capitals and the digits.
        QCOMPARE(classes[3], (std::array<int, 4>{1, 1, 1, 1}));
        QCOMPARE(classes[9], (std::array<int, 4>{0, 1, 1, 1}));
    }
};

QTEST_GUILESS_MAIN(PasswordStrengthTest)
#include "PasswordStrength_test.moc"
