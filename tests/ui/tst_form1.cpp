#include "frame/AppTitle.h"
#include "frame/CommandLine.h"
#include "frame/EventYield.h"
#include "frame/SettingsHandlers.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RetrievalFlow.h"
#include "support/AccessibleView.h"
#include "support/MainWindowFixture.h"
#include "ui/Form1.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QtTest>

namespace {
struct Window : MainWindowFixture {};
} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { AppTitle::set(AppTitle::productName()); }
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void windowAndColumns();
    void keyboardFollowsTheSteps();
    void hoverRules();
    void helpBox();
    void commandLine_data();
    void commandLine();
    void firstStartWithEmptyStore();
    void rememberedSettingsLoad();
    void notRememberedLeavesBoxesEmpty();
    void unreadableStoredValuesReportAndGoOn();
    void typingStoresOnlyWhileRemembered();
    void uncheckingRememberMeErasesTheSignIn();
    void folderChoiceIsStored();
    void captionsDoNotDecideState();
    void paintsAtDisplayRateAndShowsTheLastChange();
};

void TestForm1::controlsAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("accessibleName");
    // What a screen reader announces: a captioned control by its caption, the others by the
    // text of their label.
    const auto row = [](const char* name, const char* container, const char* caption, QAccessible::Role role,
                        const char* accessibleName = nullptr) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container)
                            << QString::fromUtf8(caption) << int(role)
                            << QString::fromUtf8(accessibleName ? accessibleName : caption);
    };
    row("Frame5", "Form1", "Login", QAccessible::Grouping);
    row("lblLabels_0", "Frame5", "Live ID:", QAccessible::StaticText);
    row("lblLabels_1", "Frame5", "Password:", QAccessible::StaticText);
    row("Text1", "Frame5", "", QAccessible::EditableText, "Live ID:");
    row("Text2", "Frame5", "", QAccessible::EditableText, "Password:");
    row("Check1", "Frame5", "Remember me", QAccessible::CheckBox);
    row("Check2", "Frame5", "Autoconnect when software loads", QAccessible::CheckBox);
    row("Combo1", "Frame5", "", QAccessible::ComboBox, "Live!ID");
    row("PushButton1", "Frame5", "1. Connect", QAccessible::PushButton);
    row("PushButton11", "Frame5", "Help", QAccessible::PushButton);
    row("Frame2", "Form1", "Folder", QAccessible::Grouping);
    row("Option3", "Frame2", "Inbox", QAccessible::RadioButton);
    row("Option5", "Frame2", "Drafts", QAccessible::RadioButton);
    row("Option6", "Frame2", "Sent", QAccessible::RadioButton);
    row("Option7", "Frame2", "Junk", QAccessible::RadioButton);
    row("Option9", "Frame2", "Deleted", QAccessible::RadioButton);
    row("Frame4", "Form1",
        "Optional: Filter (Only messages containing characters below will be added to the list)",
        QAccessible::Grouping);
    row("txtSearch", "Frame4", "", QAccessible::EditableText, "Filter");
    row("PushButton3", "Form1", "2a. Get All Emails", QAccessible::PushButton);
    row("PushButton2", "Form1", "2b. Get Some Emails", QAccessible::PushButton);
    row("PushButton8", "Form1", "Show List In Larger View", QAccessible::PushButton);
    row("ListView1", "Form1", "", QAccessible::Tree, "Message list");
    row("Label1", "Form1", "Total Number Of Emails: 0", QAccessible::StaticText);
    row("Label2", "Form1", "Selected Emails: 0", QAccessible::StaticText);
    row("PushButton5", "Form1", "Check All", QAccessible::PushButton);
    row("PushButton6", "Form1", "Uncheck All", QAccessible::PushButton);
    row("PushButton9", "Form1", "Check Emails Containing...", QAccessible::PushButton);
    row("PushButton10", "Form1", "Check Emails Not Containing...", QAccessible::PushButton);
    row("PushButton7", "Form1", "Clear List", QAccessible::PushButton);
    row("PushButton4", "Form1", "3. Send To Excel", QAccessible::PushButton);
    row("ProgressBar1", "Form1", "Progress Bar", QAccessible::ProgressBar, "Progress");
}

