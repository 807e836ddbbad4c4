// The texts of byte counts and dates as the tables and sheets show them:
// byte counts in the file style, with the exact count when asked for; dates
// and times in the four styles, in the locale's own order and words, in the
// local time zone.

#include <QLocale>
#include <QTest>

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <limits>

#include "app/Extensions/Formatters.h"

using quorvel::Formatters::DateStyle;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(DateStyle)

namespace {

// Friday, December 11, 2026, 07:47:09 UTC.
constexpr std::chrono::sys_seconds kMoment{std::chrono::sys_days{std::chrono::year{2026} / 12 / 11} + 7h + 47min +
                                           9s};

}  // namespace

class FormattersTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The local time zone is the test's: UTC, then Tokyo for one case.
        qputenv("TZ", "UTC");
        tzset();
    }

    void byteCounts_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64{0} << false << "Zero KB";
        QTest::newRow("one byte") << qint64{1} << false << "1 byte";
        QTest::newRow("bytes") << qint64{999} << false << "999 bytes";
        QTest::newRow("kilobytes") << qint64{4'321} << false << "4 KB";
        QTest::newRow("megabytes") << qint64{4'200'000} << false << "4.2 MB";
        QTest::newRow("exact") << qint64{4'200'000} << true << "4.2 MB (4200000 bytes)";
        QTest::newRow("zero exact") << qint64{0} << true << "Zero KB (0 bytes)";
        QTest::newRow("negative") << qint64{-1'500'000} << false << "-1.5 MB";
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << false << "9.22 EB";
    }
    void byteCounts() {
        QFETCH(qint64, bytes);
        QFETCH(bool, exact);
        QFETCH(QString, text);
        QCOMPARE(quorvel::Formatters::byteCount(static_cast<std::int64_t>(bytes), exact), text);
        if (bytes >= 0)
            QCOMPARE(quorvel::Formatters::byteCount(static_cast<std::uint64_t>(bytes), exact), text);
    }

    void dates_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<DateStyle>("date");
        QTest::addColumn<DateStyle>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("en medium short") << "en_US" << DateStyle::medium << DateStyle::short_ << "Dec 11, 2026, 7:47 AM";
        QTest::newRow("en short") << "en_US" << DateStyle::short_ << DateStyle::none << "12/11/26";
        QTest::newRow("en long medium") << "en_US" << DateStyle::long_ << DateStyle::medium
                                        << "December 11, 2026, 7:47:09 AM";
        QTest::newRow("en full long") << "en_US" << DateStyle::full << DateStyle::long_
                                      << "Friday, December 11, 2026, 7:47:09 AM UTC";
        QTest::newRow("en time alone") << "en_US" << DateStyle::none << DateStyle::short_ << "7:47 AM";
        QTest::newRow("de medium short") << "de_DE" << DateStyle::medium << DateStyle::short_ << "11. Dez. 2026, 07:47";
        QTest::newRow("de long") << "de_DE" << DateStyle::long_ << DateStyle::none << "11. Dezember 2026";
        QTest::newRow("fr full") << "fr_FR" << DateStyle::full << DateStyle::none << "vendredi 11 décembre 2026";
        QTest::newRow("neither") << "en_US" << DateStyle::none << DateStyle::none << "";
    }
    void dates() {
        QFETCH(QString, locale);
        QFETCH(DateStyle, date);
        QFETCH(DateStyle, time);
        QFETCH(QString, text);
        QCOMPARE(quorvel::Formatters::date(kMoment, date, time, QLocale(locale)), text);
    }

    // The moment is shown in the local time zone, not in UTC.
    void datesAreLocal() {
        qputenv("TZ", "Asia/Tokyo");
        tzset();
        const QString shown =
            quorvel::Formatters::date(kMoment, DateStyle::medium, DateStyle::short_, QLocale(QStringLiteral("en_US")));
        qputenv("TZ", "UTC");
        tzset();
        QCOMPARE(shown, QStringLiteral("Dec 11, 2026, 4:47 PM"));
    }

    // The platform's "distant past", the date of a file whose time cannot be
    // read, is written like any other.
    void theDistantPastIsWritten() {
        const std::chrono::sys_seconds distantPast{std::chrono::sys_days{std::chrono::year{1} / 1 / 1}};
        QCOMPARE(quorvel::Formatters::date(distantPast, DateStyle::medium, DateStyle::short_,
                                           QLocale(QStringLiteral("en_US"))),
                 QStringLiteral("Jan 1, 0001, 12:00 AM"));
    }
};

QTEST_GUILESS_MAIN(FormattersTest)
#include "Formatters_test.moc"
