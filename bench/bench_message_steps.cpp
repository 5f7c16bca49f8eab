// What one message costs in the window's "2a. Get All Emails", step by step, without the
// network: reading it into a message object, the received-date text, the RecDate read back
// from it, the error-log entry after the fetch, the progress step and the list row with the
// window shown. Microseconds per message, the best of seven passes over 2,000 messages.
// Then, on messages of the realistic mix (tests/support/MessageGenerator): the text made from
// the HTML of HTML-only mail and of newsletters, and packing and unpacking a record's bodies.
//
//     bench_message_steps [messages=2000]
#include "frame/ErrorLog.h"
#include "frame/GeneralDate.h"
#include "mail/HtmlText.h"
#include "mail/MailMessage.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/MessageListing.h"
#include "retrieval/PackedText.h"
#include "support/MainWindowFixture.h"
#include "support/MessageGenerator.h"
#include "ui/ProgramStart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double microsecondsPerMessage(int count, const std::function<void(int)>& step,
                              const std::function<void()>& beforePass = {})
{
    double best = 1e300;
    for (int pass = 0; pass < 7; ++pass) {
        if (beforePass)
            beforePass();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i)
            step(i);
        best = std::min(best, timer.nsecsElapsed() / 1e3 / count);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ProgramStart::Application<QApplication> app(argc, argv); // as Corvanel starts
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 2000;
    QTemporaryDir logFolder;
    qputenv("TEMP", QFile::encodeName(logFolder.path()));

    std::vector<QByteArray> raw;
    for (int n = 1; n <= count; ++n)
        raw.push_back(MessageGenerator::uniform(n));
    std::vector<MailMessage> messages(size_t(count), MailMessage{});
    const QDateTime when(QDate(2026, 12, 7), QTime(9, 30, 15));
    const QString dateText = GeneralDate::format(when);
    // A fetch's log as the component writes it, about 300 characters.
    const QString fetchLog = QStringLiteral(
        "fetchSingle\n  Sent: A0042 FETCH 42 (BODY.PEEK[] INTERNALDATE)\n  Received: * 42 FETCH (BODY[] "
        "{4269} ...)\n"
        "  Received: A0042 OK Fetch completed (0.001 + 0.000 secs).\n  Message 42: 4269 bytes.");

    struct Row {
        const char* step;
        double us;
    };
    std::vector<Row> rows;
    qint64 sink = 0;
    rows.push_back({"read into a message object (GMime)", microsecondsPerMessage(count, [&](int i) {
                        messages[size_t(i)] = MailMessage::fromBytes(raw[size_t(i)], when);
                    })});
    rows.push_back({"received-date text",
                    microsecondsPerMessage(count, [&](int) { sink += GeneralDate::format(when).size(); })});
    rows.push_back({"RecDate read back from the text", microsecondsPerMessage(count, [&](int) {
                        sink += GeneralDate::parse(dateText).has_value();
                    })});
    rows.push_back({"error-log entry", microsecondsPerMessage(
                                           count, [&](int) { ErrorLog::append(fetchLog); },
                                           [] { QFile::remove(ErrorLog::path()); })});

    MainWindowFixture window;
    Form1& form = window.load();
    form.show();
    rows.push_back({"progress step, window shown", microsecondsPerMessage(count, [&](int i) {
                        form.listing().oChilkat_ScrapProgress(i * 100 / count);
                    })});
    rows.push_back({"list row and record, window shown", microsecondsPerMessage(
                                                             count,
                                                             [&](int i) {
                                                                 const MailMessage& m = messages[size_t(i)];
                                                                 form.listing().oChilkat_MailExtractListing(
                                                                     m.From, m.FromName, m.FromAddress,
                                                                     m.Subject, dateText, m.PlainTextBody,
                                                                     m.HtmlBody, i + 1);
                                                             },
                                                             [&] {
                                                                 form.list().clear();
                                                                 form.mailStore().recreate(count);
                                                             })});

    std::printf("%d messages of about %lld bytes, microseconds per message (best of 7 passes)\n", count,
                static_cast<long long>(raw.front().size()));
    double total = 0;
    for (const Row& row : rows) {
        std::printf("  %-36s %8.1f\n", row.step, row.us);
        total += row.us;
    }
    std::printf("  %-36s %8.1f (%.0f messages/s before the network)\n", "together", total, 1e6 / total);

    // Realistic messages, 40 of each kind looked at.
    std::vector<MailMessage> htmlOnly, newsletters;
    std::vector<QByteArray> htmlOnlyRaw;
    for (int n = 1; htmlOnly.size() < 40 || newsletters.size() < 40; ++n) {
        const MessageGenerator::RealisticKind kind = MessageGenerator::realisticKind(n);
        std::vector<MailMessage>* into = kind == MessageGenerator::RealisticKind::HtmlOnly     ? &htmlOnly
                                         : kind == MessageGenerator::RealisticKind::Newsletter ? &newsletters
                                                                                               : nullptr;
        if (!into || into->size() >= 40)
            continue;
        const QByteArray message = MessageGenerator::realistic(n).raw;
        into->push_back(MailMessage::fromBytes(message, when));
        if (into == &htmlOnly)
            htmlOnlyRaw.push_back(message);
    }
    const auto averageChars = [](const std::vector<MailMessage>& ms, QString MailMessage::*body) {
        qint64 chars = 0;
        for (const MailMessage& m : ms)
            chars += (m.*body).size();
        return double(chars) / double(ms.size());
    };
    std::vector<QByteArray> packedPlain(newsletters.size()), packedHtml(newsletters.size());
    std::printf("\nrealistic mail, microseconds per message (best of 7 passes over 40 messages)\n");
    std::printf(
        "  %-52s %8.1f  (HTML %.0f characters, text %.0f)\n", "HTML-only: text from its HTML (libxml2)",
        microsecondsPerMessage(
            int(htmlOnly.size()),
            [&](int i) { sink += HtmlText::fromHtml(htmlOnly[size_t(i)].HtmlBody).size(); }),
        averageChars(htmlOnly, &MailMessage::HtmlBody), averageChars(htmlOnly, &MailMessage::PlainTextBody));
    std::printf("  %-52s %8.1f  (of which the text from its HTML above)\n",
                "HTML-only: read into a message object",
                microsecondsPerMessage(int(htmlOnly.size()), [&](int i) {
                    sink += MailMessage::fromBytes(htmlOnlyRaw[size_t(i)], when).PlainTextBody.size();
                }));
    std::printf("  %-52s %8.1f  (HTML %.0f characters; not done: it has a text part)\n",
                "newsletter HTML to text, for scale",
                microsecondsPerMessage(
                    int(newsletters.size()),
                    [&](int i) { sink += HtmlText::fromHtml(newsletters[size_t(i)].HtmlBody).size(); }),
                averageChars(newsletters, &MailMessage::HtmlBody));
    std::printf("  %-52s %8.1f\n", "newsletter: both bodies packed for the store (zstd)",
                microsecondsPerMessage(int(newsletters.size()), [&](int i) {
                    packedPlain[size_t(i)] = PackedText::pack(newsletters[size_t(i)].PlainTextBody);
                    packedHtml[size_t(i)] = PackedText::pack(newsletters[size_t(i)].HtmlBody);
                }));
    std::printf("  %-52s %8.1f\n", "newsletter: text body unpacked (what the export reads)",
                microsecondsPerMessage(int(newsletters.size()), [&](int i) {
                    sink += PackedText::unpack(packedPlain[size_t(i)]).size();
                }));
    qint64 unpackedBytes = 0, packedBytes = 0;
    for (size_t i = 0; i < newsletters.size(); ++i) {
        unpackedBytes += (newsletters[i].PlainTextBody.size() + newsletters[i].HtmlBody.size()) * 2;
        packedBytes += packedPlain[i].size() + packedHtml[i].size();
    }
    std::printf("  newsletter bodies held: %.1f KB packed, %.1f KB as UTF-16 (%.1fx smaller)\n",
                packedBytes / 1024.0 / double(newsletters.size()),
                unpackedBytes / 1024.0 / double(newsletters.size()),
                double(unpackedBytes) / double(packedBytes));
    return sink < 0 ? 1 : 0;
}
