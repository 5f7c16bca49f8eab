// Click storms: while a retrieval reads a slow mailbox, a seeded random user clicks every button
// of the main window, toggles row check boxes, picks folders and answers the range dialog and
// the larger list window as they come up. Afterwards the window must be back at rest and work
// normally, and no box may report anything but what such a storm can legitimately cause.
//
// Clicks go through the window system, as real mouse clicks do: a click lands on whatever
// control lies under the pointer (the widened Stop button covers "2b. Get Some Emails"), clicks
// on the main window are swallowed while a modal window is open, and the mouse moves that lead
// to a click run the hover rules. Each click is scheduled by a single-shot timer set before the
// previous click runs, so clicks keep coming while earlier handlers are suspended in their
// yields and in the IMAP component's waits.
//
// CORVANEL_STORM_SEEDS and CORVANEL_STORM_CLICKS widen the storm (defaults 20 and 60);
// CORVANEL_STORM_VERBOSE prints every seed's actions and boxes.
#define QTEST_QPA_MOUSE_HANDLING

#include "frame/ErrorTail.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RetrievalFlow.h"
#include "support/FakeMailbox.h"
#include "support/MailboxWindowFixture.h"
#include "support/MessageGenerator.h"
#include "support/ServerErrors.h"
#include "support/TestCertificates.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form4.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>

namespace {

constexpr int kInboxMessages = 30;
const QString kGetAll = QStringLiteral("2a. Get All Emails");
const QString kGetSome = QStringLiteral("2b. Get Some Emails");

int fromEnvironment(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// The texts of plain boxes (OK only) that a storm may bring up.
bool expectedPlainBox(const QString& text)
{
    static const QStringList fixed{
        QStringLiteral("Done."),
        QStringLiteral("Please connect first (Step 1) before using this feature."),
        QStringLiteral("There are no emails in the Folder you selected."),
        QStringLiteral("There are 0 emails in the Folder you selected."),
        QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n"),
        // The mailbox has no "Junk".
        QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n"
                       "The folder \"Junk\" does not exist on this server."),
        // A click that disconnected or reconnected the shared component meanwhile.
        QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n"
                       "There is no connection to the server localhost."),
        QStringLiteral("Connection failed. Check username and password."),
        QStringLiteral("Please input a value greater than zero."),
    };
    return fixed.contains(text) ||
           text.startsWith(
               QStringLiteral("Please input max value greater than 0 and less than or equal to ")) ||
           text.startsWith(QStringLiteral("Having problems connecting?")) ||
           // After "Done.", when a connection that a click closed or replaced left messages unread.
           QRegularExpression(QStringLiteral("^\\d+ messages? could not be read: number"))
               .match(text)
               .hasMatch();
}

// "Subscript out of range" boxes that follow from rows vanishing while a handler yields: the
// main window's "Check All" (at its setting of a row) and the export (at the rows it reads).
// Rows vanish under them through "Clear List", "Disconnect" or a new retrieval.
bool vanishedRowBox(const QString& text)
{
    static const QStringList places{
        QStringLiteral("in Tessaline2021/08/31.Form1.PushButton5_Click at line 116"),
        QStringLiteral("in Tessaline2021/08/31.Form1.PushButton4_Click at line 122"),
        QStringLiteral("in Tessaline2021/08/31.Form1.PushButton4_Click at line 130"),
        QStringLiteral("in Tessaline2021/08/31.Form1.PushButton4_Click at line 158"),
    };
    if (!text.startsWith(QStringLiteral("Subscript out of range\r\n")))
        return false;
    for (const QString& place : places)
        if (text.contains(place + QStringLiteral("\r\r")))
            return true;
    return false;
}

// A record write of the row handler outside the store's positions (lines 138-150, or 108-120
// with a filter).
bool storeWriteBox(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^Subscript out of range\r\nin "
                       "Tessaline2021/08/31\\.Form1\\.oChilkat_MailExtractListing at line (\\d+)\r\r"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    const int line = match.captured(1).toInt();
    return line % 2 == 0 && ((line >= 138 && line <= 150) || (line >= 108 && line <= 120));
}

