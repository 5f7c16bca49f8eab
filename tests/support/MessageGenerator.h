#pragma once

#include <QByteArray>
#include <QString>

// Messages generated for tests and benchmarks, always the same for the same number. Three kinds:
//
// uniform(n): the benchmarks' steady message, about 4.3 KB, multipart/alternative with a plain
//   and an HTML part, a From with a display name, a Subject and a Date.
//
// plain(n): a short text/plain message in UTF-8 whose texts the tests compare with what the
//   client shows (plainSubject, plainFrom, plainBody): the fake mailbox serves these.
//
// realistic(n): an inbox like a consumer's of the 2020s, always the same for the same number:
//   45 % newsletters: multipart/alternative, a 2-6 KB text part and a 30-90 KB HTML part (tables,
//        a style sheet, links, entities), both quoted-printable;
//   35 % personal mail: text/plain of 1-6 KB, some of it quoted replies, some with non-ASCII text
//        (UTF-8 in quoted-printable or 8bit, a few in ISO-8859-1);
//   15 % with an attachment: multipart/mixed, a short text (sometimes with an HTML alternative)
//        and a 50-600 KB base64 PDF, image or archive;
//    5 % HTML-only: text/html of 12-30 KB, no text part.
// About 96 KB a message on the server, of which about a third are the text and HTML parts.
class MessageGenerator {
public:
    enum class RealisticKind { Newsletter, Personal, Attachment, HtmlOnly };

    struct Generated {
        RealisticKind kind = RealisticKind::Personal;
        QByteArray raw;           // the whole message as the server stores it (CRLF lines)
        qint64 textPartBytes = 0; // bytes of its text/plain and text/html parts as stored (encoded)
    };

    // Message n (1-based) of the realistic mix.
    static Generated realistic(int n);
    static RealisticKind realisticKind(int n);
    static const char* kindName(RealisticKind kind);

    static QByteArray uniform(int n);

    static QByteArray plain(int n);
    static QString plainSubject(int n); // "Message n"
    static QString plainFrom(int n);    // "Sender n <sendern@example.org>"
    // Every fifth body begins with "=" and every seventh is long enough to fill two cells.
    static QString plainBody(int n);
};
