#include "frame/NumericDateReader.h"

#include <algorithm>

namespace {

bool isPatternLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Reads `digits` digits (1: one or two) at `pos`; -1 when they are not there.
int readNumber(const QString& text, qsizetype& pos, int digits)
{
    const qsizetype most = digits == 1 ? 2 : digits;
    const qsizetype least = digits == 1 ? 1 : digits;
    int value = 0;
    qsizetype n = 0;
    while (n < most && pos + n < text.size()) {
        const char16_t c = text.at(pos + n).unicode();
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + (c - u'0');
        ++n;
    }
    if (n < least)
        return -1;
    pos += n;
    return value;
}

// The index of the first of `names` that stands at `pos`, which then moves past it; -1 when
// none does.
int readName(const QString& text, qsizetype& pos, const QStringList& names)
{
    for (int i = 0; i < names.size(); ++i) {
        if (QStringView(text).mid(pos, names.at(i).size()) == names.at(i)) {
            pos += names.at(i).size();
            return i;
        }
    }
    return -1;
}

} // namespace

NumericDateReader::NumericDateReader(const QString& pattern, const QLocale& locale)
{
    bool hasAmPm = false;
    QString literal;
    const auto flushLiteral = [&] {
        if (!literal.isEmpty())
            m_fields.emplace_back(Kind::Literal).literal = literal;
        literal.clear();
    };
    for (qsizetype i = 0; i < pattern.size() && m_usable;) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\'')) {
            // Quoted text; two quotes stand for one.
            qsizetype j = i + 1;
            if (j < pattern.size() && pattern.at(j) == QLatin1Char('\'')) {
                literal += c;
                i = j + 1;
                continue;
            }
            for (; j < pattern.size(); ++j) {
                if (pattern.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < pattern.size() && pattern.at(j + 1) == QLatin1Char('\'')) {
                        literal += QLatin1Char('\'');
                        ++j;
                        continue;
                    }
                    break;
                }
                literal += pattern.at(j);
            }
            if (j >= pattern.size())
                m_usable = false; // unterminated: left to QLocale
            i = j + 1;
            continue;
        }
        if (!isPatternLetter(c)) {
            literal += c;
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern.at(i + run) == c)
            ++run;
        flushLiteral();
        const char letter = c.toLatin1();
        if (letter == 'a' || letter == 'A') {
            // "AP", "ap", "A" or "a": the marker in upper or lower case.
            const QChar next = i + 1 < pattern.size() ? pattern.at(i + 1) : QChar();
            const bool pair = run == 1 && (next == QLatin1Char('p') || next == QLatin1Char('P'));
            if (run != 1 || (pair && next.isUpper() != c.isUpper())) {
                m_usable = false;
                break;
            }
            const QString am = locale.amText();
            const QString pm = locale.pmText();
            if (am.isEmpty() || pm.isEmpty()) {
                m_usable = false;
                break;
            }
            m_fields.emplace_back(Kind::AmPm).names = c.isUpper() ? QStringList{am.toUpper(), pm.toUpper()}
                                                                  : QStringList{am.toLower(), pm.toLower()};
            hasAmPm = true;
            i += pair ? 2 : 1;
            continue;
        }
        Kind kind;
        switch (letter) {
        case 'd':
            kind = Kind::Day;
            break;
        case 'M':
            kind = Kind::Month;
            break;
        case 'y':
            kind = Kind::Year;
            break;
        case 'H':
            kind = Kind::Hour24;
            break;
        case 'h':
            kind = Kind::Hour12;
            break; // 24-hour unless the pattern has a marker
        case 'm':
            kind = Kind::Minute;
            break;
        case 's':
            kind = Kind::Second;
            break;
        default:
            m_usable = false;
            continue;
        }
        if (kind == Kind::Month && (run == 3 || run == 4)) {
            // A month name, as this locale prints it for this pattern letter count.
            QStringList names;
            const QString letters(int(run), QLatin1Char('M'));
            for (int m = 1; m <= 12; ++m)
                names.append(locale.toString(QDate(2000, m, 1), letters));
            for (int a = 0; a < 12; ++a) {
                for (int b = 0; b < 12; ++b) {
                    if (names.at(a).isEmpty() || (a != b && names.at(b).startsWith(names.at(a))))
                        m_usable = false; // one name inside another: left to QLocale
                }
            }
            if (!m_usable)
                break;
            m_fields.emplace_back(Kind::MonthName).names = names;
            i += run;
            continue;
        }
        if (kind == Kind::Year ? run != 4 : run > 2) {
            m_usable = false;
            break;
        }
        // Two numbers without anything between them cannot be told apart by width alone.
        if (!m_fields.empty() && m_fields.back().digits > 0 && (run == 1 || m_fields.back().digits == 1)) {
            m_usable = false;
            break;
        }
        m_fields.emplace_back(kind, int(kind == Kind::Year ? 4 : run));
        i += run;
    }
    flushLiteral();
    const bool has24 =
        std::any_of(m_fields.begin(), m_fields.end(), [](const Field& f) { return f.kind == Kind::Hour24; });
    if (hasAmPm && has24)
        m_usable = false; // a marker beside a 24-hour field: left to QLocale
    if (!hasAmPm) {
        for (Field& field : m_fields) {
            if (field.kind == Kind::Hour12)
                field.kind = Kind::Hour24;
        }
    }
    if (!m_usable)
        m_fields.clear();
}

std::optional<QDateTime> NumericDateReader::read(const QString& text) const
{
    if (!m_usable || m_fields.empty())
        return std::nullopt;
    int year = -1, month = -1, day = -1, hour = 0, minute = 0, second = 0;
    int pm = -1; // -1 no marker, 0 AM, 1 PM
    bool twelveHour = false;
    qsizetype pos = 0;
    for (const Field& field : m_fields) {
        if (field.kind == Kind::Literal) {
            if (QStringView(text).mid(pos, field.literal.size()) != field.literal)
                return std::nullopt;
            pos += field.literal.size();
            continue;
        }
        if (field.kind == Kind::AmPm || field.kind == Kind::MonthName) {
            const int index = readName(text, pos, field.names);
            if (index < 0)
                return std::nullopt;
            if (field.kind == Kind::AmPm)
                pm = index;
            else
                month = index + 1;
            continue;
        }
        const int value = readNumber(text, pos, field.digits);
        if (value < 0)
            return std::nullopt;
        switch (field.kind) {
        case Kind::Day:
            day = value;
            break;
        case Kind::Month:
            month = value;
            break;
        case Kind::Year:
            year = value;
            break;
        case Kind::Hour24:
            hour = value;
            break;
        case Kind::Hour12:
            hour = value;
            twelveHour = true;
            break;
        case Kind::Minute:
            minute = value;
            break;
        case Kind::Second:
            second = value;
            break;
        default:
            break;
        }
    }
    if (pos != text.size() || year < 0 || month < 0 || day < 0)
        return std::nullopt;
    if (twelveHour) {
        if (pm < 0 || hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (pm == 1 ? 12 : 0);
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime value(date, time);
    // A time the local clock skips (a daylight-saving change) is left to QLocale.
    if (!value.isValid() || value.time() != time || value.date() != date)
        return std::nullopt;
    return value;
}
