#include "support/MessageGenerator.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>

namespace {

const char* const kWords[] = {
    "the",     "quarterly", "update",  "team",     "offer",   "weekend",  "garden",   "project", "meeting",
    "summary", "invoice",   "travel",  "booking",  "recipe",  "season",   "member",   "account", "delivery",
    "report",  "photos",    "family",  "holiday",  "budget",  "schedule", "question", "answer",  "review",
    "product", "launch",    "morning", "evening",  "library", "concert",  "tickets",  "school",  "football",
    "weather", "news",      "story",   "discount", "coffee",  "kitchen",  "bicycle",  "trip",    "with",
    "and",     "for",       "about",   "from",     "this",    "that",     "your",     "our",     "will",
};
// Words in other languages, written as UTF-8: personal mail in several languages.
const char* const kForeignWords[] = {
    "Grüße",   "Straße", "Mädchen", "élève",  "déjà",    "garçon", "mañana", "año",  "niño",
    "Ελλάδα",  "привет", "спасибо", "こんにちは", "ありがとう", "日本語", "Zürich", "smørrebrød", "łódź",
};

QString pick(QRandomGenerator& random, const char* const* words, int count)
{
    return QString::fromUtf8(words[random.bounded(count)]);
}

// A sentence of ordinary words; with `foreign`, every fifth word or so from another language.
QString sentence(QRandomGenerator& random, bool foreign)
{
    const int length = 6 + random.bounded(12);
    QString text;
    for (int i = 0; i < length; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        if (foreign && random.bounded(5) == 0)
            text += pick(random, kForeignWords, int(std::size(kForeignWords)));
        else
            text += pick(random, kWords, int(std::size(kWords)));
    }
    text[0] = text[0].toUpper();
    return text + QLatin1Char('.');
}

QString paragraph(QRandomGenerator& random, bool foreign)
{
    QString text;
    const int sentences = 2 + random.bounded(4);
    for (int i = 0; i < sentences; ++i)
        text += (i > 0 ? QStringLiteral(" ") : QString()) + sentence(random, foreign);
    return text;
}

// Lines of at most 72 characters, as mail programs wrap plain text.
QString wrapped(const QString& text, const QString& prefix = QString())
{
    QString out;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '))) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > 72) {
            out += prefix + line + QStringLiteral("\r\n");
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        out += prefix + line + QStringLiteral("\r\n");
    return out;
}

// Quoted-printable with soft breaks before column 76; CRLF in the input stays a hard break.
QByteArray quotedPrintable(const QByteArray& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 8);
    int column = 0;
    const auto room = [&](int width) {
        if (column + width > 75) {
            out += "=\r\n";
            column = 0;
        }
        column += width;
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes.at(i));
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
            if (!out.isEmpty() && (out.back() == ' ' || out.back() == '\t')) {
                const char last = out.back();
                out.chop(1);
                out += last == ' ' ? "=20" : "=09";
            }
            out += "\r\n";
            column = 0;
            ++i;
        } else if ((c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t') {
            room(1);
            out += char(c);
        } else {
            room(3);
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

QByteArray base64Lines(const QByteArray& bytes)
{
    const QByteArray encoded = bytes.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 38 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

const char* const kSenders[][2] = {
    {"The Weekly Digest", "digest@news.example"},
    {"Garden Club", "hello@gardenclub.example"},
    {"ShopMart Deals", "deals@shopmart.example"},
    {"City Library", "events@library.example"},
    {"Travel Planner", "trips@travelplanner.example"},
    {"Anna Müller", "anna.mueller@mail.example"},
    {"José García", "jose.garcia@correo.example"},
    {"Tom Baker", "tom.baker@home.example"},
    {"佐藤 花子", "hanako.sato@mail.example"},
    {"Chloé Lefèvre", "chloe.lefevre@courriel.example"},
};

QByteArray encodedWord(const QString& text)
{
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        return text.toUtf8();
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray header(int n, QRandomGenerator& random, int senderFrom, int senderCount, const QString& subject)
{
    const int sender = senderFrom + random.bounded(senderCount);
    const int day = 1 + (n * 7) % 28;
    const int hour = (n * 5) % 24;
    const int minute = (n * 13) % 60;
    return "From: \"" + encodedWord(QString::fromUtf8(kSenders[sender][0])) + "\" <" + kSenders[sender][1] +
           ">\r\n"
           "To: reader@corvanel.test\r\n"
           "Subject: " +
           encodedWord(subject) +
           "\r\n"
           "Date: " +
           QByteArray::number(day) + " Nov 2024 " + QByteArray::number(hour).rightJustified(2, '0') + ':' +
           QByteArray::number(minute).rightJustified(2, '0') +
           ":00 +0100\r\n"
           "Message-ID: <real." +
           QByteArray::number(n) +
           "@corvanel.test>\r\n"
           "MIME-Version: 1.0\r\n";
}

// A newsletter's HTML of about `target` bytes: a style sheet in the head, a layout table, headings,
// paragraphs with entities and links, images, a list, a comment and a footer.
QByteArray newsletterHtml(QRandomGenerator& random, int target, const QString& title, QString* plain)
{
    QByteArray html = "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>" + title.toHtmlEscaped().toUtf8() +
                      "</title>\r\n<style type=\"text/css\">\r\nbody{margin:0;padding:0;background:#f4f4f4}"
                      "table{border-collapse:collapse}td{font-family:Arial,sans-serif;font-size:15px;color:#333}"
                      "h2{font-size:20px;color:#0a4d8c}.btn{background:#0a4d8c;color:#fff;padding:8px 16px}"
                      "@media (max-width:600px){.col{display:block;width:100%!important}}\r\n</style></head>\r\n"
                      "<body>\r\n<!-- preheader: hidden in most clients -->\r\n"
                      "<div style=\"display:none\">" +
                      sentence(random, false).toUtf8() +
                      "</div>\r\n<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\r\n";
    int article = 0;
    while (html.size() < target) {
        ++article;
        const QString heading = sentence(random, false);
        const QString body = paragraph(random, false);
        const QByteArray link = "https://news.example/track?c=" + QByteArray::number(random.generate() % 1000000) +
                                "&amp;u=" + QByteArray::number(article) + "&amp;utm_source=newsletter";
        html += "<tr><td class=\"col\" style=\"padding:16px 24px;border-bottom:1px solid #ddd\">\r\n"
                "<img src=\"https://news.example/img/" +
                QByteArray::number(article) +
                ".jpg\" width=\"560\" height=\"240\" alt=\"\" style=\"display:block\">\r\n"
                "<h2>" +
                heading.toHtmlEscaped().toUtf8() + "</h2>\r\n<p style=\"line-height:1.5\">" +
                body.toHtmlEscaped().toUtf8() +
                " Prices from&nbsp;&euro;9 &amp; more&#8230;</p>\r\n"
                "<ul><li>" +
                sentence(random, false).toUtf8() + "</li><li>" + sentence(random, false).toUtf8() +
                "</li></ul>\r\n<p><a class=\"btn\" href=\"" + link + "\">Read more</a></p>\r\n</td></tr>\r\n";
        *plain += heading + QStringLiteral("\r\n\r\n") + wrapped(body + QStringLiteral(" Prices from €9 & more…")) +
                  QStringLiteral("\r\nRead more: https://news.example/a/") + QString::number(article) +
                  QStringLiteral("\r\n\r\n");
    }
    html += "<tr><td style=\"padding:24px;font-size:12px;color:#888\">You receive this because you signed up. "
            "<a href=\"https://news.example/unsubscribe\">Unsubscribe</a> &middot; "
            "<a href=\"https://news.example/prefs\">Preferences</a></td></tr>\r\n</table>\r\n"
            "<img src=\"https://news.example/open.gif\" width=\"1\" height=\"1\" alt=\"\">\r\n</body></html>\r\n";
    *plain += QStringLiteral("Unsubscribe: https://news.example/unsubscribe\r\n");
    return html;
}

// Plain text of about `target` characters: paragraphs, sometimes above a quoted earlier message.
QString personalText(QRandomGenerator& random, int target, bool foreign)
{
    QString text = QStringLiteral("Hi,\r\n\r\n");
    const bool reply = random.bounded(3) == 0;
    const int ownPart = reply ? target / 3 : target;
    while (text.size() < ownPart)
        text += wrapped(paragraph(random, foreign)) + QStringLiteral("\r\n");
    text += QStringLiteral("Best,\r\nTom\r\n");
    if (reply) {
        text += QStringLiteral("\r\nOn Mon, 4 Nov 2024 at 10:12, Anna wrote:\r\n");
        while (text.size() < target)
            text += wrapped(paragraph(random, foreign), QStringLiteral("> ")) + QStringLiteral(">\r\n");
    }
    return text;
}

QByteArray randomBytes(QRandomGenerator& random, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

MessageGenerator::RealisticKind MessageGenerator::realisticKind(int n)
{
    const quint32 slot = (quint32(n) * 2654435761u) % 100u;
    if (slot < 45)
        return RealisticKind::Newsletter;
    if (slot < 80)
        return RealisticKind::Personal;
    if (slot < 95)
        return RealisticKind::Attachment;
    return RealisticKind::HtmlOnly;
}

const char* MessageGenerator::kindName(RealisticKind kind)
{
    switch (kind) {
    case RealisticKind::Newsletter:
        return "newsletter";
    case RealisticKind::Personal:
        return "personal";
    case RealisticKind::Attachment:
        return "attachment";
    case RealisticKind::HtmlOnly:
        return "html-only";
    }
    return "";
}

MessageGenerator::Generated MessageGenerator::realistic(int n)
{
    QRandomGenerator random(quint32(n) * 7919u + 17u);
    Generated m;
    m.kind = realisticKind(n);
    const QByteArray boundary = "=_real_" + QByteArray::number(n) + "_b";

    switch (m.kind) {
    case RealisticKind::Newsletter: {
        const QString subject = sentence(random, false);
        QString plain;
        const QByteArray html = newsletterHtml(random, 30000 + random.bounded(60000), subject, &plain);
        // The text part is cut to 2-6 KB, as senders write a short version.
        const int textSize = 2000 + random.bounded(4000);
        while (plain.size() < textSize)
            plain += wrapped(paragraph(random, false));
        plain.truncate(textSize);
        const QByteArray text = quotedPrintable(plain.toUtf8());
        const QByteArray htmlQp = quotedPrintable(html);
        m.textPartBytes = text.size() + htmlQp.size();
        m.raw = header(n, random, 0, 5, subject) + "Content-Type: multipart/alternative; boundary=\"" + boundary +
                "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n--" + boundary +
                "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                text + "\r\n--" + boundary +
                "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                htmlQp + "\r\n--" + boundary + "--\r\n";
        break;
    }
    case RealisticKind::Personal: {
        const bool foreign = random.bounded(3) == 0;
        const QString subject = (random.bounded(3) == 0 ? QStringLiteral("Re: ") : QString()) + sentence(random, foreign);
        const QString text = personalText(random, 1000 + random.bounded(5000), foreign);
        QByteArray body;
        QByteArray type;
        switch (random.bounded(4)) {
        case 0: // 8bit UTF-8
            body = text.toUtf8();
            type = "Content-Type: text/plain; charset=utf-8; format=flowed\r\nContent-Transfer-Encoding: 8bit\r\n";
            break;
        case 1: // ISO-8859-1 where the text allows it, as older programs send
            if (text == QString::fromLatin1(text.toLatin1())) {
                body = quotedPrintable(text.toLatin1());
                type = "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n";
                break;
            }
            Q_FALLTHROUGH();
        default:
            body = quotedPrintable(text.toUtf8());
            type = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n";
            break;
        }
        m.textPartBytes = body.size();
        m.raw = header(n, random, 5, 5, subject) + type + "\r\n" + body;
        break;
    }
    case RealisticKind::Attachment: {
        const QString subject = sentence(random, false);
        const QString plain = personalText(random, 500 + random.bounded(2500), false);
        const QByteArray text = quotedPrintable(plain.toUtf8());
        QByteArray first = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                           text;
        m.textPartBytes = text.size();
        if (random.bounded(3) == 0) {
            // Sent from a program that adds an HTML alternative of the same short text.
            const QByteArray html = quotedPrintable(
                "<html><body><p>" + plain.toHtmlEscaped().replace(QStringLiteral("\r\n"), QStringLiteral("<br>\r\n")).toUtf8() +
                "</p></body></html>\r\n");
            m.textPartBytes += html.size();
            const QByteArray inner = boundary + "_alt";
            first = "Content-Type: multipart/alternative; boundary=\"" + inner + "\"\r\n\r\n--" + inner + "\r\n" +
                    first + "\r\n--" + inner +
                    "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                    html + "\r\n--" + inner + "--\r\n";
        }
        static const char* const kFiles[][2] = {
            {"application/pdf", "statement.pdf"}, {"image/jpeg", "IMG_2041.jpg"}, {"application/zip", "photos.zip"},
            {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "minutes.docx"}};
        const auto& file = kFiles[random.bounded(4)];
        const QByteArray attachment = base64Lines(randomBytes(random, 50000 + random.bounded(550000)));
        m.raw = header(n, random, 5, 5, subject) + "Content-Type: multipart/mixed; boundary=\"" + boundary +
                "\"\r\n\r\n--" + boundary + "\r\n" + first + "\r\n--" + boundary + "\r\nContent-Type: " + file[0] +
                "; name=\"" + file[1] + "\"\r\nContent-Disposition: attachment; filename=\"" + file[1] +
                "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + attachment + "--" + boundary + "--\r\n";
        break;
    }
    case RealisticKind::HtmlOnly: {
        const QString subject = sentence(random, false);
        QString unused;
        const QByteArray html = quotedPrintable(newsletterHtml(random, 12000 + random.bounded(18000), subject, &unused));
        m.textPartBytes = html.size();
        m.raw = header(n, random, 0, 5, subject) +
                "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + html;
        break;
    }
    }
    return m;
}

QByteArray MessageGenerator::uniform(int n)
{
    QByteArray plain;
    QByteArray html = "<html><body>\r\n";
    int line = 0;
    while (plain.size() < 1800) {
        const QByteArray text = "Line " + QByteArray::number(++line) + " of message " +
                                QByteArray::number(n) + ": the quick brown fox jumps over the lazy dog.";
        plain += text + "\r\n";
        html += "<p>" + text + "</p>\r\n";
    }
    html += "</body></html>\r\n";
    return "From: Bench Sender " + QByteArray::number(n % 97) + " <sender" + QByteArray::number(n % 97) +
           "@bench.example>\r\n"
           "To: ann.tester@corvanel.test\r\n"
           "Subject: Benchmark message " +
           QByteArray::number(n) +
           "\r\n"
           "Date: Mon, 15 Jan 2024 08:30:00 +0100\r\n"
           "Message-ID: <bench." +
           QByteArray::number(n) +
           "@bench.example>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"bench-alt\"\r\n\r\n"
           "--bench-alt\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" +
           plain + "\r\n--bench-alt\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n" + html +
           "\r\n--bench-alt--\r\n";
}

QString MessageGenerator::plainSubject(int n)
{
    return QStringLiteral("Message %1").arg(n);
}

QString MessageGenerator::plainFrom(int n)
{
    return QStringLiteral("Sender %1 <sender%1@example.org>").arg(n);
}

QString MessageGenerator::plainBody(int n)
{
    QString body = n % 5 == 0 ? QStringLiteral("=starts with an equals sign, message %1").arg(n)
                              : QStringLiteral("Body of message %1").arg(n);
    if (n % 7 == 0)
        body += QLatin1Char(' ') + QString(1500, QLatin1Char('x'));
    return body;
}

QByteArray MessageGenerator::plain(int n)
{
    const int day = 1 + (n - 1) % 28;
    return QStringLiteral("From: %1\r\n"
                          "To: storm.tester@corvanel.test\r\n"
                          "Subject: %2\r\n"
                          "Date: %3 Dec 2026 09:30:00 +0000\r\n"
                          "Message-ID: <m%4@example.org>\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "\r\n%5\r\n")
        .arg(plainFrom(n), plainSubject(n))
        .arg(day)
        .arg(n)
        .arg(plainBody(n))
        .toUtf8();
}
