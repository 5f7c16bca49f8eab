#include "mail/ImapInternalDate.h"

#include <QByteArrayView>

#include <array>

namespace {

// The fields of `text` between `separator`s, exactly N of them; with `skipEmpty`, runs of the
// separator count as one (and leading or trailing ones as none). Read in place: a retrieval
// reads one date per message.
template <size_t N>
bool fields(QByteArrayView text, char separator, bool skipEmpty, std::array<QByteArrayView, N>& out)
{
    size_t count = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != separator)
            continue;
        const QByteArrayView field = text.sliced(start, i - start);
        start = i + 1;
        if (skipEmpty && field.isEmpty())
            continue;
        if (count == N)
            return false;
        out[count++] = field;
    }
    return count == N;
}

int monthNumber(QByteArrayView name)
{
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i) {
        if (name.compare(kMonths[i], Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

bool toInt(QByteArrayView digits, int& value)
{
    if (digits.isEmpty() || digits.size() > 4)
        return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

QDateTime parseImapInternalDate(const QByteArray& text)
{
    // date-time = DQUOTE date-day-fixed "-" date-month "-" date-year SP time SP zone DQUOTE
    std::array<QByteArrayView, 3> words;
    std::array<QByteArrayView, 3> dateParts;
    std::array<QByteArrayView, 3> timeParts;
    if (!fields(QByteArrayView(text).trimmed(), ' ', true, words) || !fields(words[0], '-', false, dateParts) ||
        !fields(words[1], ':', false, timeParts))
        return {};
    const QByteArrayView zone = words[2];
    if (zone.size() != 5 || (zone[0] != '+' && zone[0] != '-'))
        return {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, zoneHours = 0, zoneMinutes = 0;
    const int month = monthNumber(dateParts[1]);
    if (month == 0 || !toInt(dateParts[0], day) || !toInt(dateParts[2], year) || !toInt(timeParts[0], hour) ||
        !toInt(timeParts[1], minute) || !toInt(timeParts[2], second) || !toInt(zone.sliced(1, 2), zoneHours) ||
        !toInt(zone.sliced(3, 2), zoneMinutes))
        return {};
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid() || zoneMinutes > 59)
        return {};
    int offset = zoneHours * 3600 + zoneMinutes * 60;
    if (zone[0] == '-')
        offset = -offset;
    // A fixed offset from UTC: the same moment as a time zone of that offset, without building one.
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}