// The random user.
class ClickStorm : public QObject {
public:
    ClickStorm(MailboxWindowFixture& rig, quint32 seed, int clicks)
        : m_rig(rig)
        , f(*rig.w.form)
        , m_rng(seed)
        , m_budget(clicks)
    {
        // Some clicks come right as a row arrives, in the row handler's own yield.
        connect(&f.list(), &MessageListModel::rowAdded, this, [this] {
            if (f.list().count() > f.mailStore().size())
                ++rowsBeyondStore;
            if (m_issued < m_budget && m_rng.bounded(4) == 0)
                QTimer::singleShot(0, this, [this] { issue(false); });
        });
        rig.w.boxes.onShow = [this](const ScriptedMessageBoxes::Shown& shown) {
            if (shown.kind != ScriptedMessageBoxes::Shown::Kind::Prompt)
                return;
            static const QStringList answers{QString(), QStringLiteral("message 1"), QStringLiteral("SENDER"),
                                             QStringLiteral("nothing like it"), QStringLiteral("2026")};
            m_rig.w.boxes.answerPrompt(answers.at(int(m_rng.bounded(answers.size()))));
        };
    }

    void start()
    {
        QTimer::singleShot(0, this, [this] { issue(true, QStringLiteral("first Get All")); });
    }

    // Every click has been made, every window it opened is closed and every handler it started
    // has returned.
    bool finished() const { return m_finished; }
    int clicksMade() const { return m_issued; }
    int clicksDuringRetrievals() const { return m_duringRetrievals; }
    QString recentActions(int n = 40) const
    {
        return m_log.mid(qMax(0, m_log.size() - n)).join(QLatin1Char('\n'));
    }

    int rowsBeyondStore = 0;

private:
    // One click of the budget; `chain` schedules the next one first, so that it can come while
    // this one's handler is still running.
    void issue(bool chain, const QString& forced = QString())
    {
        if (m_issued >= m_budget) {
            if (chain)
                drain();
            return;
        }
        ++m_issued;
        if (chain)
            QTimer::singleShot(nextDelay(), this, [this] { issue(true); });
        ++m_active;
        if (f.retrieval().isRunning())
            ++m_duringRetrievals;
        if (!forced.isEmpty()) {
            log(forced);
            click(f.PushButton3);
        } else {
            act();
        }
        --m_active;
    }

    int nextDelay()
    {
        // Mostly quick bursts, now and then a pause long enough for a retrieval to get on.
        return m_rng.bounded(10) == 0 ? int(m_rng.bounded(40, 160)) : int(m_rng.bounded(1, 16));
    }