void TestForm1::controlsAsDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    Window w;
    Form1& form = w.load();
    form.show();
    auto* control = form.findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), container);
    // Inside its container: Combo1 is designed at the login frame's right edge, where only its
    // left end shows.
    const QRect area = control->parentWidget()->rect();
    if (name == QLatin1String("Combo1"))
        QVERIFY(area.contains(control->geometry().topLeft()));
    else
        QVERIFY(area.contains(control->geometry()));
    // No two controls overlap, but for a label and the box it names.
    if (!qobject_cast<QLabel*>(control)) {
        for (QWidget* other : control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != control && !qobject_cast<QLabel*>(other) && other->isVisible())
                QVERIFY2(!other->geometry().intersects(control->geometry()), qPrintable(other->objectName()));
        }
    }
    QString shown;
    if (auto* b = qobject_cast<QAbstractButton*>(control))
        shown = b->text();
    else if (auto* g = qobject_cast<QGroupBox*>(control))
        shown = g->title();
    else if (auto* l = qobject_cast<QLabel*>(control))
        shown = l->text();
    else if (auto* p = qobject_cast<QProgressBar*>(control))
        shown = p->text();
    QCOMPARE(shown, caption);
    QFETCH(int, role);
    QFETCH(QString, accessibleName);
    const AccessibleView view = AccessibleView::of(control);
    QCOMPARE(int(view.role), role);
    QCOMPARE(view.name, accessibleName);
    QVERIFY(!view.state.invisible);
    if (control->focusPolicy() != Qt::NoFocus && control->isEnabled())
        QVERIFY(view.state.focusable);
    // The status line is read out as the bar's description, the drop-down's purpose as its.
    if (qobject_cast<QProgressBar*>(control))
        QCOMPARE(view.description, caption);
    if (qobject_cast<QComboBox*>(control))
        QCOMPARE(view.description, QStringLiteral("Account address suffix"));
}

void TestForm1::keyboardFollowsTheSteps()
{
    Window w;
    w.settings.preset("StayConnected", "1"); // so that "Autoconnect" is enabled
    Form1& form = w.load();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.Text1);
    QStringList order;
    for (int i = 0; i < 22; ++i) {
        QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused);
        order << focused->objectName();
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    // The folder options are one stop (the chosen one); the arrow keys move within them.
    QCOMPARE(order, (QStringList{"Text1",       "Text2",        "Check1",      "Check2",      "Combo1",
                                 "PushButton1", "PushButton11", "Option3",     "txtSearch",   "PushButton3",
                                 "PushButton2", "PushButton8",  "ListView1",   "PushButton5", "PushButton6",
                                 "PushButton9", "PushButton10", "PushButton7", "PushButton4", "Text1",
                                 "Text2",       "Check1"}));
    QCOMPARE(QApplication::focusWidget(), form.Check2);
    QTest::keyClick(form.Check2, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), form.Check1);

    // The folder by arrow keys, the drop-down by arrow keys while only its edge shows.
    form.Option3->setFocus();
    QTest::keyClick(form.Option3, Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), form.Option5);
    QVERIFY(form.Option5->isChecked());
    QCOMPARE(w.settings.get("Option5"), QStringLiteral("True"));
    form.Combo1->setFocus();
    QTest::keyClick(form.Combo1, Qt::Key_Down);
    QCOMPARE(form.Combo1->currentIndex(), 1);
    QCOMPARE(AccessibleView::of(form.Combo1).name, form.Combo1->currentText());
    QCOMPARE(w.settings.get("Combo1"), QStringLiteral("1"));

    // The list's check boxes toggle with Space on the current row.
    for (int k = 1; k <= 3; ++k)
        form.list().add(QStringLiteral("row %1").arg(k));
    form.list().announce();
    form.counts().UpdateEmailCounts(false);
    form.ListView1->setFocus();
    QTest::keyClick(form.ListView1, Qt::Key_Home);
    QTest::keyClick(form.ListView1, Qt::Key_Down);
    QTest::keyClick(form.ListView1, Qt::Key_Space);
    QVERIFY(!form.list().isChecked(1) && form.list().isChecked(2) && !form.list().isChecked(3));
    QCOMPARE(form.Label2->text(), QStringLiteral("Selected Emails: 1"));
    QCOMPARE(AccessibleView::of(form.Label2).name, QStringLiteral("Selected Emails: 1"));
    QTest::keyClick(form.ListView1, Qt::Key_Space);
    QVERIFY(!form.list().isChecked(2));
    QVERIFY(w.boxes.shown().isEmpty());
}

