// Memory and time of a large realistic mailbox in the window: N records of the realistic mix
// (tests/support/MessageGenerator) go through the list population with the main window shown
// (MessageListing -> MessageListModel rows and MailStore records), then "Check All" and
// "3. Send To Excel" write them to a workbook. Prints the peak resident memory (VmHWM) after
// start, after listing and after the export, beside the targets: for a 5,000-message inbox at
// most half its text parts plus 100 MiB after listing, and 100,000 messages listed and exported
// within 1 GiB.
//
//     bench_store [records=100000] [distinct=2000] [--uncompressed]
//
// Generating a realistic message takes milliseconds, so `distinct` messages are generated and
// read once; record i is message ((i - 1) % distinct) + 1 with its own numbering: From, its name,
// address and Subject carry the record number, so no two records share a text. Between uses the
// distinct messages are held packed (as the store packs bodies) so that they add little to the
// peak. The store's scratch file is in the page cache, which the system reclaims when memory
// runs short, and not in the resident memory figures; its size is printed beside them. --uncompressed also
// keeps every listed record as the seven UTF-16 texts beside the list, as a store without packing holds them:
// the difference is what packing saves.
#include "ProcessMemory.h"
#include "export/SendToExcel.h"
#include "mail/MailMessage.h"
#include "retrieval/MailRecord.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/MessageListing.h"
#include "retrieval/PackedText.h"
#include "selection/SelectionOperations.h"
#include "support/MainWindowFixture.h"
#include "support/MessageGenerator.h"
#include "ui/Form1.h"
#include "ui/ProgramStart.h"

#include "frame/GeneralDate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

