#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jobs/Logger.h"
#include "platform/NotificationCenter.h"

namespace ostrelcomm {
namespace {

// A wall-clock time in the local time zone, made with mktime so that the
// expectation does not go through the code under test.
std::chrono::sys_seconds localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::sys_seconds(std::chrono::seconds(std::mktime(&tm)));
}

// Collects the "evtDescr" of every "ErrorLogUpdated" on the default center.
class LogAnnouncements {
public:
    LogAnnouncements() {
        token_ = NotificationCenter::defaultCenter().addObserver(kErrorLogUpdatedNotification,
                                                                 [this](const Notification& n) {
                                                                     std::lock_guard lock(mutex_);
                                                                     const auto* line = userInfoValue<std::string>(n.userInfo, "evtDescr");
                                                                     lines_.push_back(line ? *line : "<no evtDescr>");
                                                                 });
    }
    ~LogAnnouncements() { NotificationCenter::defaultCenter().removeObserver(token_); }
    // The announcements whose line ends with `suffix` (other engines may log meanwhile).
    std::vector<std::string> endingWith(const std::string& suffix) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& line : lines_)
            if (line.size() >= suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(line);
        return out;
    }

private:
    NotificationCenter::Token token_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST(Logger, TextualEventShowsLocalDateLevelNameAndDescription) {
    struct Case {
        Logger::Event event;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{localTime(2026, 12, 9, 7, 49, 31), Logger::EvtType::info, "Queued profile query"},
         "09.12.2026 07:49:31 - info: Queued profile query"},
        {{localTime(2027, 1, 2, 3, 4, 5), Logger::EvtType::warning, "w"}, "02.01.2027 03:04:05 - warning: w"},
        {{localTime(2025, 11, 30, 23, 59, 59), Logger::EvtType::error, "Bad http status code: 500 - x"},
         "30.11.2025 23:59:59 - error: Bad http status code: 500 - x"},
        {{localTime(2026, 6, 15, 12, 0, 0), Logger::EvtType::fatal, ""}, "15.06.2026 12:00:00 - fatal: "},
        {{localTime(2026, 6, 15, 0, 0, 0), Logger::EvtType::info, "two\nlines\r\n"},
         "15.06.2026 00:00:00 - info: two\nlines\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Logger::getTextualEvent(c.event), c.expected);
}

TEST(Logger, AddEventAppendsAndAnnouncesOnceWithTheTextualLine) {
    LogAnnouncements announcements;
    Logger log;
    EXPECT_TRUE(log.events().empty());

    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    log.addEvent("first event of AddEventAppends", Logger::EvtType::info);
    log.addEvent("line one\nline two of AddEventAppends", Logger::EvtType::error);
    const auto after = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());

    const auto events = log.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, Logger::EvtType::info);
    EXPECT_EQ(events[0].description, "first event of AddEventAppends");
    EXPECT_EQ(events[1].type, Logger::EvtType::error);
    EXPECT_EQ(events[1].description, "line one\nline two of AddEventAppends");
    for (const auto& e : events) {
        EXPECT_GE(e.date, before);
        EXPECT_LE(e.date, after);
    }

    const auto first = announcements.endingWith("first event of AddEventAppends");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], Logger::getTextualEvent(events[0]));
    const auto second = announcements.endingWith("line two of AddEventAppends");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0], Logger::getTextualEvent(events[1]));
}

TEST(Logger, LevelShortcutsClearAndTextualLogs) {
    Logger log;
    log.addInfo("a");
    log.addWarning("b");
    log.addError("c");
    log.addFatal("d");
    const auto events = log.events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, Logger::EvtType::info);
    EXPECT_EQ(events[1].type, Logger::EvtType::warning);
    EXPECT_EQ(events[2].type, Logger::EvtType::error);
    EXPECT_EQ(events[3].type, Logger::EvtType::fatal);

    const auto lines = log.getTextualLogs();
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], Logger::getTextualEvent(events[i]));
    EXPECT_NE(lines[2].find(" - error: c"), std::string::npos);

    log.clearEvents();
    EXPECT_TRUE(log.events().empty());
    EXPECT_TRUE(log.getTextualLogs().empty());
}

TEST(Logger, RawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(evtTypeFromRaw("INFO"), Logger::EvtType::info);
    EXPECT_EQ(evtTypeFromRaw("WARNING"), Logger::EvtType::warning);
    EXPECT_EQ(evtTypeFromRaw("ERROR"), Logger::EvtType::error);
    EXPECT_EQ(evtTypeFromRaw("FATAL"), Logger::EvtType::fatal);
    for (const char* bad : {"info", "Info", "", "INFO ", "DEBUG"}) EXPECT_FALSE(evtTypeFromRaw(bad).has_value()) << bad;
    EXPECT_EQ(rawValue(Logger::EvtType::warning), "WARNING");
    EXPECT_EQ(name(Logger::EvtType::warning), "warning");
}

// Events come from the caller's thread and from answer handlers at once.
TEST(Logger, ConcurrentAddsAreAllKept) {
    Logger log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 50; ++i) log.addInfo("t" + std::to_string(t));
        });
    for (int i = 0; i < 50; ++i) (void)log.getTextualLogs();
    for (auto& th : threads) th.join();
    EXPECT_EQ(log.events().size(), 200u);
}

}  // namespace
}  // namespace ostrelcomm
