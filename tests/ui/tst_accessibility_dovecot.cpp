// The whole job as a screen-reader and keyboard user does it, against the private Dovecot: what
// the accessibility interfaces say about every window as the captions change, and the steps
// driven by keys into the focused widget only.
#include "retrieval/MessageListModel.h"
#include "selection/LargerListView.h"
#include "support/AccessibleView.h"
#include "support/DovecotHarness.h"
#include "support/MainWindowFixture.h"
#include "support/WhenModal.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form4.h"

#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

namespace {

const int kMessages = 12;

QByteArray message(int n)
{
    return QStringLiteral("From: Sender %1 <sender%1@example.org>\r\n"
                          "Subject: Message %1\r\n"
                          "Date: Mon, 07 Dec 2026 09:30:00 +0000\r\n"
                          "Message-ID: <k%1@example.org>\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "\r\nBody %1\r\n")
        .arg(n)
        .toUtf8();
}

QWidget* focused()
{
    return QApplication::focusWidget();
}

// A key into the widget that has the focus, as the user's keyboard sends it.
bool press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = focused();
    if (!target)
        return false;
    QTest::keyClick(target, key, modifiers);
    return true;
}

bool type(const QString& text)
{
    QWidget* target = focused();
    if (!target)
        return false;
    QTest::keyClicks(target, text);
    return true;
}

QString announced(QObject* object)
{
    return AccessibleView::of(object).announcement();
}

} // namespace

class TestAccessibilityDovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { qputenv("TMPDIR", m_savedTmpdir); }
    void init();
    void cleanup() { m_window.reset(); }
    void namesFollowTheCaptions();
    void wholeJobFromTheKeyboard();
    void rangeDialogFromTheKeyboard();
    void largerWindowFromTheKeyboard();

private:
    // Tabs forward until `target` has the focus; what a screen reader says at each stop is
    // added to `heard`.
    bool tabTo(QWidget* target, QStringList* heard = nullptr);
    bool connectByKeyboard(QStringList* heard = nullptr);
    // Once a modal window has closed, the window system gives the main window back the focus.
    bool backToMainWindow();

    DovecotHarness m_server;
    QTemporaryDir m_temp;
    QByteArray m_savedTmpdir;
    std::unique_ptr<MainWindowFixture> m_window;
};

void TestAccessibilityDovecot::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_savedTmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(m_temp.path())); // the exported workbooks
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    for (int n = 1; n <= kMessages; ++n)
        QVERIFY(!m_server.writeMessage("Inbox", message(n)).isEmpty());
}

void TestAccessibilityDovecot::init()
{
    m_window = std::make_unique<MainWindowFixture>();
    m_window->pointTo(m_server);
    Form1& f = m_window->load();
    f.show();
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QCOMPARE(focused(), f.Text1);
}

bool TestAccessibilityDovecot::tabTo(QWidget* target, QStringList* heard)
{
    for (int i = 0; i < 40 && focused() != target; ++i) {
        if (!press(Qt::Key_Tab))
            return false;
        if (heard)
            *heard << announced(focused());
    }
    return focused() == target;
}

bool TestAccessibilityDovecot::backToMainWindow()
{
    Form1& f = *m_window->form;
    f.activateWindow();
    return QTest::qWaitForWindowActive(&f) && focused();
}

bool TestAccessibilityDovecot::connectByKeyboard(QStringList* heard)
{
    Form1& f = *m_window->form;
    if (focused() != f.Text1 || !type(DovecotHarness::defaultUser()))
        return false;
    if (heard)
        *heard << announced(focused());
    if (!press(Qt::Key_Tab) || !type(DovecotHarness::defaultPassword()))
        return false;
    if (heard)
        *heard << announced(focused());
    if (!tabTo(f.PushButton1, heard) || !press(Qt::Key_Space))
        return false;
    if (heard)
        *heard << announced(focused()) << announced(f.ProgressBar1);
    return f.PushButton1->text() == QStringLiteral("Disconnect");
}

