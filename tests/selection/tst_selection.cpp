#include "frame/AppTitle.h"
#include "frame/MousePointer.h"
#include "frame/VbError.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "selection/SelectionOperations.h"

#include "support/ScriptedMessageBoxes.h"

#include <QAbstractItemModelTester>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
struct RowTexts {
    QString from, fromName, fromAddress, subject, received, recDate;
};

// One list window: its list, its count labels and its flag. The model tester watches the
// list unless it is made huge: the tester walks the whole model again on every change.
struct ListWindow {
    MessageListModel list;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QString total = QStringLiteral("(untouched)");
    QString selected = QStringLiteral("(untouched)");
    bool failLabels = false; // the label setters raise, to provoke a failure in the count refresh
    EmailCounts counts{list, [this](const QString& t) { setLabel(total, t); },
                       [this](const QString& t) { setLabel(selected, t); }};
    bool RuleCheckDone = false;

    ListWindow() {
        for (const char* caption :
             {"From", "From Name", "From Address", "Subject", "Received Date", "RecDate"})
            list.addColumn(QString::fromLatin1(caption));
        tester = std::make_unique<QAbstractItemModelTester>(
            &list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    void setLabel(QString& label, const QString& text) {
        if (failLabels)
            throw VbError::objectNotSet();
        label = text;
    }
    int add(const RowTexts& r, bool checked = false) {
        const int k = list.add(r.from);
        const QString subs[] = {r.fromName, r.fromAddress, r.subject, r.received, r.recDate};
        for (int i = 1; i <= 5; ++i)
            list.setSubItem(k, i, subs[i - 1]);
        list.setChecked(k, checked);
        return k;
    }
    int addPlain(int number, bool checked = false) {
        return add({QStringLiteral("Sender %1").arg(number), QStringLiteral("Name"),
                    QStringLiteral("a@b.example"), QStringLiteral("Subject %1").arg(number),
                    QStringLiteral("01/02/2026 10:00:00"), QStringLiteral("46023")},
                   checked);
    }
    QList<bool> checks() const {
        QList<bool> result;
        for (int k = 1; k <= list.count(); ++k)
            result.append(list.isChecked(k));
        return result;
    }
};

} // namespace

Q_DECLARE_METATYPE(RowTexts)

namespace {
QString locationLine(const QString& window, const QString& handler, int line) {
    return QStringLiteral("in Tessaline2021/08/31.%1.%2 at line %3").arg(window, handler).arg(line);
}
} // namespace

class TestSelection : public QObject {
    Q_OBJECT

private:
    ScriptedMessageBoxes boxes;
    MousePointer pointer;
    std::unique_ptr<ListWindow> main, larger;
    std::unique_ptr<SelectionOperations> mainOps, largerOps;

    SelectionOperations& ops(bool inLarger) { return inLarger ? *largerOps : *mainOps; }
    ListWindow& window(bool inLarger) { return inLarger ? *larger : *main; }

private Q_SLOTS:
    void init() {
        AppTitle::set(QStringLiteral("Corvanel"));
        boxes.clear();
        pointer.set(MousePointer::Default);
        main = std::make_unique<ListWindow>();
        larger = std::make_unique<ListWindow>();
        mainOps = std::make_unique<SelectionOperations>(main->list, main->counts, main->RuleCheckDone, boxes,
                                                        SelectionOperations::mainWindow(pointer));
        largerOps =
            std::make_unique<SelectionOperations>(larger->list, larger->counts, larger->RuleCheckDone, boxes,
                                                  SelectionOperations::largerWindow(main->list));
    }
    void cleanup() {
        mainOps.reset();
        largerOps.reset();
        larger.reset();
        main.reset();
    }

    void bothWindows_data() {
        QTest::addColumn<bool>("inLarger");
        QTest::newRow("Form1") << false;
        QTest::newRow("Form4") << true;
    }

    // Rows 1..5 checked, flag false, only row 3 matches: rows before the first match are
    // cleared, later non-matching rows keep their checks; a second pass only adds.
    void ruleCheckClearsUpToTheFirstMatch_data() { bothWindows_data(); }
    void ruleCheckClearsUpToTheFirstMatch() {
        QFETCH(bool, inLarger);
        ListWindow& w = window(inLarger);
        for (int i = 1; i <= 5; ++i)
            w.addPlain(i, true);
        w.list.setSubItem(3, 3, QStringLiteral("Quarterly report"));
        w.list.setText(1, QStringLiteral("boss@company.example"));

        boxes.answerPrompt(QStringLiteral("report"));
        ops(inLarger).PushButton9_Click();
        QCOMPARE(w.checks(), (QList<bool>{false, false, true, true, true}));
        QVERIFY(w.RuleCheckDone);
        QCOMPARE(w.selected, QStringLiteral("Selected Emails: 3"));

        boxes.answerPrompt(QStringLiteral("BOSS"));
        ops(inLarger).PushButton9_Click();
        QCOMPARE(w.checks(), (QList<bool>{true, false, true, true, true}));
        QVERIFY(w.RuleCheckDone);
        QCOMPARE(w.selected, QStringLiteral("Selected Emails: 4"));
        QVERIFY(boxes.errorBoxes().isEmpty());
    }

