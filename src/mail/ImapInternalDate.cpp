#include "mail/ImapInternalDate.h"

#include <QList>
#include <QTimeZone>

namespace {

int monthNumber(const QByteArray& name)
{
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i) {
        if (name.compare(kMonths[i], Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

bool toInt(const QByteArray& digits, int& value)
{
    if (digits.isEmpty() || digits.size() > 4)
        return false;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    value = digits.toInt();
    return true;
}

}  // namespace

QDateTime parseImapInternalDate(const QByteArray& text)
{
    // date-time = DQUOTE date-day-fixed "-" date-month "-" date-year SP time SP zone DQUOTE
    const QList<QByteArray> parts = text.trimmed().split(' ');
    QList<QByteArray> words;
    for (const QByteArray& part : parts) {
        if (!part.isEmpty())
            words.append(part);
    }
    if (words.size() != 3)
        return {};
    const QList<QByteArray> dateParts = words[0].split('-');
    const QList<QByteArray> timeParts = words[1].split(':');
    const QByteArray& zone = words[2];
    if (dateParts.size() != 3 || timeParts.size() != 3 || zone.size() != 5 ||
        (zone[0] != '+' && zone[0] != '-'))
        return {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, zoneHours = 0, zoneMinutes = 0;
    const int month = monthNumber(dateParts[1]);
    if (month == 0 || !toInt(dateParts[0], day) || !toInt(dateParts[2], year) || !toInt(timeParts[0], hour) ||
        !toInt(timeParts[1], minute) || !toInt(timeParts[2], second) || !toInt(zone.mid(1, 2), zoneHours) ||
        !toInt(zone.mid(3, 2), zoneMinutes))
        return {};
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid() || zoneMinutes > 59)
        return {};
    int offset = zoneHours * 3600 + zoneMinutes * 60;
    if (zone[0] == '-')
        offset = -offset;
    return QDateTime(date, time, QTimeZone(offset));
}
