#pragma once

#include <QByteArray>
#include <QDateTime>

// The server's INTERNALDATE of a message, "17-Jul-1996 02:44:25 -0700" (the day may be padded
// with a space), as a date-time with that UTC offset; an invalid date-time when unreadable.
QDateTime parseImapInternalDate(const QByteArray& text);