double mib(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

// A distinct message as the benchmark keeps it between uses.
struct Pooled {
    QString From, FromName, FromAddress, Subject;
    QDateTime Date;
    QByteArray plain, html; // MailStore::pack form
    qint64 textPartBytes = 0;
    qint64 plainChars = 0, htmlChars = 0;
};

// A deep copy, so that records never share a text the way repeated pool entries would.
QString own(const QString& text)
{
    return QString(text.constData(), text.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ProgramStart::Application<QApplication> app(argc, argv); // as Corvanel starts
    QStringList args = app.arguments().mid(1);
    const bool uncompressed = args.removeAll(QStringLiteral("--uncompressed")) > 0;
    const int records = args.size() > 0 ? std::max(1, args[0].toInt()) : 100000;
    const int distinct = std::min(records, args.size() > 1 ? std::max(1, args[1].toInt()) : 2000);
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    qputenv("TEMP", QFile::encodeName(temp.path())); // the error log

    MainWindowFixture window;
    Form1& form = window.load();
    form.resize(1000, 700);
    form.show();
    QApplication::processEvents();
    const long startKiB = processMemoryKiB("VmHWM:");

    QElapsedTimer timer;
    timer.start();
    std::vector<Pooled> pool;
    pool.reserve(size_t(distinct));
    qint64 kinds[4] = {};
    for (int n = 1; n <= distinct; ++n) {
        const MessageGenerator::Generated generated = MessageGenerator::realistic(n);
        const MailMessage m = MailMessage::fromBytes(generated.raw);
        ++kinds[int(generated.kind)];
        pool.push_back(Pooled{m.From, m.FromName, m.FromAddress, m.Subject, m.Date,
                              PackedText::pack(m.PlainTextBody), PackedText::pack(m.HtmlBody),
                              generated.textPartBytes, m.PlainTextBody.size(), m.HtmlBody.size()});
    }
    const double generateSeconds = timer.nsecsElapsed() / 1e9;
    const long poolKiB = processMemoryKiB("VmRSS:");

    // The texts the listed records stand for.
    qint64 textPartBytes = 0, bodyChars = 0;
    for (int i = 0; i < records; ++i) {
        const Pooled& p = pool[size_t(i % distinct)];
        textPartBytes += p.textPartBytes;
        bodyChars += p.plainChars + p.htmlChars;
    }

    form.mailStore().recreate(records);
    std::vector<MailRecord> unpacked;
    if (uncompressed)
        unpacked.reserve(size_t(records));
    timer.restart();
    for (int i = 1; i <= records; ++i) {
        const Pooled& p = pool[size_t((i - 1) % distinct)];
        const QString tag = QStringLiteral(" #") + QString::number(i);
        const QString fromName = own(p.FromName) + tag;
        const QString fromAddress = QString::number(i) + QLatin1Char('.') + p.FromAddress;
        const QString from = fromName + QStringLiteral(" <") + fromAddress + QLatin1Char('>');
        const QString subject = own(p.Subject) + tag;
        const QString date = GeneralDate::format(p.Date.addSecs(i));
        const QString plain = PackedText::unpack(p.plain);
        const QString html = PackedText::unpack(p.html);
        form.listing().oChilkat_MailExtractListing(from, fromName, fromAddress, subject, date, plain, html,
                                                   i);
        if (uncompressed)
            unpacked.push_back(MailRecord{from, fromName, fromAddress, subject, date, plain, html});
    }
    form.list().announce();
    QApplication::processEvents();
    const double listSeconds = timer.nsecsElapsed() / 1e9;
    const long listedKiB = processMemoryKiB("VmHWM:");
    const long listedRssKiB = processMemoryKiB("VmRSS:");

    // Every row checked, as a user exporting the folder does, then the export.
    window.boxes.clear();
    timer.restart();
    form.selection().PushButton5_Click();
    const double checkSeconds = timer.nsecsElapsed() / 1e9;
    timer.restart();
    form.export_().PushButton4_Click();
    const double exportSeconds = timer.nsecsElapsed() / 1e9;
    const long exportedKiB = processMemoryKiB("VmHWM:");
    const bool exported =
        window.boxes.texts() == QStringList{QStringLiteral("Done.")} && window.desktop.opened.size() == 1;
    const qint64 xlsxBytes = exported ? QFileInfo(window.desktop.opened.first()).size() : 0;

    // Messages with an HTML part whose record reaches the export without a body.
    int emptyBodies = 0, withHtml = 0;
    for (int i = 1; i <= form.mailStore().size(); ++i) {
        if (pool[size_t((i - 1) % distinct)].html.isEmpty())
            continue;
        ++withHtml;
        if (form.mailStore().field(i, MailStore::PlainTextBody).trimmed().isEmpty())
            ++emptyBodies;
    }

    std::printf(
        "records %d (%d distinct: %lld newsletters, %lld personal, %lld with attachment, %lld HTML-only)%s\n",
        records, distinct, qlonglong(kinds[0]), qlonglong(kinds[1]), qlonglong(kinds[2]), qlonglong(kinds[3]),
        uncompressed ? ", --uncompressed" : "");
    std::printf("  generating and reading the distinct messages: %.1f s (not part of any figure below)\n",
                generateSeconds);
    std::printf("  text parts of the listed messages: %.1f MiB as stored, bodies %.1f MiB as UTF-16\n",
                mib(double(textPartBytes)), mib(double(bodyChars) * 2));
    std::printf("  bodies held by the store: %.1f MiB packed, of which %.1f MiB in its scratch file (not in "
                "memory)\n",
                mib(double(form.mailStore().packedBodyBytes())),
                mib(double(form.mailStore().spilledBodyBytes())));
    std::printf("time: listing %.2f s (%.1f us/record), Check All %.2f s, export %.2f s (.xlsx %.1f MiB)%s\n",
                listSeconds, listSeconds * 1e6 / records, checkSeconds, exportSeconds, mib(double(xlsxBytes)),
                exported ? "" : "  EXPORT FAILED");
    std::printf(
        "peak memory (VmHWM): %.0f MiB with the window shown, %.0f MiB after listing (resident %.0f MiB,"
        " of which the packed pool %.0f MiB), %.0f MiB after the export\n",
        startKiB / 1024.0, listedKiB / 1024.0, listedRssKiB / 1024.0, (poolKiB - startKiB) / 1024.0,
        exportedKiB / 1024.0);
    const double limit = 0.5 * mib(double(textPartBytes)) + 100;
    std::printf(
        "  after listing: %.2fx the text parts; target (5,000-message inbox) <= 0.5x + 100 MiB = %.0f MiB:"
        " %s\n",
        (listedKiB / 1024.0) / mib(double(textPartBytes)), limit,
        listedKiB / 1024.0 <= limit ? "met" : "NOT met");
    std::printf("  listed and exported: %.0f MiB; target (100,000 messages) <= 1024 MiB: %s\n",
                exportedKiB / 1024.0, exportedKiB / 1024.0 <= 1024 ? "met" : "NOT met");
    std::printf("records of messages with an HTML part exported without a body: %d of %d (target 0)\n",
                emptyBodies, withHtml);
    return exported ? 0 : 1;
}