void TestForm1::windowAndColumns()
{
    Window w;
    Form1& form = w.load();
    QCOMPARE(form.size(), QSize(Twips::toPx(8040), Twips::toPx(9285)));
    QCOMPARE(form.windowTitle(), QStringLiteral("Corvanel"));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(form.font().family(), QStringLiteral("Arial"));
    QVERIFY(form.font().bold());
    QCOMPARE(form.PushButton3->font().pointSizeF(), 11.25);
    QCOMPARE(form.Text2->echoMode(), QLineEdit::Password);
    QCOMPARE(form.ListView1->model()->columnCount(), 6);
    const QStringList captions{"From", "From Name", "From Address", "Subject", "Received Date", "RecDate"};
    const int widths[] = {1300, 1300, 1600, 1600, 1600, 0};
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(form.ListView1->model()->headerData(c, Qt::Horizontal).toString(), captions[c]);
        QCOMPARE(form.ListView1->header()->sectionSize(c), Twips::toPx(widths[c]));
    }
    QCOMPARE(w.boxes.shown().size(), 0);
}

void TestForm1::hoverRules()
{
    Window w;
    Form1& form = w.load();
    const auto moveOver = [](QWidget* target) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), target->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
    };
    moveOver(form.PushButton5);
    QCOMPARE(form.pointer.value(), 99);
    moveOver(form.ListView1->viewport());
    QCOMPARE(form.pointer.value(), 0);
    moveOver(form.PushButton5);
    moveOver(form.Frame2);
    QCOMPARE(form.pointer.value(), 0);
    // The hourglass wins over the hover rule, except over the two retrieval buttons.
    form.pointer.set(11);
    moveOver(form.PushButton5);
    moveOver(form.Text1);
    QCOMPARE(form.pointer.value(), 11);
    moveOver(form.PushButton3);
    QCOMPARE(form.pointer.value(), 99);
    QCOMPARE(form.cursor().shape(), Qt::PointingHandCursor);
}

void TestForm1::helpBox()
{
    Window w;
    Form1& form = w.load();
    QTest::mouseClick(form.PushButton11, Qt::LeftButton);
    QCOMPARE(w.boxes.shown().size(), 1);
    const auto& box = w.boxes.shown().first();
    QVERIFY(box.text.startsWith(
        "Having problems connecting? Make sure you have the latest version by downloading from https://"));
    QVERIFY(box.text.endsWith("/Tessaline/" + QString(12, '\r')));
    QCOMPARE(box.icon, MessageBoxService::Icon::None);
    QCOMPARE(box.title, AppTitle::current());
}

// What the command line asks for, read before the window exists. Qt's own options pass on to
// the application object; nothing but an option changes the plain start.
void TestForm1::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("exits");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // a text standard output or standard error starts with
    QTest::addColumn<bool>("demo");
    QTest::newRow("nothing: the window") << QStringList{} << false << 0 << QString() << false;
    QTest::newRow("--demo") << QStringList{"--demo"} << false << 0 << QString() << true;
    QTest::newRow("Qt's options pass") << QStringList{"-platform", "offscreen", "-style=fusion", "-reverse"}
                                       << false << 0 << QString() << false;
    QTest::newRow("--version") << QStringList{"--version"} << true << 0 << "corvanel 1." << false;
    QTest::newRow("-v") << QStringList{"-v"} << true << 0 << "corvanel 1." << false;
    QTest::newRow("--help") << QStringList{"--help"} << true << 0 << "Usage: corvanel [options]\n" << false;
    QTest::newRow("help wins over demo")
        << QStringList{"--demo", "-h"} << true << 0 << "Usage: corvanel" << false;
    QTest::newRow("unknown option") << QStringList{"--verbose"} << true << 2
                                    << "corvanel: Unknown option 'verbose'.\nTry 'corvanel --help'" << false;
    QTest::newRow("unknown after demo")
        << QStringList{"--demo", "-x"} << true << 2 << "corvanel: Unknown option 'x'." << false;
    QTest::newRow("an argument") << QStringList{"inbox.xlsx"} << true << 2
                                 << "corvanel: unexpected argument 'inbox.xlsx'." << false;
}

void TestForm1::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, exits);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(bool, demo);
    const CommandLine line = CommandLine::parse(QStringList{"/usr/bin/corvanel"} + arguments);
    QCOMPARE(line.exits(), exits);
    QCOMPARE(line.exitCode(), exitCode);
    QCOMPARE(line.demo(), demo);
    const QString shown = exitCode == 0 ? line.output() : line.errorOutput();
    QVERIFY2(shown.startsWith(output), qPrintable(shown));
    QVERIFY((exitCode == 0 ? line.errorOutput() : line.output()).isEmpty());
    if (arguments == QStringList{"--help"})
        QVERIFY(shown.contains("--demo") && shown.contains("--version"));
}

