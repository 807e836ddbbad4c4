#include "app/Extensions/Formatters.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <string>

#include "platform/ByteCount.h"

namespace quorvel::Formatters {

namespace {

// The locale's long date without its weekday: the locale's own order of
// day, month and year is kept.
QString withoutWeekday(QString format) {
    static const QRegularExpression weekday(QStringLiteral("dddd[,.]?\\s*|\\s*,?\\s*dddd"));
    return format.remove(weekday).trimmed();
}

QString dateFormat(DateStyle style, const QLocale& locale) {
    switch (style) {
        case DateStyle::none:
            return {};
        case DateStyle::short_:
            return locale.dateFormat(QLocale::ShortFormat);
        case DateStyle::medium: {
            QString format = withoutWeekday(locale.dateFormat(QLocale::LongFormat));
            return format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
        }
        case DateStyle::long_:
            return withoutWeekday(locale.dateFormat(QLocale::LongFormat));
        case DateStyle::full:
            return locale.dateFormat(QLocale::LongFormat);
    }
    return {};
}

QString withoutZone(QString format) {
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    return format.remove(zone).trimmed();
}

QString timeFormat(DateStyle style, const QLocale& locale) {
    switch (style) {
        case DateStyle::none:
            return {};
        case DateStyle::short_:
            return locale.timeFormat(QLocale::ShortFormat);
        case DateStyle::medium:
            return withoutZone(locale.timeFormat(QLocale::LongFormat));
        case DateStyle::long_:
            return withoutZone(locale.timeFormat(QLocale::LongFormat)) + QStringLiteral(" t");
        case DateStyle::full:
            // Qt 6.4 writes no zone name of its own: the abbreviation stands for it.
            return withoutZone(locale.timeFormat(QLocale::LongFormat)) + QStringLiteral(" t");
    }
    return {};
}

QString exact(const std::string& text, bool exactCount, const QString& digits) {
    QString shown = QString::fromStdString(text);
    if (exactCount) shown += QStringLiteral(" (") + digits + QStringLiteral(" bytes)");
    return shown;
}

}  // namespace

QString date(std::chrono::sys_seconds when, DateStyle dateStyle, DateStyle timeStyle, const QLocale& locale) {
    const QDateTime moment =
        QDateTime::fromSecsSinceEpoch(when.time_since_epoch().count(), QTimeZone::systemTimeZone());
    const QString datePart = dateStyle == DateStyle::none ? QString()
                                                          : locale.toString(moment, dateFormat(dateStyle, locale));
    const QString timePart = timeStyle == DateStyle::none ? QString()
                                                          : locale.toString(moment, timeFormat(timeStyle, locale));
    if (datePart.isEmpty()) return timePart;
    if (timePart.isEmpty()) return datePart;
    return datePart + QStringLiteral(", ") + timePart;
}

QString byteCount(std::uint64_t bytes, bool exactCount) {
    return exact(ostrelcomm::byteCountText(bytes), exactCount, QString::number(bytes));
}

QString byteCount(std::int64_t bytes, bool exactCount) {
    return exact(ostrelcomm::byteCountText(bytes), exactCount, QString::number(bytes));
}

}  // namespace quorvel::Formatters
