#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// The general date-and-time text of the user's locale: the short date, a space and the long
// time; the date alone when the time is exactly midnight. The parser beside the formatter
// reads back every text the formatter produces.
class GeneralDate {
public:
    static QString format(const QDateTime& value, const QLocale& locale = QLocale::system());
    static std::optional<QDateTime> parse(const QString& text, const QLocale& locale = QLocale::system());

    // The date pattern (four-digit years, so that no century is lost) and the time pattern
    // (without a time-zone name) used for both directions.
    static QString datePattern(const QLocale& locale);
    static QString timePattern(const QLocale& locale);

    // Days since 00:00 on 30 December 1899, the time of day as the fraction; days before
    // that moment count negative with a positive fraction, as the classic date serial does.
    static double serialDay(const QDateTime& value);
    // The serial day rounded to the nearest whole day, an exact half to the even day.
    static qint64 roundedSerialDay(const QDateTime& value);
};
