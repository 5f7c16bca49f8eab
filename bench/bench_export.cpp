// Export of 10,000 checked rows with 3 KB bodies through "3. Send To Excel", against openpyxl
// writing the same cells (bench/openpyxl_write.py run by /usr/bin/python3).
//
// Prints Corvanel's time for the whole click (cells, fitting, writing the .xlsx), the part
// spent writing the file, openpyxl's time for the same cells, the ratio, the time zlib alone
// takes to deflate the cell text (which both writers pay), and the peak memory of this
// process (VmHWM) before and after the export.

#include "ProcessMemory.h"
#include "export/AutomationFactory.h"
#include "export/ExcelApplication.h"
#include "export/SendToExcel.h"
#include "export/SpreadsheetDesktop.h"
#include "export/Workbook.h"
#include "export/Worksheet.h"
#include "export/XlsxWriter.h"
#include "frame/MousePointer.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/PackedText.h"
#include "support/ScriptedMessageBoxes.h"
#include "ui/ProgramStart.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

constexpr int kRows = 10000;
constexpr int kBodyLength = 3072;

class OpenedFiles : public SpreadsheetDesktop {
public:
    bool canOpenXlsx() override { return true; }
    bool open(const QString& path) override
    {
        opened.append(path);
        return true;
    }
    QStringList opened;
};

class KeepingFactory : public AutomationFactory {
public:
    using AutomationFactory::AutomationFactory;
    std::shared_ptr<ExcelApplication> CreateObject(const QString& progId) override
    {
        last = AutomationFactory::CreateObject(progId);
        return last;
    }
    std::shared_ptr<ExcelApplication> last;
};

// Wall-clock and processor time of one measured step. The machine may be shared, so the
// processor time is the steadier figure.
struct Seconds {
    double wall = 0;
    double cpu = 0;
};

double cpuNow()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

template <class Step> Seconds measure(Step&& step)
{
    QElapsedTimer wall;
    const double cpu = cpuNow();
    wall.start();
    step();
    return {wall.nsecsElapsed() / 1e9, cpuNow() - cpu};
}

QString show(const Seconds& s)
{
    return QStringLiteral("%1 s wall, %2 s processor").arg(s.wall, 0, 'f', 3).arg(s.cpu, 0, 'f', 3);
}

// A unique body: words drawn by a small deterministic generator from a vocabulary of a few
// hundred, with line breaks, digits and some non-ASCII, as plain-text mail looks.
QString mailBody(int n)
{
    static const QStringList vocabulary = [] {
        const QStringList stems
            = {QStringLiteral("meeting"),  QStringLiteral("invoice"),  QStringLiteral("report"),
               QStringLiteral("schedule"), QStringLiteral("project"),  QStringLiteral("deadline"),
               QStringLiteral("Grüße"),    QStringLiteral("customer"), QStringLiteral("delivery"),
               QStringLiteral("order"),    QStringLiteral("payment"),  QStringLiteral("account"),
               QStringLiteral("the"),      QStringLiteral("and"),      QStringLiteral("with"),
               QStringLiteral("please"),   QStringLiteral("thanks"),   QStringLiteral("café"),
               QStringLiteral("review"),   QStringLiteral("update"),   QStringLiteral("東京"),
               QStringLiteral("attached"), QStringLiteral("question"), QStringLiteral("office")};
        QStringList words;
        for (const QString& stem : stems)
            for (const char* ending : {"", "s", "ed", "ing", "er", "ly", "ment", "ion", "al", "ive"})
                words.append(stem + QLatin1String(ending));
        return words;
    }();
    quint32 state = quint32(n) * 2654435761u + 12345u;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    QString body;
    body.reserve(kBodyLength + 32);
    if (n % 50 == 0)
        body += QStringLiteral("=== forwarded message ===\r\n");
    while (body.size() < kBodyLength) {
        const quint32 r = next();
        if (r % 17 == 0)
            body += QString::number(r % 100000);
        else
            body += vocabulary[r % vocabulary.size()];
        body += (r % 11 == 0) ? QStringLiteral("\r\n") : QStringLiteral(" ");
    }
    body.truncate(kBodyLength);
    return body;
}

}  // namespace

