#pragma once

#include <QDateTime>
#include <QString>

// The IMAP error log: errorlog.txt in the folder named by TEMP (the system temporary folder
// when TEMP is unset), appended to, two CR LF lines per entry. Writing never raises and never
// keeps the file open.
class ErrorLog {
public:
    static QString path();
    // Line 1: the date-time in the locale's general form, " : ", the text. Line 2: 52 asterisks.
    static QByteArray entry(const QString& text, const QDateTime& when);
    static void append(const QString& text);
};
