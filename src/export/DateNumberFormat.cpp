#include "export/DateNumberFormat.h"

#include "frame/GeneralDate.h"

#include <vector>

namespace {

enum class Role { Literal, Hour, Minute, Second, MonthNumber, Other };

struct Token {
    Role role;
    QString text;  // the field code, or the literal characters
};

bool sameNames(const QLocale& locale, bool months, QLocale::FormatType type)
{
    const QLocale english = QLocale::c();
    const int count = months ? 12 : 7;
    for (int i = 1; i <= count; ++i) {
        const bool same = months ? locale.monthName(i, type) == english.monthName(i, type)
                                 : locale.dayName(i, type) == english.dayName(i, type);
        if (!same)
            return false;
    }
    return true;
}

// "ddd"/"MMM" give short names, "dddd"/"MMMM" long ones.
QLocale::FormatType nameLength(qsizetype run)
{
    return run == 3 ? QLocale::ShortFormat : QLocale::LongFormat;
}

// Characters a number format shows as themselves without quoting.
bool plainLiteral(QChar ch)
{
    return ch == u' ' || ch == u'/' || ch == u':' || ch == u'-' || ch == u',' || ch == u'.';
}

QString quoted(const QString& literal)
{
    bool plain = true;
    for (const QChar ch : literal)
        plain = plain && plainLiteral(ch);
    if (plain)
        return literal;
    if (!literal.contains(u'"'))
        return u'"' + literal + u'"';
    QString escaped;
    for (const QChar ch : literal) {
        escaped += u'\\';
        escaped += ch;
    }
    return escaped;
}

std::optional<std::vector<Token>> tokens(QStringView pattern, const QLocale& locale)
{
    std::vector<Token> out;
    const auto literal = [&](QStringView text) {
        if (!out.empty() && out.back().role == Role::Literal)
            out.back().text += text;
        else
            out.push_back({Role::Literal, text.toString()});
    };
    bool hasMarker = false;
    bool has24Hour = false;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar ch = pattern[i];
        if (ch == u'\'') {
            // 'text' is literal; '' is one apostrophe, inside or outside quotes.
            qsizetype j = i + 1;
            if (j < pattern.size() && pattern[j] == u'\'') {
                literal(u"'");
                i = j + 1;
                continue;
            }
            QString text;
            for (; j < pattern.size(); ++j) {
                if (pattern[j] == u'\'') {
                    if (j + 1 < pattern.size() && pattern[j + 1] == u'\'') {
                        text += u'\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                text += pattern[j];
            }
            literal(text);
            i = j + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern[i + run] == ch)
            ++run;
        const QStringView field = pattern.mid(i, run);
        switch (ch.unicode()) {
        case u'd':
            if (run > 4 || (run >= 3 && !sameNames(locale, false, nameLength(run))))
                return std::nullopt;
            out.push_back({Role::Other, field.toString()});
            break;
        case u'M':
            if (run > 4 || (run >= 3 && !sameNames(locale, true, nameLength(run))))
                return std::nullopt;
            out.push_back({run <= 2 ? Role::MonthNumber : Role::Other, QString(run, u'm')});
            break;
        case u'y':
            if (run != 2 && run != 4)
                return std::nullopt;
            out.push_back({Role::Other, field.toString()});
            break;
        case u'h':
        case u'H':
            if (run > 2)
                return std::nullopt;
            has24Hour = has24Hour || ch == u'H';
            out.push_back({Role::Hour, QString(run, u'h')});
            break;
        case u'm':
        case u's':
            if (run > 2)
                return std::nullopt;
            out.push_back({ch == u'm' ? Role::Minute : Role::Second, field.toString()});
            break;
        case u'A':
            // "AP" or "A": the locale's marker in capitals, which must be the English one.
            if (run != 1 || locale.amText().toUpper() != QLatin1String("AM")
                || locale.pmText().toUpper() != QLatin1String("PM"))
                return std::nullopt;
            if (i + 1 < pattern.size() && pattern[i + 1] == u'P')
                ++i;
            hasMarker = true;
            out.push_back({Role::Other, QStringLiteral("AM/PM")});
            break;
        case u'a':  // the marker in small letters: a number format always shows it in capitals
        case u'z':  // fractions of a second
        case u't':  // the time-zone name
            return std::nullopt;
        default:
            if (ch.isLetter() && ch.unicode() < 0x80)
                return std::nullopt;  // a field of Qt's we do not know
            literal(field);
            break;
        }
        i += run;
    }
    // With a marker, "h" counts in twelve hours: a 24-hour field cannot stand beside one.
    if (hasMarker && has24Hour)
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<QString> DateNumberFormat::fromPattern(QStringView pattern, const QLocale& locale)
{
    const std::optional<std::vector<Token>> parts = tokens(pattern, locale);
    if (!parts)
        return std::nullopt;
    // "m" and "mm" mean minutes right after an hour or right before a second field (literals
    // in between do not count) and months everywhere else. Both must come out as meant.
    const auto neighbour = [&](size_t at, int step) -> Role {
        for (qsizetype k = qsizetype(at) + step; k >= 0 && k < qsizetype(parts->size()); k += step)
            if ((*parts)[size_t(k)].role != Role::Literal)
                return (*parts)[size_t(k)].role;
        return Role::Literal;
    };
    QString format;
    for (size_t k = 0; k < parts->size(); ++k) {
        const Token& token = (*parts)[k];
        if (token.role == Role::Minute || token.role == Role::MonthNumber) {
            const bool readAsMinutes = neighbour(k, -1) == Role::Hour || neighbour(k, +1) == Role::Second;
            if (readAsMinutes != (token.role == Role::Minute))
                return std::nullopt;
        }
        format += token.role == Role::Literal ? quoted(token.text) : token.text;
    }
    return format;
}

std::optional<QString> DateNumberFormat::forGeneralDate(bool withTime, const QLocale& locale)
{
    const QString date = GeneralDate::datePattern(locale);
    return fromPattern(withTime ? date + u' ' + GeneralDate::timePattern(locale) : date, locale);
}