    // After the budget: closes whatever modal window is still open until nothing runs any more.
    void drain()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal == f.rangeDialog().window()) {
            log(QStringLiteral("drain: close the range dialog"));
            modal->close();
        } else if (auto* larger = qobject_cast<Form4*>(modal)) {
            log(QStringLiteral("drain: close the larger window"));
            larger->close();
        }
        if (m_active > 0 || QApplication::activeModalWidget() || f.retrieval().isRunning())
            QTimer::singleShot(5, this, [this] { drain(); });
        else
            m_finished = true;
    }

    void log(const QString& what)
    {
        m_log.append(QStringLiteral("%1 [rows %2, store %3, %4%5] %6")
                         .arg(m_issued)
                         .arg(f.list().count())
                         .arg(f.mailStore().size())
                         .arg(f.PushButton3->text())
                         .arg(f.retrieval().isRunning() ? QStringLiteral(", running") : QString())
                         .arg(what));
    }

    void click(QWidget* target)
    {
        if (!target)
            return;
        // A point inside the part of the control that lies within its window, as a hand would
        // hit it; a control laid out beyond the window's edge cannot be clicked.
        const QWidget* window = target->window();
        if (!window->windowHandle() || !window->isVisible())
            return log(QStringLiteral("(not shown)"));
        const QRect inWindow(target->mapTo(window, QPoint(0, 0)), target->size());
        const QRect reachable = inWindow.intersected(QRect(QPoint(), window->windowHandle()->size()));
        const QRect r =
            QRect(target->mapFrom(window, reachable.topLeft()), reachable.size()).adjusted(2, 2, -2, -2);
        if (r.width() <= 0 || r.height() <= 0) {
            log(QStringLiteral("(out of reach)"));
            return;
        }
        const QPoint at(r.left() + int(m_rng.bounded(qMax(1, r.width()))),
                        r.top() + int(m_rng.bounded(qMax(1, r.height()))));
        // Window coordinates: the platform may place the window elsewhere than the widget believes.
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, target->mapTo(window, at));
    }

    // A user's click on a row's check box.
    void toggleRow(MessageListModel& list, const QString& window)
    {
        const int n = list.rowCount(); // the rows in the view
        if (n == 0)
            return;
        const int k = 1 + int(m_rng.bounded(n));
        const bool checked = list.isChecked(k);
        log(QStringLiteral("%1 row %2 %3").arg(window).arg(k).arg(checked ? "unchecked" : "checked"));
        list.setData(list.index(k - 1, 0), checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }

    void act()
    {
        QWidget* modal = QApplication::activeModalWidget();
        // Now and then the user clicks the main window although a modal window covers it.
        if (modal && m_rng.bounded(8) != 0) {
            if (modal == f.rangeDialog().window())
                return actOnRangeDialog(f.rangeDialog());
            // A larger window opened while another one was still being shown lies above it.
            if (auto* larger = qobject_cast<Form4*>(modal))
                return actOnLargerWindow(*larger);
        }
        actOnMainWindow(modal != nullptr || f.inputBlocked);
    }

    void actOnMainWindow(bool blocked)
    {
        struct Choice {
            int weight;
            const char* name;
            QWidget* target;
        };
        // While a retrieval runs the Stop button is hit less often, so that most clicks land in
        // the middle of running retrievals rather than after them.
        const bool running = f.retrieval().isRunning();
        const Choice choices[] = {
            {f.connection().isConnected() ? 2 : 10, "1. Connect / Disconnect", f.PushButton1},
            {running ? 3 : 12, "2a / Stop", f.PushButton3},
            {running ? 2 : 6, "2b", f.PushButton2},
            {4, "larger view", f.PushButton8},
            {3, "Check All", f.PushButton5},
            {3, "Uncheck All", f.PushButton6},
            {3, "Clear List", f.PushButton7},
            {2, "Check Emails Containing...", f.PushButton9},
            {2, "Check Emails Not Containing...", f.PushButton10},
            {3, "3. Send To Excel", f.PushButton4},
            {1, "Help", f.PushButton11},
            {3, "Inbox", f.Option3},
            {1, "Drafts", f.Option5},
            {1, "Sent", f.Option6},
            {1, "Junk", f.Option7},
            {1, "Deleted", f.Option9},
            {9, "row check box", nullptr},
        };
        int total = 0;
        for (const Choice& c : choices)
            total += c.weight;
        int pick = int(m_rng.bounded(total));
        for (const Choice& c : choices) {
            if (pick >= c.weight) {
                pick -= c.weight;
                continue;
            }
            if (!c.target) {
                if (!blocked)
                    toggleRow(f.list(), QStringLiteral("main"));
                return;
            }
            log(QString::fromLatin1(c.name) +
                (blocked ? QStringLiteral(" (under a modal window)") : QString()));
            click(c.target);
            return;
        }
    }

    void actOnRangeDialog(Form2& dialog)
    {
        const int max = dialog.MaxMessage();
        const int roll = int(m_rng.bounded(20));
        if (roll < 9) {
            const int first = 1 + int(m_rng.bounded(qMax(1, max)));
            int last = first + int(m_rng.bounded(qMax(1, max - first + 1)));
            if (roll == 0)
                last = qMax(1, first - 1); // first after last: nothing is read
            dialog.Text1[0]->setText(QString::number(first));
            dialog.Text1[1]->setText(QString::number(last));
            log(QStringLiteral("range %1 to %2, Continue").arg(first).arg(last));
            click(m_rng.bounded(2) ? dialog.PushButton1 : dialog.Command1);
        } else if (roll < 13) {
            static const QStringList firsts{QStringLiteral("0"), QStringLiteral("abc"), QStringLiteral("2")};
            const QString first = firsts.at(int(m_rng.bounded(firsts.size())));
            const QString last = QString::number(max + 1 + int(m_rng.bounded(3)));
            dialog.Text1[0]->setText(first);
            dialog.Text1[1]->setText(last);
            log(QStringLiteral("bad range %1 to %2, Continue").arg(first, last));
            click(dialog.PushButton1);
        } else {
            log(QStringLiteral("close the range dialog"));
            dialog.window()->close();
        }
    }

    void actOnLargerWindow(Form4& window)
    {
        struct Choice {
            int weight;
            const char* name;
            QWidget* target;
        };
        const Choice choices[] = {
            {6, "row check box", nullptr},
            {2, "Form4 Check All", window.PushButton5},
            {2, "Form4 Uncheck All", window.PushButton6},
            {1, "Form4 Clear List", window.PushButton7},
            {2, "Form4 Check Emails Containing...", window.PushButton9},
            {2, "Form4 Check Emails Not Containing...", window.PushButton10},
            {1, "Form4 Maximize This Window", window.PushButton1},
            {3, "Form4 < Back", window.PushButton4},
            {2, "Form4 close box", &window},
        };
        int total = 0;
        for (const Choice& c : choices)
            total += c.weight;
        int pick = int(m_rng.bounded(total));
        for (const Choice& c : choices) {
            if (pick >= c.weight) {
                pick -= c.weight;
                continue;
            }
            if (!c.target)
                return toggleRow(window.list(), QStringLiteral("Form4"));
            log(QString::fromLatin1(c.name));
            if (c.target == &window)
                window.close();
            else
                click(c.target);
            return;
        }
    }

    MailboxWindowFixture& m_rig;
    Form1& f;
    QRandomGenerator m_rng;
    int m_budget;
    int m_issued = 0;
    int m_active = 0;
    int m_duringRetrievals = 0;
    bool m_finished = false;
    QStringList m_log;
};

} // namespace

