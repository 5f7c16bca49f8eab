#pragma once

#include <QByteArray>

// The benchmarks' message n: about 4.3 KB, multipart/alternative with a plain and an HTML
// part, a From with a display name, a Subject and a Date, as most of a real Inbox is.
inline QByteArray benchMessage(int n)
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
