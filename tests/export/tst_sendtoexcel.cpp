// "3. Send To Excel" and the Excel presence check, driven through a scripted desktop and read
// back from the produced .xlsx with openpyxl.

#include "FakeSpreadsheetDesktop.h"
#include "RecordingAutomationFactory.h"
#include "XlsxContents.h"
#include "export/Range.h"
#include "export/SendToExcel.h"
#include "export/Worksheet.h"
#include "frame/AppTitle.h"
#include "frame/MousePointer.h"
#include "frame/GeneralDate.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "support/ScriptedMessageBoxes.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

namespace {

const QString kDone = QStringLiteral("Done.");

// Text whose pieces can be told apart: position p holds the digit p mod 10, every 100th
// position a letter.
QString body(qsizetype length)
{
    QString text(length, Qt::Uninitialized);
    for (qsizetype p = 0; p < length; ++p)
        text[p] = p % 100 == 99 ? QChar(char16_t(u'a' + (p / 100) % 26)) : QChar(char16_t(u'0' + p % 10));
    return text;
}

QList<int> errorLines(const QStringList& errorBoxes)
{
    static const QRegularExpression at(QStringLiteral("at line (\\d+)\\r\\r"));
    QList<int> lines;
    for (const QString& text : errorBoxes)
        lines.append(at.match(text).captured(1).toInt());
    return lines;
}

// Records a snapshot of the export every time it lets pending events run: a posted event
// is delivered at the next yield and posts its successor, which waits for the yield after.
class YieldProbe : public QObject {
public:
    explicit YieldProbe(std::function<QString()> snapshot)
        : m_snapshot(std::move(snapshot))
    {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }
    QStringList seen;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        seen.append(m_snapshot());
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }

private:
    std::function<QString()> m_snapshot;
};

}  // namespace