class TestClickStorm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void boxesAreToldApart();
    void storm_data();
    void storm();
    void cleanupTestCase();

private:
    std::unique_ptr<TestCertificates> m_certificates;
    QTemporaryDir m_temp;
    QElapsedTimer m_clock;
    int m_clicks = 0;
};

void TestClickStorm::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    m_certificates = std::make_unique<TestCertificates>();
    QVERIFY2(m_certificates->ok(), qPrintable(m_certificates->errorText()));
    // The error log and the exported workbooks go to the temporary folder.
    QVERIFY(m_temp.isValid());
    qputenv("TEMP", QFile::encodeName(m_temp.path()));
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    m_clock.start();
}

// The storm's judgement of the boxes, on the texts the error tail really writes.
void TestClickStorm::boxesAreToldApart()
{
    const auto box = [](const QString& description, const QString& handler, int line) {
        return ErrorTail::message(description, ErrorTail::locationText(QStringLiteral("Form1"), handler),
                                  line);
    };
    const QString subscript = QStringLiteral("Subscript out of range");
    QVERIFY(storeWriteBox(box(subscript, QStringLiteral("oChilkat_MailExtractListing"), 138)));
    QVERIFY(storeWriteBox(box(subscript, QStringLiteral("oChilkat_MailExtractListing"), 120)));
    QVERIFY(!storeWriteBox(box(subscript, QStringLiteral("oChilkat_MailExtractListing"), 152)));
    QVERIFY(!storeWriteBox(box(subscript, QStringLiteral("oChilkat_MailExtractListing"), 1380)));
    QVERIFY(!storeWriteBox(
        box(QStringLiteral("Type mismatch"), QStringLiteral("oChilkat_MailExtractListing"), 140)));
    QVERIFY(vanishedRowBox(box(subscript, QStringLiteral("PushButton5_Click"), 116)));
    QVERIFY(vanishedRowBox(box(subscript, QStringLiteral("PushButton4_Click"), 158)));
    QVERIFY(!vanishedRowBox(box(subscript, QStringLiteral("PushButton4_Click"), 160)));
    QVERIFY(!vanishedRowBox(box(subscript, QStringLiteral("PushButton4_Click"), 1220)));
    QVERIFY(!vanishedRowBox(box(QStringLiteral("Object variable or With block variable not set"),
                                QStringLiteral("PushButton5_Click"), 116)));
    QVERIFY(expectedPlainBox(QStringLiteral("Done.")));
    QVERIFY(!expectedPlainBox(QStringLiteral("Done")));
}

void TestClickStorm::storm_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("clicks");
    const int seeds = fromEnvironment("CORVANEL_STORM_SEEDS", 20);
    const int clicks = fromEnvironment("CORVANEL_STORM_CLICKS", 60);
    for (int s = 1; s <= seeds; ++s)
        QTest::addRow("seed %d", s) << quint32(s) << clicks;
}