void TestForm1::firstStartWithEmptyStore()
{
    Window w;
    Form1& form = w.load();
    QVERIFY(!form.Check1->isChecked());
    QVERIFY(!form.Check2->isChecked());
    QVERIFY(!form.Check2->isEnabled());
    QVERIFY(form.Text1->text().isEmpty() && form.Text2->text().isEmpty());
    QVERIFY(form.Option3->isChecked());
    QCOMPARE(form.Combo1->currentText(), QStringLiteral("Live!ID"));
    QCOMPARE(form.Combo1->count(), 4);
    QCOMPARE(form.PushButton1->text(), QStringLiteral("1. Connect"));
    QVERIFY(!form.RuleCheckDone);
    // Only the write-back of the folder choice and of the suffix index.
    QCOMPARE(w.settings.writtenKeys(),
             (QStringList{"Option3", "Option5", "Option6", "Option7", "Option9", "Combo1"}));
    QCOMPARE(w.settings.get("Option3"), QStringLiteral("True"));
    QCOMPARE(w.settings.get("Combo1"), QStringLiteral("0"));
    QVERIFY(w.boxes.shown().isEmpty());
}

void TestForm1::rememberedSettingsLoad()
{
    Window w;
    w.settings.preset("StayConnected", "1");
    w.settings.preset("User", "someone");
    w.settings.preset("Password", "  pass word ");
    w.settings.preset("Option6", "True");
    w.settings.preset("Option3", "False");
    w.settings.preset("Combo1", "2");
    Form1& form = w.load();
    QVERIFY(form.Check1->isChecked());
    QVERIFY(form.Check2->isEnabled());
    QCOMPARE(form.Text1->text(), QStringLiteral("someone"));
    QCOMPARE(form.Text2->text(), QStringLiteral("  pass word "));
    QVERIFY(form.Option6->isChecked());
    QVERIFY(!form.Option3->isChecked());
    QCOMPARE(form.Combo1->currentText(), QStringLiteral("@outlook.com"));
    // The remembered sign-in survives the start-up's write-back.
    QCOMPARE(w.settings.get("User"), QStringLiteral("someone"));
    QCOMPARE(w.settings.get("Password"), QStringLiteral("  pass word "));
    QCOMPARE(w.settings.get("Combo1"), QStringLiteral("2"));
}

void TestForm1::notRememberedLeavesBoxesEmpty()
{
    Window w;
    w.settings.preset("StayConnected", "0");
    w.settings.preset("User", "someone");
    w.settings.preset("Password", "secret");
    Form1& form = w.load();
    QVERIFY(form.Text1->text().isEmpty());
    QVERIFY(form.Text2->text().isEmpty());
    QCOMPARE(w.settings.get("User"), QStringLiteral("someone"));
}

void TestForm1::unreadableStoredValuesReportAndGoOn()
{
    Window w;
    w.settings.preset("StayConnected", "yes please");
    w.settings.preset("User", "someone");
    w.settings.preset("Combo1", "7");
    w.settings.preset("Option3", "maybe");
    w.settings.preset("Option6", "True");
    Form1& form = w.load();
    const QStringList errors = w.boxes.errorBoxes();
    QCOMPARE(errors.size(), 3);

    QVERIFY(errors[0].startsWith("Type mismatch\r\nin Tessaline2021/08/31.Form1.Form_Load at line 160"));
    QVERIFY(errors[1].contains("at line 186"));
    QVERIFY(errors[2].contains("at line 777"));
    // The failed condition entered the "remember" branch.
    QVERIFY(form.Check1->isChecked());
    QCOMPARE(form.Text1->text(), QStringLiteral("someone"));
    QCOMPARE(form.Combo1->currentIndex(), -1);
    QVERIFY(form.Option6->isChecked());
}

void TestForm1::typingStoresOnlyWhileRemembered()
{
    Window w;
    Form1& form = w.load();
    w.settings.clearWrites();
    QTest::keyClicks(form.Text2, "ab");
    QTest::keyClicks(form.Text1, "ab");
    QVERIFY(!w.settings.has("User"));
    QVERIFY(!w.settings.has("Password"));
    form.Check1->setChecked(true);
    QCOMPARE(w.settings.get("StayConnected"), QStringLiteral("1"));
    QCOMPARE(w.settings.get("User"), QStringLiteral("ab"));
    QCOMPARE(w.settings.get("Password"), QStringLiteral("ab"));
    w.settings.clearWrites();
    QTest::keyClicks(form.Text1, "c");
    QCOMPARE(w.settings.writes(), (QList<QPair<QString, QString>>{{"User", "abc"}}));
}