// Every captioned control is named by its caption at all times: connected, retrieving (with
// "Stop"), after Stop and disconnected again. A name fixed at creation fails here.
void TestAccessibilityDovecot::namesFollowTheCaptions()
{
    MainWindowFixture& w = *m_window;
    Form1& f = *w.form;
    QCOMPARE(AccessibleView::mismatches(&f).join("; "), QString());
    QCOMPARE(AccessibleView::of(&f).name, QStringLiteral("Corvanel"));

    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    QCOMPARE(AccessibleView::mismatches(&f).join("; "), QString());
    QCOMPARE(AccessibleView::of(f.PushButton1).name, QStringLiteral("Disconnect"));
    QCOMPARE(
        AccessibleView::of(f.ProgressBar1).description,
        QStringLiteral("Connected to Windows Live Hotmail. Please select folder to extract emails from."));

    QStringList wrongWhileRetrieving;
    AccessibleView stop, hidden, status;
    connect(&f.list(), &MessageListModel::rowAdded, this, [&](int k) {
        if (k != 3)
            return;
        wrongWhileRetrieving = AccessibleView::mismatches(&f);
        stop = AccessibleView::of(f.PushButton3);
        hidden = AccessibleView::of(f.PushButton2);
        status = AccessibleView::of(f.ProgressBar1);
        QTimer::singleShot(0, f.PushButton3, [&] {
            f.PushButton3->setFocus();
            press(Qt::Key_Space); // Stop, found by its name
        });
    });
    f.PushButton3->click();
    QCOMPARE(wrongWhileRetrieving.join("; "), QString());
    QCOMPARE(stop.name, QStringLiteral("Stop"));
    QCOMPARE(stop.role, QAccessible::PushButton);
    QVERIFY(!stop.state.invisible && !stop.state.disabled && stop.state.focusable);
    QCOMPARE(hidden.name, QStringLiteral("Stop"));
    QVERIFY(hidden.state.invisible);
    QCOMPARE(status.description, QStringLiteral("Reading mail 3 of %1").arg(kMessages));

    // After Stop.
    QCOMPARE(f.list().count(), 3);
    QCOMPARE(AccessibleView::mismatches(&f).join("; "), QString());
    QCOMPARE(AccessibleView::of(f.PushButton3).name, QStringLiteral("2a. Get All Emails"));
    QCOMPARE(AccessibleView::of(f.PushButton2).name, QStringLiteral("2b. Get Some Emails"));
    QVERIFY(!AccessibleView::of(f.PushButton2).state.invisible);
    QCOMPARE(AccessibleView::of(f.ProgressBar1).description, QStringLiteral("Progress Bar"));
    QCOMPARE(AccessibleView::of(f.Label1).name, QStringLiteral("Total Number Of Emails: 3"));

    f.PushButton1->click();
    QCOMPARE(AccessibleView::of(f.PushButton1).name, QStringLiteral("1. Connect"));
    QCOMPARE(AccessibleView::of(f.ProgressBar1).description,
             QStringLiteral("Disconnected from Windows Live Hotmail."));
    QCOMPARE(AccessibleView::mismatches(&f).join("; "), QString());
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
}

// Connect, Get All, Check All and Send To Excel with keys only, in the order of the steps.
void TestAccessibilityDovecot::wholeJobFromTheKeyboard()
{
    MainWindowFixture& w = *m_window;
    Form1& f = *w.form;
    QStringList heard{announced(focused())};
    QVERIFY(connectByKeyboard(&heard));
    QCOMPARE(focused(), f.PushButton1);
    QCOMPARE(announced(f.PushButton1), QStringLiteral("button \"Disconnect\""));

    QVERIFY(tabTo(f.PushButton3, &heard));
    QVERIFY(press(Qt::Key_Space));
    QCOMPARE(f.list().count(), kMessages);
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(focused(), f.PushButton3);
    heard << announced(focused()) << announced(f.Label1);

    // Into the list: the first row is current; Space checks it.
    QVERIFY(tabTo(f.ListView1, &heard));
    QCOMPARE(f.ListView1->currentIndex().row(), 0);
    QVERIFY(press(Qt::Key_Space));
    QVERIFY(f.list().isChecked(1));
    heard << announced(f.Label2);

    QVERIFY(tabTo(f.PushButton5, &heard));
    QVERIFY(press(Qt::Key_Space));
    QCOMPARE(f.Label2->text(), QStringLiteral("Selected Emails: %1").arg(kMessages));
    heard << announced(f.Label2);

    QVERIFY(tabTo(f.PushButton4, &heard));
    QVERIFY(press(Qt::Key_Space));
    QCOMPARE(w.boxes.texts(), (QStringList{"Done.", "Done."}));
    QCOMPARE(w.desktop.opened.size(), 1);
    QVERIFY(QFile::exists(w.desktop.opened.first()));

    // What a screen reader says at each stop, as the interfaces give it.
    for (const QString& line : std::as_const(heard))
        qInfo().noquote() << line;
    QVERIFY(heard.contains(QStringLiteral("text \"Live ID:\"")));
    QVERIFY(heard.contains(QStringLiteral("combo box \"Live!ID\", \"Account address suffix\"")));
    QVERIFY(heard.contains(QStringLiteral("progress bar \"Progress\", \"0\", \"Connected to Windows Live "
                                          "Hotmail. Please select folder to extract "
                                          "emails from.\"")));
    QVERIFY(heard.contains(QStringLiteral("label \"Selected Emails: 1\"")));
}

