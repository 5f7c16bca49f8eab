#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The message object that a fetch returns, read from the message's raw bytes with GMime.
// What cannot be read is empty; malformed mail never fails the construction.
struct MailMessage {
    QString From;          // the decoded From header as display text, name and address together
    QString FromName;      // display name of the first From address
    QString FromAddress;   // e-mail address of the first From address
    QString Subject;       // RFC 2047 decoded
    QDateTime Date;        // the Date header; when missing or unreadable, the server's INTERNALDATE
    QString PlainTextBody; // first text/plain part that is not an attachment, decoded to Unicode;
                           // without one, the text shown for the HTML part (HtmlText)
    QString HtmlBody;      // first text/html part that is not an attachment, decoded to Unicode

    static MailMessage fromBytes(const QByteArray& raw, const QDateTime& internalDate = QDateTime());
};
