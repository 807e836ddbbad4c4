#pragma once

#include <QLocale>
#include <QString>

#include <chrono>
#include <cstdint>

namespace quorvel::Formatters {

// How much of a date or a time is written, as desktop date formatters name
// it: for a date, short "12/11/26", medium "Dec 11, 2026", long "December
// 11, 2026", full with the weekday; for a time, short "7:47 AM", medium with
// seconds, long with the zone's abbreviation, full with its name. `none`
// leaves the part out.
enum class DateStyle { none, short_, medium, long_, full };

// `when` in the local time zone, date and time as asked, in `locale`.
QString date(std::chrono::sys_seconds when, DateStyle dateStyle, DateStyle timeStyle,
             const QLocale& locale = QLocale());

// A byte count as people read it in messages about files ("Zero KB",
// "4.2 MB"); with `exactCount`, followed by " (N bytes)" in plain digits.
QString byteCount(std::uint64_t bytes, bool exactCount = false);
QString byteCount(std::int64_t bytes, bool exactCount = false);

}  // namespace quorvel::Formatters