// "2b. Get Some Emails" from the keyboard: the dialog opens on the last number with its text
// selected, Tab goes to the first number, Enter is "Continue"; Escape closes it and cancels.
void TestAccessibilityDovecot::rangeDialogFromTheKeyboard()
{
    MainWindowFixture& w = *m_window;
    Form1& f = *w.form;
    QVERIFY(connectByKeyboard());
    Form2& range = f.rangeDialog();
    QStringList heard, wrong;
    AccessibleView dialogView;
    bool escape = false;
    connect(&range, &Form2::loaded, this, [&] {
        whenModal(range.window(), [&] {
            dialogView = AccessibleView::of(range.window());
            wrong = AccessibleView::mismatches(range.window());
            heard << announced(focused());
            if (escape) {
                press(Qt::Key_Escape);
                return;
            }
            type(QStringLiteral("4")); // replaces the selected maximum
            press(Qt::Key_Tab);
            heard << announced(focused());
            press(Qt::Key_End);
            press(Qt::Key_Backspace);
            type(QStringLiteral("2"));
            press(Qt::Key_Tab);
            heard << announced(focused());
            press(Qt::Key_Backtab, Qt::ShiftModifier);
            press(Qt::Key_Return);
        });
    });
    QVERIFY(tabTo(f.PushButton2));
    QVERIFY(press(Qt::Key_Space));
    QCOMPARE(dialogView.name, QStringLiteral("Get Some Emails"));
    QCOMPARE(dialogView.role, QAccessible::Dialog);
    QCOMPARE(wrong.join("; "), QString());
    QCOMPARE(heard,
             (QStringList{QStringLiteral("text \"To (Max of %1)\", \"%1\"").arg(kMessages),
                          QStringLiteral("text \"From:\", \"1\""), QStringLiteral("button \"Continue\"")}));
    QCOMPARE(f.list().count(), 3);
    QCOMPARE(f.list().text(1), QStringLiteral("Sender 2 <sender2@example.org>"));
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    // While it ran, the focus was on "Stop" beside the hidden button.
    QVERIFY(backToMainWindow());
    QCOMPARE(focused(), f.PushButton3);

    escape = true;
    heard.clear();
    QVERIFY(tabTo(f.PushButton2));
    QVERIFY(press(Qt::Key_Space));
    QCOMPARE(heard, QStringList{QStringLiteral("text \"To (Max of %1)\", \"%1\"").arg(kMessages)});
    QVERIFY(!range.window());
    QCOMPARE(f.list().count(), 3);
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(AccessibleView::of(f.PushButton2).name, QStringLiteral("2b. Get Some Emails"));
    QCOMPARE(AccessibleView::of(f.PushButton3).name, QStringLiteral("2a. Get All Emails"));
}

// The larger window: the list takes the focus, Space checks rows, Tab reaches the buttons by
// their captions, Escape closes it like "< Back".
void TestAccessibilityDovecot::largerWindowFromTheKeyboard()
{
    MainWindowFixture& w = *m_window;
    Form1& f = *w.form;
    QVERIFY(connectByKeyboard());
    QVERIFY(tabTo(f.PushButton3));
    QVERIFY(press(Qt::Key_Space));
    QCOMPARE(f.list().count(), kMessages);

    QStringList heard, wrong;
    AccessibleView windowView;
    bool escapeClosed = false;
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        whenModal(window, [&, window] {
            windowView = AccessibleView::of(window);
            wrong = AccessibleView::mismatches(window);
            heard << announced(focused());
            press(Qt::Key_Down);
            press(Qt::Key_Space); // row 2
            press(Qt::Key_Down);
            press(Qt::Key_Space); // row 3
            heard << announced(window->Label2);
            press(Qt::Key_Tab);
            heard << announced(focused());
            press(Qt::Key_Tab);
            heard << announced(focused());
            press(Qt::Key_Tab);
            heard << announced(focused());
            press(Qt::Key_Escape);
            // Closed by its key, or the test fails here instead of waiting for it forever.
            escapeClosed = !window->isVisible();
            if (!escapeClosed)
                window->reject();
        });
    });
    QVERIFY(tabTo(f.PushButton8));
    QVERIFY(press(Qt::Key_Space));
    QVERIFY(escapeClosed);
    QCOMPARE(windowView.name, QStringLiteral(" List In Larger View"));
    QCOMPARE(windowView.role, QAccessible::Dialog);
    QCOMPARE(wrong.join("; "), QString());
    QCOMPARE(heard, (QStringList{"tree \"Message list\"", "label \"Selected Emails: 2\"",
                                 "button \"Check All\"", "button \"Uncheck All\"", "button \"< Back\""}));
    for (int k = 1; k <= kMessages; ++k)
        QCOMPARE(f.list().isChecked(k), k == 2 || k == 3);
    QCOMPARE(AccessibleView::of(f.Label2).name, QStringLiteral("Selected Emails: 2"));
    QVERIFY(backToMainWindow());
    QCOMPARE(focused(), f.PushButton8);
}

QTEST_MAIN(TestAccessibilityDovecot)
#include "tst_accessibility_dovecot.moc"
