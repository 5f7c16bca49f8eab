#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// A quick reader for date-and-time texts whose pattern has only numeric fields (d, dd, M, MM,
// yyyy, h, hh, H, HH, m, mm, s, ss), month names (MMM, MMMM), the AM/PM marker and literal
// text, which is what the short date and long time of nearly every locale are. QLocale's own reader takes
// about twenty times as long, and every listed message and every exported date is read once.
//
// It reads only texts in exactly the shape the pattern prints (two digits where the field
// has two letters, four for the year, names and literals as they are) and gives up on
// anything else, which the caller then leaves to QLocale. Where QLocale reads a text too, both
// give the same date and time; a few locales print markers that QLocale cannot read back
// (Albanian "E PASDITES"), and those texts are read here all the same.
class NumericDateReader {
public:
    explicit NumericDateReader(const QString& pattern, const QLocale& locale);

    // False when the pattern has a field this reader does not know (month names, two-digit
    // years, time zones, ...): every read then gives nullopt.
    bool usable() const { return m_usable; }
    // The date and time when the whole text has the pattern's shape and names a valid local
    // date and time; the time is midnight when the pattern has no time fields.
    std::optional<QDateTime> read(const QString& text) const;

private:
    enum class Kind { Literal, Day, Month, MonthName, Year, Hour24, Hour12, Minute, Second, AmPm };
    struct Field {
        explicit Field(Kind k, int d = 0)
            : kind(k)
            , digits(d)
        {}
        Kind kind;
        int digits = 0;    // 1: one or two digits; 2: exactly two; 4: exactly four
        QString literal;   // for Literal
        QStringList names; // MonthName: January (or Jan) first; AmPm: AM, PM in the pattern's case
    };

    std::vector<Field> m_fields;
    bool m_usable = true;
};