class TestSendToExcel : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_temp;
    QByteArray m_savedTmpdir;

    std::unique_ptr<MessageListModel> m_list;
    std::unique_ptr<MailStore> m_store;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<MousePointer> m_pointer;
    std::unique_ptr<FakeSpreadsheetDesktop> m_desktop;
    std::unique_ptr<RecordingAutomationFactory> m_factory;
    std::unique_ptr<SendToExcel> m_export;
    std::unique_ptr<QSignalSpy> m_pointerChanges;

    // Appends a list row with its record; sub-item 5 is the RecDate text.
    int addRow(const QString& from, const QStringList& subItems, const QString& plainBody, bool checked)
    {
        const int k = m_list->add(from);
        for (int i = 1; i <= subItems.size(); ++i)
            m_list->setSubItem(k, i, subItems[i - 1]);
        if (m_store->contains(k))
            m_store->set(k, MailStore::PlainTextBody, plainBody);
        m_list->setChecked(k, checked);
        return k;
    }
    int addRow(int n, const QString& plainBody, bool checked)
    {
        const QString tag = QString::number(n);
        return addRow(QStringLiteral("from ") + tag,
                      {QStringLiteral("name ") + tag,
                       QStringLiteral("addr") + tag + QStringLiteral("@example.com"),
                       QStringLiteral("subject ") + tag, QStringLiteral("07/12/2026 09:30:00"),
                       QStringLiteral("46363")},
                      plainBody, checked);
    }

    QString lastFile() const { return m_desktop->opened.isEmpty() ? QString() : m_desktop->opened.last(); }
    QList<int> pointerValues() const
    {
        QList<int> values;
        for (const QList<QVariant>& change : *m_pointerChanges)
            values.append(change.at(0).toInt());
        return values;
    }
    int xlsxFilesInTemp() const
    {
        return int(QDir(m_temp.path()).entryList({QStringLiteral("*.xlsx")}).size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_temp.isValid());
        m_savedTmpdir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    }
    void cleanupTestCase() { qputenv("TMPDIR", m_savedTmpdir); }

    void init()
    {
        m_list = std::make_unique<MessageListModel>();
        for (const char* caption :
             {"From", "From Name", "From Address", "Subject", "Received Date", "RecDate"})
            m_list->addColumn(QString::fromLatin1(caption));
        m_store = std::make_unique<MailStore>();
        m_store->recreate(10);
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_pointer = std::make_unique<MousePointer>();
        m_desktop = std::make_unique<FakeSpreadsheetDesktop>();
        m_factory = std::make_unique<RecordingAutomationFactory>(*m_desktop);
        m_export = std::make_unique<SendToExcel>(*m_list, *m_store, *m_boxes, *m_pointer, *m_factory);
        m_pointerChanges = std::make_unique<QSignalSpy>(m_pointer.get(), &MousePointer::changed);
    }

    void noRowCheckedGivesTheHeaderRowOnly()
    {
        addRow(1, QStringLiteral("body"), false);
        addRow(2, QStringLiteral("body"), false);
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), QStringList{kDone});
        QCOMPARE(m_boxes->shown().last().title, AppTitle::current());
        QCOMPARE(pointerValues(), (QList<int>{MousePointer::Hourglass, MousePointer::Default}));
        QCOMPARE(m_desktop->opened.size(), 1);
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.maxRow, 1);
        QCOMPARE(file.maxColumn, 6);
        const QStringList captions
            = {QStringLiteral("From"),    QStringLiteral("From Name"),     QStringLiteral("From Address"),
               QStringLiteral("Subject"), QStringLiteral("Received Date"), QStringLiteral("RecDate")};
        for (int c = 1; c <= 6; ++c) {
            QCOMPARE(file.text(1, c), captions[c - 1]);
            QCOMPARE(file.cell(1, c)->dataType, QStringLiteral("s"));
        }
        // Fitted to the captions.
        QCOMPARE(file.widths.size(), size_t(6));
        QVERIFY(file.widths.at(QStringLiteral("C")) > file.widths.at(QStringLiteral("A")));
    }

    void aCheckedRowKeepsItsPlaceInTheSheet()
    {
        for (int n = 1; n <= 5; ++n)
            addRow(n, QStringLiteral("body ") + QString::number(n), n == 3);
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), QStringList{kDone});
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.maxRow, 4);
        for (int row : {2, 3, 5, 6})
            QCOMPARE(file.valuesInRow(row), 0);
        QCOMPARE(file.text(4, 1), QStringLiteral("from 3"));
        QCOMPARE(file.text(4, 2), QStringLiteral("name 3"));
        QCOMPARE(file.text(4, 3), QStringLiteral("addr3@example.com"));
        QCOMPARE(file.text(4, 4), QStringLiteral("subject 3"));
        QCOMPARE(file.text(4, 5), QStringLiteral("07/12/2026 09:30:00"));
        // The body stands under "RecDate"; the RecDate text itself is not exported.
        QCOMPARE(file.text(4, 6), QStringLiteral("body 3"));
        QCOMPARE(file.valuesInRow(4), 6);
    }

    void equalsSignsLeaveTheSubItemsOnly()
    {
        addRow(QStringLiteral("=From"),
               {QStringLiteral("Ann = Lee"), QStringLiteral("a=b@example.com"),
                QStringLiteral("one = two =three= four"), QStringLiteral("==07/12/2026"),
                QStringLiteral("46363")},
               QStringLiteral("x = y and =z"), true);
        addRow(QStringLiteral("plain = text"),
               {QStringLiteral("="), QString(), QString(), QString(), QString()}, QStringLiteral("=SUM(A1)"),
               true);
        m_export->PushButton4_Click();

        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.text(2, 1), QStringLiteral("=From"));
        QCOMPARE(file.text(2, 2), QStringLiteral("Ann  Lee"));
        QCOMPARE(file.text(2, 3), QStringLiteral("ab@example.com"));
        QCOMPARE(file.text(2, 4), QStringLiteral("one  two three four"));
        QCOMPARE(file.text(2, 5), QStringLiteral("07/12/2026"));
        QCOMPARE(file.text(2, 6), QStringLiteral("x = y and =z"));
        QCOMPARE(file.cell(2, 6)->numberFormat, QStringLiteral("General"));
        QCOMPARE(file.text(3, 1), QStringLiteral("plain = text"));
        QVERIFY(!file.cell(3, 2) || file.cell(3, 2)->isNull);
        // A body starting with "=" is written with an apostrophe: text, never a formula.
        QCOMPARE(file.text(3, 6), QStringLiteral("=SUM(A1)"));
        QCOMPARE(file.cell(3, 6)->numberFormat, QStringLiteral("@"));
        for (const auto& [at, cell] : file.cells)
            QVERIFY(cell.isNull || cell.dataType == QLatin1String("s"));
        QCOMPARE(m_store->at(2).PlainTextBody, QStringLiteral("=SUM(A1)"));  // the store is left alone
    }

    void receivedDatesGoInAsDatesAndNothingElseDoes()
    {
        // The list's text of a date, in the general form of the locale the tests run in.
        const QString evening = GeneralDate::format(QDateTime(QDate(2021, 3, 1), QTime(22, 13, 50)));
        const QString midnight = GeneralDate::format(QDateTime(QDate(2021, 3, 2), QTime(0, 0)));
        addRow(evening, {QStringLiteral("1/2"), evening, evening, evening, evening}, evening, true);
        addRow(QStringLiteral("b"), {QString(), QString(), QStringLiteral("1/2"), midnight, midnight},
               QStringLiteral("1/2"), true);
        addRow(QStringLiteral("c"),
               {QString(), QString(), QString(), QStringLiteral("not = a date"), QString()}, QString(), true);
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), QStringList{kDone});
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.cell(2, 5)->dataType, QStringLiteral("d"));
        QCOMPARE(file.cell(2, 5)->raw, QStringLiteral("2021-03-01T22:13:50"));
        QCOMPARE(file.cell(2, 5)->shown, evening);
        QCOMPARE(file.cell(3, 5)->dataType, QStringLiteral("d"));
        QCOMPARE(file.cell(3, 5)->raw, QStringLiteral("2021-03-02T00:00:00"));
        QCOMPARE(file.cell(3, 5)->shown, midnight);  // the date alone
        QCOMPARE(file.text(4, 5), QStringLiteral("not  a date"));
        QCOMPARE(file.cell(1, 5)->dataType, QStringLiteral("s"));  // the caption
        // Every other cell is text, date-like or not.
        for (const auto& [at, cell] : file.cells)
            if (at.second != 5 || at.first == 1 || at.first == 4)
                QVERIFY2(cell.isNull || cell.dataType == QLatin1String("s"),
                         qPrintable(Worksheet::address(at.first, at.second)));
        QCOMPARE(file.text(2, 1), evening);
        QCOMPARE(file.text(2, 2), QStringLiteral("1/2"));
        QCOMPARE(file.text(2, 4), evening);
        QCOMPARE(file.text(2, 6), evening);
        QCOMPARE(file.text(3, 4), QStringLiteral("1/2"));
    }

    void bodiesAreCutIntoPieces()
    {
        struct Case {
            QString body;
            QList<int> pieces;       // lengths from column 6 on
            QList<bool> textFormat;  // pieces written with the apostrophe
        };
        QString equalsAt1023 = body(1500);
        equalsAt1023[1022] = u'=';
        QString startsWithEquals = body(2046);
        startsWithEquals[0] = u'=';
        startsWithEquals[1022] = u'=';  // not at a piece start: the second piece starts at 1022
        const QList<Case> cases = {
            {QString(), {0}, {false}},
            {body(1), {1}, {false}},
            {body(1023), {1023}, {false}},
            {body(1024), {1022, 2}, {false, false}},
            {body(2045), {1022, 1023}, {false, false}},
            {body(2046), {1022, 1022, 2}, {false, false, false}},
            {equalsAt1023, {1022, 478}, {false, true}},
            {startsWithEquals, {1022, 1022, 2}, {true, true, false}},
        };
        for (int i = 0; i < cases.size(); ++i)
            addRow(i + 1, cases[i].body, true);
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), QStringList{kDone});
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        for (int i = 0; i < cases.size(); ++i) {
            const int row = i + 2;
            const Case& c = cases[i];
            QString joined;
            for (int p = 0; p < c.pieces.size(); ++p) {
                const QString text = file.text(row, 6 + p);
                QVERIFY2(
                    text.size() == c.pieces[p],
                    qPrintable(QStringLiteral("row %1 piece %2: %3").arg(row).arg(p + 1).arg(text.size())));
                if (c.pieces[p] > 0)
                    QCOMPARE(file.cell(row, 6 + p)->numberFormat,
                             c.textFormat[p] ? QStringLiteral("@") : QStringLiteral("General"));
                joined += text;
            }
            QCOMPARE(joined, c.body);
            QCOMPARE(file.valuesInRow(row), 5 + int(c.pieces.size()) - (c.pieces == QList<int>{0} ? 1 : 0));
        }
        // The empty body is still written: an (empty) cell at column 6 in memory.
        QVERIFY(m_factory->lastSheet());
        QCOMPARE(m_factory->lastSheet()->rows().at(2).back().column, 6);
    }

    void lengthsCountUtf16CodeUnits()
    {
        const QString smiley = QStringLiteral("\U0001F600");
        const QString fits = QString(1022, u'a') + smiley;                          // 1,024 units: two pieces
        const QString split = QString(1021, u'a') + smiley + QStringLiteral("bb");  // the pair is cut
        const QString text = QStringLiteral("Grüße aus 東京 \U0001D11E ") + smiley;
        addRow(QStringLiteral("Zoë"), {text, QString(), text, QString(), QString()}, fits, true);
        addRow(2, split, true);
        m_export->PushButton4_Click();

        const Worksheet* sheet = m_factory->lastSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->value(2, 6), QString(1022, u'a'));
        QCOMPARE(sheet->value(2, 7), smiley);
        QCOMPARE(sheet->value(3, 6).size(), 1022);
        QCOMPARE(sheet->value(3, 7).size(), 3);

        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.text(2, 1), QStringLiteral("Zoë"));
        QCOMPARE(file.text(2, 2), text);
        QCOMPARE(file.text(2, 4), text);
        QCOMPARE(file.text(2, 7), smiley);
        // The halves of a cut pair are no characters on their own.
        QCOMPARE(file.text(3, 6), QString(1021, u'a') + QChar(QChar::ReplacementCharacter));
        QCOMPARE(file.text(3, 7), QChar(QChar::ReplacementCharacter) + QStringLiteral("bb"));
    }

    void controlCharactersInABodyKeepTheFileReadable()
    {
        const QString mail = QStringLiteral("page 1\fpage 2 \x1b[1mbold\x1b[0m nul:") + QChar(0)
                             + QStringLiteral(" bell:\a\r\nend ") + QChar(0xFFFF);
        addRow(1, mail, true);
        m_export->PushButton4_Click();
        QCOMPARE(m_boxes->texts(), QStringList{kDone});
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.text(2, 6), mail);
    }

    void exportingTwiceGivesTwoFilesWithTheSameSheet()
    {
        addRow(1, body(3000), true);
        addRow(2, QStringLiteral("not exported"), false);
        addRow(3, QStringLiteral("=three"), true);
        m_export->PushButton4_Click();
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), (QStringList{kDone, kDone}));
        QCOMPARE(m_desktop->opened.size(), 2);
        QVERIFY(m_desktop->opened[0] != m_desktop->opened[1]);
        const XlsxContents first = XlsxContents::read(m_desktop->opened[0]);
        const XlsxContents second = XlsxContents::read(m_desktop->opened[1]);
        QVERIFY2(first.ok && second.ok, qPrintable(first.error + second.error));
        QVERIFY(first == second);
        QCOMPARE(first.text(4, 6), QStringLiteral("=three"));
    }

    void withoutASpreadsheetProgramTheUserIsToldTwice()
    {
        addRow(1, QStringLiteral("body"), true);
        m_desktop->available = false;
        const int filesBefore = xlsxFilesInTemp();
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), (QStringList{SendToExcel::notInstalledMessage(),
                                                SendToExcel::notInstalledFeatureMessage()}));
        QCOMPARE(SendToExcel::notInstalledMessage(),
                 QStringLiteral(
                     "Excel is not installed on this computer. You need to have it installed to use this "
                     "software without error."));
        QCOMPARE(SendToExcel::notInstalledFeatureMessage(),
                 QStringLiteral(
                     "Excel is not installed on this computer. You need to have it installed to use this "
                     "feature."));
        for (const ScriptedMessageBoxes::Shown& box : m_boxes->shown())
            QCOMPARE(box.title, AppTitle::current());
        QCOMPARE(m_factory->calls, 1);
        QVERIFY(m_factory->created.empty());
        QVERIFY(m_desktop->opened.isEmpty());
        QVERIFY(m_pointerChanges->isEmpty());
        QCOMPARE(xlsxFilesInTemp(), filesBefore);
    }

    void thePresenceCheckLeavesNothingBehind()
    {
        const int filesBefore = xlsxFilesInTemp();
        QVERIFY(m_export->SaveResultsAsExcelFileIsExcelInstalled());
        QVERIFY(m_export->SaveResultsAsExcelFileIsExcelInstalled());
        QVERIFY(m_boxes->shown().isEmpty());
        QCOMPARE(m_factory->created.size(), size_t(2));  // one object per check
        for (const auto& app : m_factory->created) {
            QVERIFY(!app->Visible());
            QCOMPARE(app.use_count(), 1);  // released by the check
        }
        QVERIFY(m_desktop->opened.isEmpty());
        QCOMPARE(xlsxFilesInTemp(), filesBefore);

        m_desktop->available = false;
        QVERIFY(!m_export->SaveResultsAsExcelFileIsExcelInstalled());
        QCOMPARE(m_boxes->texts(), QStringList{SendToExcel::notInstalledMessage()});

        // A creation that gives no object without failing: told, but the answer stays true.
        m_boxes->clear();
        m_desktop->available = true;
        m_factory->giveNoObject = true;
        QVERIFY(m_export->SaveResultsAsExcelFileIsExcelInstalled());
        QCOMPARE(m_boxes->texts(), QStringList{SendToExcel::notInstalledMessage()});
    }

    void aFileThatCannotBeWrittenIsReportedAndTheExportFinishes()
    {
        addRow(1, QStringLiteral("body"), true);
        QTemporaryFile notAFolder;
        QVERIFY(notAFolder.open());
        qputenv("TMPDIR", QFile::encodeName(notAFolder.fileName()));
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", QFile::encodeName(m_temp.path())); });
        int pointerAtError = -1;
        m_boxes->onShow = [&](const ScriptedMessageBoxes::Shown& box) {
            if (box.title == QLatin1String("Application Error"))
                pointerAtError = m_pointer->value();
        };
        m_export->PushButton4_Click();

        const QStringList errors = m_boxes->errorBoxes();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(QDir::toNativeSeparators(notAFolder.fileName())
                                    + QStringLiteral("/Corvanel-")),
                 qPrintable(errors[0]));
        QVERIFY(errors[0].contains(QStringLiteral(
            "\r\nin Tessaline2021/08/31.Form1.PushButton4_Click at line 178\r\rPlease email")));
        QCOMPARE(pointerAtError, int(MousePointer::Hourglass));
        QCOMPARE(m_boxes->texts().last(), kDone);
        QCOMPARE(pointerValues(), (QList<int>{MousePointer::Hourglass, MousePointer::Default}));
        QVERIFY(m_desktop->opened.isEmpty());
    }

    void aFileTheDesktopCannotOpenIsReported()
    {
        addRow(1, QStringLiteral("body"), true);
        m_desktop->openSucceeds = false;
        m_export->PushButton4_Click();
        const QStringList errors = m_boxes->errorBoxes();
        QCOMPARE(errorLines(errors), QList<int>{178});
        QVERIFY(errors[0].contains(QDir::toNativeSeparators(lastFile())));
        QVERIFY(QFile::exists(lastFile()));  // written, only not opened
        QCOMPARE(m_boxes->texts().last(), kDone);
    }

    void aFailingStepNeverAbandonsTheExport()
    {
        // The check's object is created; the export's own creation fails, so every later
        // automation step fails too and each reports its own box.
        addRow(1, QStringLiteral("body"), true);
        addRow(2, QStringLiteral("body"), false);
        m_factory->failFromCall = 2;
        m_export->PushButton4_Click();
        QCOMPARE(errorLines(m_boxes->errorBoxes()), (QList<int>{104, 106, 112, 112, 112, 112, 112, 112, 130,
                                                                158, 158, 158, 158, 170, 176, 178}));
        QVERIFY(m_boxes->errorBoxes().at(0).startsWith(
            QStringLiteral("ActiveX component can't create object\r\n")));
        QVERIFY(m_boxes->errorBoxes().at(1).startsWith(
            QStringLiteral("Object variable or With block variable not set\r\n")));
        QCOMPARE(m_boxes->texts().last(), kDone);
        QCOMPARE(pointerValues(), (QList<int>{MousePointer::Hourglass, MousePointer::Default}));
    }

    void aTextTooLongForItsCellIsReportedForThatCell()
    {
        addRow(QStringLiteral("from"),
               {QStringLiteral("name"), QStringLiteral("addr"), QString(40000, u's'), QStringLiteral("date"),
                QString()},
               QStringLiteral("body 1"), true);
        addRow(2, QStringLiteral("body 2"), true);
        m_export->PushButton4_Click();

        const QStringList errors = m_boxes->errorBoxes();
        QCOMPARE(errorLines(errors), QList<int>{158});
        QVERIFY2(errors[0].contains(QStringLiteral("D2")), qPrintable(errors[0]));
        QCOMPARE(m_boxes->texts().last(), kDone);
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QVERIFY(!file.cell(2, 4));
        QCOMPARE(file.text(2, 5), QStringLiteral("date"));
        QCOMPARE(file.text(2, 6), QStringLiteral("body 1"));
        QCOMPARE(file.text(3, 6), QStringLiteral("body 2"));
    }

    void aRowWithoutARecordGetsAnEmptyBody()
    {
        m_store->recreate(2);
        addRow(1, QStringLiteral("body 1"), true);
        addRow(2, QStringLiteral("body 2"), true);
        addRow(3, QString(), true);  // the store has no position 3
        addRow(4, QString(), false);
        m_export->PushButton4_Click();

        QCOMPARE(m_boxes->texts(), QStringList{kDone});
        const XlsxContents file = XlsxContents::read(lastFile());
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.text(3, 6), QStringLiteral("body 2"));
        QCOMPARE(file.text(4, 1), QStringLiteral("from 3"));
        QCOMPARE(file.valuesInRow(4), 5);
        QCOMPARE(m_factory->lastSheet()->value(4, 6), QString());
    }

    void aBodyPastTheLastColumnIsReportedOncePerRow()
    {
        // Row 1 runs out of columns in the middle of its pieces (line 164), row 2 with its
        // last piece (line 170); row 3 is still exported.
        const qsizetype columnsForBody = Worksheet::kColumnCount - 6 + 1;
        addRow(1, QString(SendToExcel::kPieceLength * (columnsForBody + 1) + 5, u'x'), true);
        addRow(2, QString(SendToExcel::kPieceLength * columnsForBody + 500, u'y'), true);
        addRow(3, QStringLiteral("body 3"), true);
        m_export->PushButton4_Click();

        const QStringList errors = m_boxes->errorBoxes();
        QCOMPARE(errorLines(errors), (QList<int>{164, 170}));
        QVERIFY2(errors[0].contains(QStringLiteral("16385")), qPrintable(errors[0]));
        QCOMPARE(m_boxes->texts().last(), kDone);
        const Worksheet* sheet = m_factory->lastSheet();
        QCOMPARE(sheet->value(2, Worksheet::kColumnCount), QString(SendToExcel::kPieceLength, u'x'));
        QCOMPARE(sheet->value(3, Worksheet::kColumnCount), QString(SendToExcel::kPieceLength, u'y'));
        QCOMPARE(sheet->value(4, 6), QStringLiteral("body 3"));
        QCOMPARE(m_desktop->opened.size(), 1);
        QVERIFY(QFileInfo(lastFile()).size() > 0);
    }

    void theExportYieldsBeforeEachHeaderCellRowAndColumn()
    {
        addRow(1, QStringLiteral("unchecked"), false);
        addRow(2, body(3000), true);  // three pieces, no yield between them
        YieldProbe probe([&] {
            const Worksheet* sheet = m_factory->lastSheet();
            return QStringLiteral("%1 cells, pointer %2")
                .arg(sheet ? sheet->cellCount() : -1)
                .arg(m_pointer->value());
        });
        m_export->PushButton4_Click();

        QStringList expected;
        for (int cells : {0, 1, 2, 3, 4, 5, /* rows */ 6, 6, /* columns of row 2 */ 6, 7, 8, 9, 10})
            expected.append(QStringLiteral("%1 cells, pointer 11").arg(cells));
        QCOMPARE(probe.seen, expected);
        QCOMPARE(m_factory->lastSheet()->cellCount(), qsizetype(6 + 5 + 3));
    }
};

QTEST_GUILESS_MAIN(TestSendToExcel)
#include "tst_sendtoexcel.moc"
