#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrelcomm {

// Name of the announcement of every new event, on the default center; its
// userInfo "evtDescr" holds the event's one-line text.
inline constexpr char kErrorLogUpdatedNotification[] = "ErrorLogUpdated";

// Levels of the event log: the case name is what the one-line text shows,
// the raw value is the level's stored form.
#define OSTRELCOMM_LOGGER_EVT_TYPES(X) X(info, "INFO") X(warning, "WARNING") X(error, "ERROR") X(fatal, "FATAL")

// An engine's event log, kept in memory for the life of the engine. Every
// event is also announced, as one line of text, on the default notification
// center. Events may be added from any thread; the announcement is made on
// the adding thread, outside the log's own lock.
class Logger {
public:
    enum class EvtType {
#define OSTRELCOMM_ENUM_CASE(name, raw) name,
        OSTRELCOMM_LOGGER_EVT_TYPES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
    };

    struct Event {
        std::chrono::sys_seconds date;
        EvtType type;
        std::string description;
    };

    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // A copy of the events, oldest first.
    std::vector<Event> events() const;
    void setEvents(std::vector<Event> events);

    void addInfo(const std::string& description);
    void addWarning(const std::string& description);
    void addError(const std::string& description);
    void addFatal(const std::string& description);
    // Appends an event stamped now and announces it.
    void addEvent(const std::string& description, EvtType type);

    void clearEvents();

    // "dd.MM.yyyy HH:mm:ss - <level>: <description>", the date in local time
    // and the level by its lower-case case name.
    static std::string getTextualEvent(const Event& event);
    std::vector<std::string> getTextualLogs() const;

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// "info", "warning", "error", "fatal".
std::string_view name(Logger::EvtType type);
// "INFO", "WARNING", "ERROR", "FATAL".
std::string_view rawValue(Logger::EvtType type);
// The level with exactly this raw value (case-sensitive); none otherwise.
std::optional<Logger::EvtType> evtTypeFromRaw(std::string_view raw);

}  // namespace ostrelcomm
