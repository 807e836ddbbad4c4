#include "jobs/Logger.h"

#include <cstdio>
#include <ctime>

#include "platform/NotificationCenter.h"

namespace ostrelcomm {

namespace {

std::string formatLocalDate(std::chrono::sys_seconds date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return "??.??.???? ??:??:??";
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

}  // namespace

std::string_view name(Logger::EvtType type) {
    switch (type) {
#define OSTRELCOMM_NAME_CASE(name, raw) \
    case Logger::EvtType::name:         \
        return #name;
        OSTRELCOMM_LOGGER_EVT_TYPES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

std::string_view rawValue(Logger::EvtType type) {
    switch (type) {
#define OSTRELCOMM_RAW_CASE(name, raw) \
    case Logger::EvtType::name:        \
        return raw;
        OSTRELCOMM_LOGGER_EVT_TYPES(OSTRELCOMM_RAW_CASE)
#undef OSTRELCOMM_RAW_CASE
    }
    return {};
}

std::optional<Logger::EvtType> evtTypeFromRaw(std::string_view raw) {
#define OSTRELCOMM_FROM_RAW(name, value) \
    if (raw == value) return Logger::EvtType::name;
    OSTRELCOMM_LOGGER_EVT_TYPES(OSTRELCOMM_FROM_RAW)
#undef OSTRELCOMM_FROM_RAW
    return std::nullopt;
}

std::vector<Logger::Event> Logger::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void Logger::setEvents(std::vector<Event> events) {
    std::lock_guard lock(mutex_);
    events_ = std::move(events);
}

void Logger::addInfo(const std::string& description) { addEvent(description, EvtType::info); }
void Logger::addWarning(const std::string& description) { addEvent(description, EvtType::warning); }
void Logger::addError(const std::string& description) { addEvent(description, EvtType::error); }
void Logger::addFatal(const std::string& description) { addEvent(description, EvtType::fatal); }

void Logger::addEvent(const std::string& description, EvtType type) {
    Event event{std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()), type, description};
    std::string line = getTextualEvent(event);
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    // Observers may read the log back; they run without its lock.
    NotificationCenter::defaultCenter().post(kErrorLogUpdatedNotification, UserInfo{{"evtDescr", std::move(line)}});
}

void Logger::clearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

std::string Logger::getTextualEvent(const Event& event) {
    std::string line = formatLocalDate(event.date);
    line += " - ";
    line += name(event.type);
    line += ": ";
    line += event.description;
    return line;
}

std::vector<std::string> Logger::getTextualLogs() const {
    std::vector<std::string> lines;
    for (const Event& event : events()) lines.push_back(getTextualEvent(event));
    return lines;
}

}  // namespace ostrelcomm
