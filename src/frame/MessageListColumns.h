#pragma once

#include <QStringList>

// The message list's columns as both list windows show them, in order. The last, "RecDate",
// is kept at width 0: it holds the received date as a serial number.
namespace MessageListColumns {
inline QStringList captions()
{
    return {QStringLiteral("From"),    QStringLiteral("From Name"),     QStringLiteral("From Address"),
            QStringLiteral("Subject"), QStringLiteral("Received Date"), QStringLiteral("RecDate")};
}
} // namespace MessageListColumns
