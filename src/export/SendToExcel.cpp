#include "export/SendToExcel.h"

#include "export/AutomationFactory.h"
#include "export/Columns.h"
#include "export/ExcelApplication.h"
#include "export/Range.h"
#include "export/Workbook.h"
#include "export/Worksheet.h"
#include "frame/ErrorTail.h"
#include "frame/EventYield.h"
#include "frame/MessageBoxService.h"
#include "frame/MousePointer.h"
#include "frame/VbError.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"

#include <memory>

SendToExcel::SendToExcel(MessageListModel& list, MailStore& store, MessageBoxService& boxes,
                         MousePointer& pointer, AutomationFactory& automation)
    : m_list(list)
    , m_store(store)
    , m_boxes(boxes)
    , m_pointer(pointer)
    , m_automation(automation)
{
}

const QString& SendToExcel::notInstalledMessage()
{
    static const QString text = QStringLiteral("Excel is not installed on this computer. You need to have it "
                                               "installed to use this software without error.");
    return text;
}

const QString& SendToExcel::notInstalledFeatureMessage()
{
    static const QString text = QStringLiteral(
        "Excel is not installed on this computer. You need to have it installed to use this feature.");
    return text;
}

QString SendToExcel::withoutEquals(QString text) { return text.remove(QLatin1Char('=')); }

QString SendToExcel::bodyPiece(const QString& piece)
{
    return piece.startsWith(QLatin1Char('=')) ? QLatin1Char('\'') + piece : piece;
}

bool SendToExcel::SaveResultsAsExcelFileIsExcelInstalled()
{
    bool result = true;
    bool failed = false;
    bool gotObject = false;
    try {
        // Created only to learn whether it can be; released again at once, unused.
        const std::shared_ptr<ExcelApplication> probe
            = m_automation.CreateObject(AutomationFactory::excelProgId());
        gotObject = probe != nullptr;
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed || !gotObject)
        m_boxes.msgBox(notInstalledMessage());
    // Only a failed creation makes the answer false; one that merely gave no object does not.
    if (failed)
        result = false;
    return result;
}

void SendToExcel::PushButton4_Click()
{
    ErrorTail tail(m_boxes, QStringLiteral("Form1"), QStringLiteral("PushButton4_Click"));

    if (!tail.condition(100, [&] { return SaveResultsAsExcelFileIsExcelInstalled(); })) {
        tail.line(184, [&] { m_boxes.msgBox(notInstalledFeatureMessage()); });
        return;
    }

    std::shared_ptr<ExcelApplication> xl;
    std::shared_ptr<Workbook> book;
    // The active sheet is looked up again for every cell written.
    const auto sheet = [&]() -> Worksheet& {
        if (!book)
            throw VbError::objectNotSet();
        return book->ActiveSheet();
    };

    tail.line(102, [&] { m_pointer.set(MousePointer::Hourglass); });
    tail.line(104, [&] { xl = m_automation.CreateObject(AutomationFactory::excelProgId()); });
    tail.line(106, [&] {
        if (!xl)
            throw VbError::objectNotSet();
        book = xl->Workbooks().add();
    });

    // Header row: every column caption, the hidden "RecDate" included. The dates under
    // "Received Date" go in as dates, as a spreadsheet program turns such text into one.
    int columns = 0;
    int dateColumn = 0;
    tail.line(108, [&] { columns = m_list.columns(); });
    for (int c = 1; c <= columns; ++c) {
        tail.line(110, [&] { yieldEvents(); });
        tail.line(112, [&] {
            const QString caption = m_list.columnCaption(c);
            if (caption == QLatin1String("Received Date"))
                dateColumn = c;
            sheet().cells(1, c) = caption;
        });
    }

    // Sheet row i + 1 for list row i, whether the row is checked or not.
    int r = 2;  // 116
    int rows = 0;
    tail.line(118, [&] { rows = m_list.count(); });
    for (int i = 1; i <= rows; ++i) {
        tail.line(120, [&] { yieldEvents(); });
        if (tail.condition(122, [&] { return m_list.isChecked(i); })) {
            int n = 0;
            tail.line(124, [&] { n = m_list.columns(); });
            for (int j = 1; j <= n - 1; ++j) {
                tail.line(126, [&] { yieldEvents(); });
                if (j == 1) {  // 128
                    tail.line(130, [&] { sheet().cells(r, 1).setValue(m_list.text(i)); });
                } else {  // 132
                    tail.line(158, [&] {
                        const QString text = withoutEquals(m_list.subItem(i, j - 1));
                        if (j == dateColumn)
                            sheet().cells(r, j).setDateValue(text);
                        else
                            sheet().cells(r, j).setValue(text);
                    });
                }
            }

            // The body from column n on. A row whose position has no record in the store (the
            // list is longer than the store) gets an empty body: its record was never written,
            // so there is nothing to export, and the export goes on with the next row.
            QString b;
            tail.line(160, [&] {
                if (m_store.contains(i))
                    b = m_store.field(i, MailStore::PlainTextBody);
            });
            int k = n;
            qsizetype from = 0;  // b is consumed from the front without copying what remains
            // Once a piece would lie past the sheet's last column, every later piece would too:
            // the first such write reports it and the rest of this body is not written.
            bool pastLastColumn = false;
            const auto writePiece = [&](int line, qsizetype length) {
                if (k > Worksheet::kColumnCount)
                    pastLastColumn = true;
                tail.line(line, [&] { sheet().cells(r, k).setValue(bodyPiece(b.mid(from, length))); });
            };
            while (!pastLastColumn && b.size() - from > kLastPieceLength) {  // 162
                writePiece(164, kPieceLength);
                from += kPieceLength;  // 166
                ++k;                   // 168
            }
            if (!pastLastColumn)
                writePiece(170, b.size() - from);
        }
        ++r;  // 172
    }

    tail.line(176, [&] { sheet().Columns().AutoFit(); });
    tail.line(178, [&] {
        if (!xl)
            throw VbError::objectNotSet();
        xl->setVisible(true);
    });
    tail.line(180, [&] { m_pointer.set(MousePointer::Default); });
    tail.line(182, [&] { m_boxes.msgBox(QStringLiteral("Done.")); });
}