    // Which columns are searched, for both rule checks (X = "Invoice").
    void searchedColumns_data() {
        QTest::addColumn<RowTexts>("row");
        QTest::addColumn<bool>("contains");
        const QString n = QStringLiteral("x");
        QTest::newRow("subject in capitals") << RowTexts{n, n, n, QStringLiteral("INVOICE 42"), n, n} << true;
        QTest::newRow("From text") << RowTexts{QStringLiteral("invoices@shop.example"), n, n, n, n, n}
                                   << true;
        QTest::newRow("received date") << RowTexts{n, n, n, n, QStringLiteral("Invoice day"), n} << true;
        QTest::newRow("From Name only") << RowTexts{n, QStringLiteral("Invoice Desk"), n, n, n, n} << false;
        QTest::newRow("From Address only")
            << RowTexts{n, n, QStringLiteral("invoice@x.example"), n, n, n} << false;
        QTest::newRow("RecDate only") << RowTexts{n, n, n, n, n, QStringLiteral("invoice")} << false;
        QTest::newRow("split by a space") << RowTexts{n, n, n, QStringLiteral("In voice"), n, n} << false;
        QTest::newRow("all empty") << RowTexts{} << false;
        QTest::newRow("at the very end") << RowTexts{n, n, n, QStringLiteral("Your INVOICE"), n, n} << true;
        QTest::newRow("shorter than X") << RowTexts{QStringLiteral("INVOIC"), n, n, n, n, n} << false;
        QTest::newRow("non-ASCII text")
            << RowTexts{n, n, n, QStringLiteral("Ihre Rechnung (iNVOICE) für März"), n, n} << true;
        QTest::newRow("full-width letters are others")
            << RowTexts{n, n, n, QStringLiteral("\uFF29\uFF2E\uFF36\uFF2F\uFF29\uFF23\uFF25"), n, n} << false;
    }
    void searchedColumns() {
        QFETCH(RowTexts, row);
        QFETCH(bool, contains);
        main->add(row);
        boxes.answerPrompt(QStringLiteral("Invoice"));
        mainOps->PushButton9_Click();
        QCOMPARE(main->list.isChecked(1), contains);
        QCOMPARE(main->RuleCheckDone, contains);

        main->RuleCheckDone = false;
        boxes.answerPrompt(QStringLiteral("Invoice"));
        mainOps->PushButton10_Click();
        QCOMPARE(main->list.isChecked(1), !contains);
        QCOMPARE(main->RuleCheckDone, !contains);
    }

    // An empty X (or a cancelled prompt) is in every non-empty searched text; a row whose
    // three searched texts are all empty does not contain it.
    void emptyX() {
        main->addPlain(1);
        main->add({QString(), QStringLiteral("Name only"), QStringLiteral("a@b.example"), QString(),
                   QString(), QStringLiteral("46023")});
        main->add({QString(), QString(), QString(), QStringLiteral("S"), QString(), QString()});

        mainOps->PushButton9_Click(); // no answer queued: the prompt was cancelled
        QCOMPARE(main->checks(), (QList<bool>{true, false, true}));
        QVERIFY(main->RuleCheckDone);

        // Row 1 is cleared and does not match; row 2 matches and sets the flag, so row 3
        // keeps its check although it does not match.
        main->RuleCheckDone = false;
        mainOps->PushButton10_Click();
        QCOMPARE(main->checks(), (QList<bool>{false, true, true}));
        QVERIFY(main->RuleCheckDone);
    }

    // Every row has a searched text: "Not Containing" an empty X clears all, flag stays false.
    void notContainingEmptyXClearsEverything() {
        for (int i = 1; i <= 3; ++i)
            main->addPlain(i, true);
        boxes.answerPrompt(QString());
        mainOps->PushButton10_Click();
        QCOMPARE(main->checks(), (QList<bool>{false, false, false}));
        QVERIFY(!main->RuleCheckDone);
        QCOMPARE(main->selected, QStringLiteral("Selected Emails: 0"));
    }