void TestClickStorm::storm()
{
    QFETCH(quint32, seed);
    QFETCH(int, clicks);
    // Every other seed the mailbox is slow to answer anything, not only to deliver messages, so
    // that more clicks land while connecting, logging in and counting.
    MailboxWindowFixture rig(*m_certificates, kInboxMessages, seed % 2 == 1);
    Form1& f = *rig.w.form;
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QVERIFY(rig.connect());
    rig.w.boxes.clear();

    ClickStorm storm(rig, seed, clicks);
    // A storm that cannot end is stuck somewhere below the test's own wait: say where it stood.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&] {
        std::fprintf(stderr, "Seed %u hangs. Last actions:\n%s\n", seed, qPrintable(storm.recentActions()));
        qFatal("click storm hangs");
    });
    watchdog.start(120000);
    storm.start();
    QTRY_VERIFY_WITH_TIMEOUT(storm.finished(), 110000);
    watchdog.stop();
    m_clicks += storm.clicksMade();
    // The storm did what it is for: clicks came while retrievals were running.
    QVERIFY(storm.clicksDuringRetrievals() > 0);
    const QString context = QStringLiteral("\nLast actions:\n") + storm.recentActions();

    // Back at rest.
    QVERIFY2(!f.retrieval().isRunning(), qPrintable(context));
    QVERIFY2(!QApplication::activeModalWidget(), qPrintable(context));
    QCOMPARE(f.PushButton3->text(), kGetAll);
    QCOMPARE(f.PushButton2->text(), kGetSome);
    QVERIFY(!f.PushButton2->isHidden());
    QCOMPARE(Form1::widthTwips(f.PushButton3), 3840);
    QCOMPARE(Form1::widthTwips(f.PushButton2), 3840);
    QCOMPARE(f.ProgressBar1->value(), 0);
    // The last click may have left the hand over a button; the hourglass must be gone.
    QVERIFY2(!f.pointer.isBusy(), qPrintable(context));
    QTest::mouseMove(&f, QPoint(3, 3));
    QCOMPARE(f.pointer.value(), 0);

    // The counts say what the list holds.
    f.counts().UpdateEmailCounts(false);
    int checked = 0;
    for (int k = 1; k <= f.list().count(); ++k)
        checked += f.list().isChecked(k) ? 1 : 0;
    QCOMPARE(f.Label1->text(), QStringLiteral("Total Number Of Emails: %1").arg(f.list().count()));
    QCOMPARE(f.Label2->text(), QStringLiteral("Selected Emails: %1").arg(checked));

    if (qEnvironmentVariableIsSet("CORVANEL_STORM_VERBOSE")) {
        std::fprintf(stderr, "seed %u actions:\n%s\nboxes:\n", seed, qPrintable(storm.recentActions(100000)));
        for (const auto& shown : rig.w.boxes.shown())
            std::fprintf(stderr, "  %s\n",
                         qPrintable(shown.text.left(120).replace(QLatin1Char('\r'), QLatin1Char('|'))));
    }

    // Only boxes the storm can legitimately bring up.
    int storeWrites = 0;
    for (const auto& shown : rig.w.boxes.shown()) {
        if (shown.kind != ScriptedMessageBoxes::Shown::Kind::Box)
            continue;
        if (shown.title == QLatin1String("Application Error")) {
            if (storeWriteBox(shown.text)) {
                ++storeWrites;
                continue;
            }
            QVERIFY2(vanishedRowBox(shown.text), qPrintable(shown.text + context));
        } else {
            QVERIFY2(expectedPlainBox(shown.text), qPrintable(shown.text + context));
        }
    }
    // A row added beyond the store's positions would make its seven record writes fail. Here
    // the list never legitimately outgrows the store: every retrieval empties the list before it
    // recreates the store for the messages it reads, and only the running retrieval's session
    // adds rows. So neither the rows nor their boxes may appear.
    QVERIFY2(storm.rowsBeyondStore == 0 && storeWrites == 0,
             qPrintable(QStringLiteral("%1 rows beyond the store, %2 record writes outside it")
                            .arg(storm.rowsBeyondStore)
                            .arg(storeWrites) +
                        context));
    QVERIFY2(rig.mailbox.protocolErrors().isEmpty(), qPrintable(rig.mailbox.protocolErrors().join('\n')));
    VERIFY_NO_SERVER_ERRORS(rig.server);

    // And a plain Get All works again.
    rig.w.boxes.clear();
    if (f.PushButton1->text() != QLatin1String("Disconnect"))
        QVERIFY(rig.connect());
    f.Option3->setChecked(true);
    f.PushButton3->click();
    QCOMPARE(rig.w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(f.list().count(), kInboxMessages);
    QCOMPARE(f.mailStore().size(), kInboxMessages);
    for (int k = 1; k <= kInboxMessages; ++k) {
        QCOMPARE(f.list().subItem(k, 3), MessageGenerator::plainSubject(k));
        QCOMPARE(f.mailStore().at(k).Subject, MessageGenerator::plainSubject(k));
        QCOMPARE(f.mailStore().at(k).PlainTextBody, MessageGenerator::plainBody(k) + QStringLiteral("\r\n"));
    }
    QCOMPARE(f.Label1->text(), QStringLiteral("Total Number Of Emails: %1").arg(kInboxMessages));
    QCOMPARE(f.PushButton3->text(), kGetAll);
    QCOMPARE(f.pointer.value(), 0);
    QVERIFY(!f.oChilkat());
    qInfo("seed %u: %d clicks, %d during retrievals, %lld ms since the first seed", seed, storm.clicksMade(),
          storm.clicksDuringRetrievals(), m_clock.elapsed());
}

void TestClickStorm::cleanupTestCase()
{
    qInfo("%d clicks in %lld ms", m_clicks, m_clock.elapsed());
}

QTEST_MAIN(TestClickStorm)
#include "tst_clickstorm.moc"
