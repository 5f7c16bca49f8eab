#include "frame/GeneralDate.h"

#include <QRegularExpression>

#include <cmath>

QString GeneralDate::datePattern(const QLocale& locale)
{
    QString pattern = locale.dateFormat(QLocale::ShortFormat);
    // A two-digit year cannot be read back to the right century: widen it.
    if (!pattern.contains(QStringLiteral("yyyy")))
        pattern.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return pattern;
}

QString GeneralDate::timePattern(const QLocale& locale)
{
    QString pattern = locale.timeFormat(QLocale::LongFormat);
    // Drop the time-zone name ("t", "tt", ...) with the blanks around it.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    pattern.replace(zone, QStringLiteral(" "));
    return pattern.trimmed();
}

QString GeneralDate::format(const QDateTime& value, const QLocale& locale)
{
    const QDateTime local = value.toLocalTime();
    const QString date = locale.toString(local.date(), datePattern(locale));
    if (local.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + locale.toString(local.time(), timePattern(locale));
}

std::optional<QDateTime> GeneralDate::parse(const QString& text, const QLocale& locale)
{
    const QString date = datePattern(locale);
    QDateTime value = locale.toDateTime(text, date + QLatin1Char(' ') + timePattern(locale));
    if (value.isValid())
        return value;
    const QDate day = locale.toDate(text, date);
    if (day.isValid())
        return QDateTime(day, QTime(0, 0));
    return std::nullopt;
}

double GeneralDate::serialDay(const QDateTime& value)
{
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    const qint64 days = value.date().toJulianDay() - epoch;
    const double fraction = value.time().msecsSinceStartOfDay() / 86400000.0;
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

qint64 GeneralDate::roundedSerialDay(const QDateTime& value)
{
    // nearbyint rounds in the default mode, to nearest with ties to even.
    return qint64(std::nearbyint(serialDay(value)));
}