    void promptAndEmptyList_data() { bothWindows_data(); }
    void promptAndEmptyList() {
        QFETCH(bool, inLarger);
        AppTitle::set(QStringLiteral("Corvanel Title"));
        SelectionOperations& o = ops(inLarger);
        o.PushButton9_Click();
        o.PushButton10_Click();
        QCOMPARE(boxes.shown().size(), 2);
        for (const auto& shown : boxes.shown()) {
            QCOMPARE(shown.kind, ScriptedMessageBoxes::Shown::Kind::Prompt);
            QCOMPARE(shown.text, QStringLiteral("Enter X:"));
            QCOMPARE(shown.title, QStringLiteral("Corvanel Title"));
        }
        o.PushButton5_Click();
        o.PushButton6_Click();
        o.PushButton7_Click();
        QCOMPARE(window(inLarger).total, QStringLiteral("Total Number Of Emails: 0"));
        QCOMPARE(window(inLarger).selected, QStringLiteral("Selected Emails: 0"));
        QVERIFY(boxes.errorBoxes().isEmpty());
    }

    void checkAllAndUncheckAll_data() { bothWindows_data(); }
    void checkAllAndUncheckAll() {
        QFETCH(bool, inLarger);
        ListWindow& w = window(inLarger);
        for (int i = 1; i <= 4; ++i)
            w.addPlain(i, i == 2);
        w.RuleCheckDone = true;
        ops(inLarger).PushButton5_Click();
        QCOMPARE(w.checks(), (QList<bool>{true, true, true, true}));
        QCOMPARE(w.total, QStringLiteral("Total Number Of Emails: 4"));
        QCOMPARE(w.selected, QStringLiteral("Selected Emails: 4"));
        QVERIFY(!w.RuleCheckDone);

        w.RuleCheckDone = true;
        ops(inLarger).PushButton6_Click();
        QCOMPARE(w.checks(), (QList<bool>{false, false, false, false}));
        QCOMPARE(w.total, QStringLiteral("Total Number Of Emails: 4"));
        QCOMPARE(w.selected, QStringLiteral("Selected Emails: 0"));
        QVERIFY(!w.RuleCheckDone);
        QVERIFY(boxes.errorBoxes().isEmpty());
    }

    // Only the main window lets pending events run before each row of "Check All".
    void checkAllYieldsOnlyInTheMainWindow_data() { bothWindows_data(); }
    void checkAllYieldsOnlyInTheMainWindow() {
        QFETCH(bool, inLarger);
        ListWindow& w = window(inLarger);
        w.addPlain(1);
        w.addPlain(2);
        bool firstRowCheckedWhenEventRan = false;
        QTimer::singleShot(0, this, [&] { firstRowCheckedWhenEventRan = w.list.isChecked(1); });
        ops(inLarger).PushButton5_Click();
        // In the larger window the event waits for the count refresh, after every row is checked.
        QCOMPARE(firstRowCheckedWhenEventRan, inLarger);
    }

    void mainClearList() {
        main->addPlain(1, true);
        main->addPlain(2);
        main->RuleCheckDone = true;
        pointer.set(MousePointer::Hourglass);
        mainOps->PushButton7_Click();
        QCOMPARE(main->list.count(), 2);
        QCOMPARE(main->total, QStringLiteral("Total Number Of Emails: 0"));
        QCOMPARE(main->selected, QStringLiteral("Selected Emails: 0"));

        pointer.set(MousePointer::Custom);
        mainOps->PushButton7_Click();
        QCOMPARE(main->list.count(), 0);
        QVERIFY(main->RuleCheckDone);
        QVERIFY(boxes.errorBoxes().isEmpty());
    }

    // The larger window empties both lists, whatever the main pointer shows, and leaves
    // the main window's labels as they were.
    void largerClearList() {
        for (int i = 1; i <= 3; ++i) {
            main->addPlain(i, i == 1);
            larger->addPlain(i, i == 1);
        }
        main->counts.UpdateEmailCounts(false);
        pointer.set(MousePointer::Hourglass);
        larger->RuleCheckDone = true;
        largerOps->PushButton7_Click();
        QCOMPARE(larger->list.count(), 0);
        QCOMPARE(main->list.count(), 0);
        QCOMPARE(larger->total, QStringLiteral("Total Number Of Emails: 0"));
        QCOMPARE(larger->selected, QStringLiteral("Selected Emails: 0"));
        QCOMPARE(main->total, QStringLiteral("Total Number Of Emails: 3"));
        QCOMPARE(main->selected, QStringLiteral("Selected Emails: 1"));
        QVERIFY(larger->RuleCheckDone);
    }

    // "Clear List" runs inside the first yield of the main "Check All": every position is
    // gone, each is reported at line 116, and the handler finishes.
    void clearListDuringCheckAll() {
        for (int i = 1; i <= 3; ++i)
            main->addPlain(i);
        QTimer::singleShot(0, this, [&] { mainOps->PushButton7_Click(); });
        main->RuleCheckDone = true;
        mainOps->PushButton5_Click();
        const QStringList errors = boxes.errorBoxes();
        QCOMPARE(errors.size(), 3);
        for (const QString& e : errors) {
            QVERIFY2(e.startsWith(QStringLiteral("Subscript out of range\r\n")), qPrintable(e));
            QVERIFY(
                e.contains(locationLine(QStringLiteral("Form1"), QStringLiteral("PushButton5_Click"), 116)));
        }
        QCOMPARE(main->list.count(), 0);
        QCOMPARE(main->total, QStringLiteral("Total Number Of Emails: 0"));
        QVERIFY(!main->RuleCheckDone);
    }