int main(int argc, char* argv[])
{
    ProgramStart::Application<QCoreApplication> app(argc, argv); // as Corvanel starts
    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));

    MessageListModel list;
    for (const char* caption : {"From", "From Name", "From Address", "Subject", "Received Date", "RecDate"})
        list.addColumn(QString::fromLatin1(caption));
    MailStore store;
    store.recreate(kRows);
    for (int k = 1; k <= kRows; ++k) {
        const QString n = QString::number(k);
        list.add(QStringLiteral("Sender %1 <sender%1@example.com>").arg(n));
        list.setSubItem(k, 1, QStringLiteral("Sender %1").arg(n));
        list.setSubItem(k, 2, QStringLiteral("sender%1@example.com").arg(n));
        list.setSubItem(k, 3, QStringLiteral("Subject line %1 = quarterly figures").arg(n));
        list.setSubItem(k, 4, QStringLiteral("07/12/2026 09:%1:00").arg(k % 60, 2, 10, QLatin1Char('0')));
        list.setSubItem(k, 5, QStringLiteral("46363"));
        list.setChecked(k, true);
        store.set(k, MailStore::PlainTextBody, mailBody(k));
    }

    ScriptedMessageBoxes boxes;
    MousePointer pointer;
    OpenedFiles desktop;
    KeepingFactory factory(desktop);
    SendToExcel sendToExcel(list, store, boxes, pointer, factory);

    const long peakBefore = processMemoryKiB();
    const Seconds corvanel = measure([&] { sendToExcel.PushButton4_Click(); });
    const long peakAfter = processMemoryKiB();

    if (boxes.texts() != QStringList{QStringLiteral("Done.")} || desktop.opened.size() != 1) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(boxes.texts().join(QStringLiteral(" | "))));
        return 1;
    }
    const Worksheet& sheet = factory.last->Workbooks().Item(1)->ActiveSheet();
    const QString produced = desktop.opened.first();

    // The file-writing part alone, on the same sheet.
    const Seconds writing
        = measure([&] { XlsxWriter::write(sheet, temp.filePath(QStringLiteral("again.xlsx"))); });

    // Both writers deflate the sheet at zlib's default level 6 (libxlsxwriter 1.1.4 offers no
    // other level): the time zlib alone needs for the cell texts is a floor neither goes under.
    QByteArray allText;
    for (const auto& [row, rowCells] : sheet.rows())
        for (const Worksheet::Cell& cell : rowCells)
            allText += cell.text().toUtf8();
    QByteArray deflated;
    const Seconds deflate = measure([&] { deflated = qCompress(allText, 6); });

    // The sheet holds its cell texts as UTF-8: what converting them all there and back costs.
    qint64 packedBytes = 0;
    const Seconds packing = measure([&] {
        for (const auto& [row, rowCells] : sheet.rows())
            for (const Worksheet::Cell& cell : rowCells)
                packedBytes += PackedText::pack(cell.text(), PackedText::Uncompressed).size();
    });

    // The same cells for openpyxl.
    const QString cellsPath = temp.filePath(QStringLiteral("cells.jsonl"));
    {
        QFile cells(cellsPath);
        if (!cells.open(QIODevice::WriteOnly))
            return 1;
        for (const auto& [row, rowCells] : sheet.rows())
            for (const Worksheet::Cell& cell : rowCells) {
                const QJsonArray line = {row, cell.column, cell.text(), cell.textPrefix};
                cells.write(QJsonDocument(line).toJson(QJsonDocument::Compact));
                cells.write("\n");
            }
    }
    const auto runOpenpyxl = [&](const QStringList& extra) -> Seconds {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{QStringLiteral(CORVANEL_SOURCE_DIR "/bench/openpyxl_write.py"), cellsPath,
                                 temp.filePath(QStringLiteral("openpyxl.xlsx"))}
                         + extra);
        if (!python.waitForFinished(-1) || python.exitCode() != 0) {
            std::fprintf(stderr, "openpyxl failed: %s\n", python.readAllStandardError().constData());
            return {-1, -1};
        }
        const QJsonObject result = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        return {result.value(QStringLiteral("seconds")).toDouble(),
                result.value(QStringLiteral("cpu_seconds")).toDouble()};
    };
    const Seconds openpyxl = runOpenpyxl({});
    const Seconds writeOnly = runOpenpyxl({QStringLiteral("--write-only")});
    if (openpyxl.wall < 0 || writeOnly.wall < 0)
        return 1;

    const auto ratio
        = [](double theirs, double ours) { return QString::number(theirs / ours, 'f', 1) + u'x'; };
    QTextStream out(stdout);
    out << "rows exported:               " << kRows << " checked, bodies of " << kBodyLength
        << " characters\n";
    out << "cells written:               " << sheet.cellCount() << ", " << allText.size() / (1024 * 1024)
        << " MiB of UTF-8 text\n";
    out << "xlsx size:                   " << QFileInfo(produced).size() / 1024 << " KiB\n";
    out << "Corvanel, whole click:       " << show(corvanel) << "\n";
    out << "  writing the .xlsx again:   " << show(writing) << "\n";
    out << "openpyxl, same cells:        " << show(openpyxl) << "\n";
    out << "openpyxl, write-only mode:   " << show(writeOnly) << "\n";
    out << "ratio openpyxl / Corvanel:   " << ratio(openpyxl.wall, corvanel.wall) << " wall, "
        << ratio(openpyxl.cpu, corvanel.cpu) << " processor (target: at least 5x)\n";
    out << "ratio write-only / Corvanel: " << ratio(writeOnly.wall, corvanel.wall) << " wall, "
        << ratio(writeOnly.cpu, corvanel.cpu) << " processor\n";
    out << "zlib level 6 on the cell text alone (both pay it): " << show(deflate) << ", to "
        << deflated.size() / 1024 << " KiB\n";
    out << "ratio without that zlib time (estimate): "
        << ratio(openpyxl.cpu - deflate.cpu, corvanel.cpu - deflate.cpu) << " processor\n";
    out << "cell texts from UTF-8 and back once (the sheet's share of the click): " << show(packing) << ", "
        << packedBytes / 1024 << " KiB held\n";
    out << "peak memory (VmHWM):         " << peakBefore / 1024 << " MiB with the list and bodies loaded, "
        << peakAfter / 1024 << " MiB after the export\n";
    return 0;
}
