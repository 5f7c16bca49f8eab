#include "frame/GeneralDate.h"

#include "frame/NumericDateReader.h"

#include <QRegularExpression>

#include <cmath>
#include <vector>

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
    const QString given = locale.timeFormat(QLocale::LongFormat);
    // Every listed message and every log entry asks: the last answer is kept.
    static QString lastGiven, lastPattern;
    if (given == lastGiven && !lastPattern.isEmpty())
        return lastPattern;
    QString pattern = given;
    // Drop the time-zone name ("t", "tt", ...) with the blanks around it, and the brackets
    // some locales put around it ("H:mm:ss (t)"), which would otherwise stay behind empty.
    static const QRegularExpression zone(
        QStringLiteral("\\s*(?:\\(\\s*t+\\s*\\)|\\[\\s*t+\\s*\\]|\\bt+\\b)\\s*"));
    pattern.replace(zone, QStringLiteral(" "));
    lastGiven = given;
    lastPattern = pattern.trimmed();
    return lastPattern;
}

QString GeneralDate::format(const QDateTime& value, const QLocale& locale)
{
    const QDateTime local = value.toLocalTime();
    const QString date = locale.toString(local.date(), datePattern(locale));
    if (local.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + locale.toString(local.time(), timePattern(locale));
}

namespace {

// The quick reader for a pattern in a locale (its month names and markers belong to the
// locale), kept for the few of them one run meets. The reference is used before the next call.
const NumericDateReader& readerFor(const QString& pattern, const QLocale& locale)
{
    struct Kept {
        QString pattern;
        QLocale locale;
        NumericDateReader reader;
    };
    static std::vector<Kept> kept;
    for (const Kept& k : kept) {
        if (k.pattern == pattern && k.locale == locale)
            return k.reader;
    }
    if (kept.size() >= 16)
        kept.erase(kept.begin());
    kept.push_back({pattern, locale, NumericDateReader(pattern, locale)});
    return kept.back().reader;
}

} // namespace

std::optional<QDateTime> GeneralDate::parse(const QString& text, const QLocale& locale)
{
    const QString date = datePattern(locale);
    const QString both = date + QLatin1Char(' ') + timePattern(locale);
    // Texts in the exact form format() gives are read quickly; anything else by QLocale.
    if (std::optional<QDateTime> quick = readerFor(both, locale).read(text))
        return quick;
    if (std::optional<QDateTime> quick = readerFor(date, locale).read(text))
        return quick;
    QDateTime value = locale.toDateTime(text, both);
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
