// PLACEHOLDER for building the IMAP client on its own: reads only the Subject header line.
// The real GMime-based reader replaces this file.
#include "mail/MailMessage.h"

#include <QList>

MailMessage MailMessage::fromBytes(const QByteArray& raw, const QDateTime& internalDate)
{
    Q_UNUSED(internalDate);
    MailMessage message;
    const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
    const QByteArray header = headerEnd < 0 ? raw : raw.left(headerEnd);
    for (const QByteArray& line : header.split('\n')) {
        if (line.startsWith("Subject:")) {
            message.Subject = QString::fromUtf8(line.mid(8).trimmed());
            break;
        }
    }
    return message;
}