    // Cleared after row 2 was checked: only positions 3 to 5 fail.
    void clearListMidwayThroughCheckAll() {
        for (int i = 1; i <= 5; ++i)
            main->addPlain(i);
        main->list.announce(); // the view hears of the checks below
        connect(&main->list, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex& index) {
            if (index.row() == 1 && main->list.count() == 5)
                QTimer::singleShot(0, this, [&] { mainOps->PushButton7_Click(); });
        });
        mainOps->PushButton5_Click();
        QCOMPARE(boxes.errorBoxes().size(), 3);
        QCOMPARE(main->list.count(), 0);
    }

    // A failure is reported at the statement's own number in each window, and the handler
    // goes on: the flag is still reset after a failing count refresh.
    void failureLines_data() {
        QTest::addColumn<bool>("inLarger");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("line");
        QTest::newRow("Form1 Check All") << false << 5 << 120;
        QTest::newRow("Form4 Check All") << true << 5 << 118;
        QTest::newRow("Form1 Uncheck All") << false << 6 << 106;
        QTest::newRow("Form4 Uncheck All") << true << 6 << 106;
        QTest::newRow("Form1 Clear List") << false << 7 << 200;
        QTest::newRow("Form4 Clear List") << true << 7 << 104;
        QTest::newRow("Form1 Containing") << false << 9 << 126;
        QTest::newRow("Form4 Not Containing") << true << 10 << 126;
    }
    void failureLines() {
        QFETCH(bool, inLarger);
        QFETCH(int, button);
        QFETCH(int, line);
        ListWindow& w = window(inLarger);
        w.addPlain(1);
        w.failLabels = true;
        w.RuleCheckDone = true;
        SelectionOperations& o = ops(inLarger);
        switch (button) {
        case 5:
            o.PushButton5_Click();
            break;
        case 6:
            o.PushButton6_Click();
            break;
        case 7:
            o.PushButton7_Click();
            break;
        case 9:
            o.PushButton9_Click();
            break;
        case 10:
            o.PushButton10_Click();
            break;
        }
        const QStringList errors = boxes.errorBoxes();
        QCOMPARE(errors.size(), 1);
        const QString handler = QStringLiteral("PushButton%1_Click").arg(button);
        QVERIFY2(errors.first().contains(locationLine(
                     inLarger ? QStringLiteral("Form4") : QStringLiteral("Form1"), handler, line)),
                 qPrintable(errors.first()));
        if (button == 5 || button == 6)
            QVERIFY(!w.RuleCheckDone);
    }

    // A check box changed by the user refreshes the counts and nothing else.
    void itemCheckRefreshesCounts() {
        main->addPlain(1);
        main->addPlain(2);
        main->list.announce(); // the row is in the view the user clicks
        main->RuleCheckDone = true;
        connect(&main->list, &MessageListModel::itemCheck, this,
                [&](int k) { mainOps->ListView1_ItemCheck(k); });
        QVERIFY(main->list.setData(main->list.index(1, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(main->total, QStringLiteral("Total Number Of Emails: 2"));
        QCOMPARE(main->selected, QStringLiteral("Selected Emails: 1"));
        QVERIFY(main->RuleCheckDone);
    }

    // Lists beyond 32,767 rows are walked whole by the rule checks.
    void fortyThousandRows() {
        main->tester.reset();
        const int n = 40000;
        for (int i = 1; i <= n; ++i)
            main->addPlain(i, true);
        main->list.setSubItem(39999, 3, QStringLiteral("the needle"));
        boxes.answerPrompt(QStringLiteral("NEEDLE"));
        mainOps->PushButton9_Click();
        QVERIFY(boxes.errorBoxes().isEmpty());
        QVERIFY(!main->list.isChecked(1));
        QVERIFY(!main->list.isChecked(32767));
        QVERIFY(!main->list.isChecked(32768));
        QVERIFY(main->list.isChecked(39999));
        QVERIFY(main->list.isChecked(40000));
        QCOMPARE(main->total, QStringLiteral("Total Number Of Emails: 40000"));
        QCOMPARE(main->selected, QStringLiteral("Selected Emails: 2"));

        boxes.answerPrompt(QStringLiteral("needle"));
        mainOps->PushButton10_Click();
        QCOMPARE(main->selected, QStringLiteral("Selected Emails: 40000"));
    }
};

QTEST_GUILESS_MAIN(TestSelection)
#include "tst_selection.moc"
