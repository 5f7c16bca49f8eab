#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

#include <optional>

// The spreadsheet number format ("d mmm yyyy hh:mm:ss") that shows a date-time value with
// the same text as a Qt date-time pattern ("d MMM yyyy HH:mm:ss") in a given locale.
//
// A spreadsheet program shows month and day names and the AM/PM marker in English unless
// told otherwise, and has no way to write a lower-case marker with its own text or a
// fraction of a second beside our patterns: a pattern that needs any of these in a locale
// whose texts differ from the English ones has no number format.
class DateNumberFormat {
public:
    // The format for the general date text of GeneralDate: the date alone, or the date, a
    // space and the time.
    static std::optional<QString> forGeneralDate(bool withTime, const QLocale& locale = QLocale::system());

    static std::optional<QString> fromPattern(QStringView pattern, const QLocale& locale);
};