void TestForm1::uncheckingRememberMeErasesTheSignIn()
{
    Window w;
    w.settings.preset("StayConnected", "1");
    w.settings.preset("AutoConnect", "0");
    w.settings.preset("User", "me");
    w.settings.preset("Password", "pw");
    Form1& form = w.load();
    form.Check2->setChecked(true);
    QCOMPARE(w.settings.get("AutoConnect"), QStringLiteral("1"));
    form.Check1->setChecked(false);
    QCOMPARE(w.settings.get("StayConnected"), QStringLiteral("0"));
    QCOMPARE(w.settings.get("AutoConnect"), QStringLiteral("0"));
    QCOMPARE(w.settings.get("User"), QString());
    QCOMPARE(w.settings.get("Password"), QString());
    QVERIFY(!form.Check2->isEnabled());
    QVERIFY(form.Text1->text().isEmpty() && form.Text2->text().isEmpty());
}

void TestForm1::folderChoiceIsStored()
{
    Window w;
    Form1& form = w.load();
    QTest::mouseClick(form.Option7, Qt::LeftButton);
    QCOMPARE(w.settings.get("Option3"), QStringLiteral("False"));
    QCOMPARE(w.settings.get("Option5"), QStringLiteral("False"));
    QCOMPARE(w.settings.get("Option6"), QStringLiteral("False"));
    QCOMPARE(w.settings.get("Option7"), QStringLiteral("True"));
    QCOMPARE(w.settings.get("Option9"), QStringLiteral("False"));
    // The next start selects "Junk".
    Window next;
    next.settings = w.settings;
    QVERIFY(next.load().Option7->isChecked());
}

// Whether the window is connected or a retrieval runs is the handlers' own state: captions are
// drawn from it and never read back to decide.
void TestForm1::captionsDoNotDecideState()
{
    Window w;
    Form1& form = w.load();
    form.PushButton1->setText(QStringLiteral("Disconnect"));
    form.PushButton3->setText(QStringLiteral("Stop"));
    QCOMPARE(form.connection().state(), ConnectDisconnect::State::Disconnected);
    form.PushButton3->click();
    form.PushButton2->click();
    QCOMPARE(w.boxes.texts(), (QStringList{"Please connect first (Step 1) before using this feature.",
                                           "Please connect first (Step 1) before using this feature."}));
    QCOMPARE(form.retrieval().state(), RetrievalFlow::State::Idle);
    QVERIFY(!form.PushButton2->isHidden());
}

// A retrieval changes the progress text and yields once per message; the window is painted at
// most once a frame (33 ms), yet what is finally shown is the last text.
void TestForm1::paintsAtDisplayRateAndShowsTheLastChange()
{
    struct PaintWatch : QObject {
        QWidget* window = nullptr;
        QProgressBar* bar = nullptr;
        int paints = 0;   // of the bar
        int requests = 0; // the window's paint requests, held or not
        QString shown;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (watched == window && event->type() == QEvent::UpdateRequest)
                ++requests;
            if (watched == bar && event->type() == QEvent::Paint) {
                ++paints;
                shown = bar->format();
            }
            return false;
        }
    };
    Window w;
    Form1& form = w.load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PaintWatch watch;
    watch.window = &form;
    watch.bar = form.ProgressBar1;
    form.installEventFilter(&watch); // installed after the pacer: sees every request first
    form.ProgressBar1->installEventFilter(&watch);

    // Once the window has been quiet for more than a frame, the first change is painted at
    // the next yield, without waiting.
    for (int tries = 0; tries < 100; ++tries) {
        const int before = watch.requests;
        QTest::qWait(60);
        if (watch.requests == before)
            break;
    }
    watch.paints = 0;
    form.setProgressText(QStringLiteral("Reading mail 0 of 300"));
    yieldEvents();
    QCOMPARE(watch.paints, 1);
    QCOMPARE(watch.shown, QStringLiteral("Reading mail 0 of 300"));

    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 300; ++i) {
        form.setProgressText(QStringLiteral("Reading mail %1 of 300").arg(i));
        yieldEvents();
    }
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(watch.paints <= 2 + int(elapsed / 33),
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(watch.paints).arg(elapsed)));
    QTRY_COMPARE(watch.shown, QStringLiteral("Reading mail 300 of 300"));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
