// Clicks on the main window while one of its modal windows comes up. Clicks go through the
// window system, so a window blocked by a modal one swallows them, as it does a user's.
#define QTEST_QPA_MOUSE_HANDLING

#include "frame/AppTitle.h"
#include "frame/QtMessageBoxService.h"
#include "retrieval/MessageListModel.h"
#include "selection/LargerListView.h"
#include "support/AccessibleView.h"
#include "support/MainWindowFixture.h"
#include "ui/Form1.h"
#include "ui/Form4.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

void clickInWindow(QWidget* target)
{
    QWidget* window = target->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      target->mapTo(window, target->rect().center()));
}

// Runs `action` on the next modal window to come up, once its event loop runs.
void whenAModalWindowRuns(std::function<void(QWidget&)> action)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        QWidget* window = QApplication::activeModalWidget();
        if (!window || !window->isVisible() || !QApplication::focusWidget())
            return;
        poll->stop();
        poll->deleteLater();
        action(*window);
    });
    poll->start();
}

} // namespace

class TestModalWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mainWindowTakesNoInputWhileTheLargerWindowOpens();
    void boxesAreAnnouncedAndAnswerTheKeyboard();
};

// The larger window refreshes its counts, yielding once per row, when it is first laid out,
// before it is shown. The main window must take no input from the start all the same: a click
// on "Clear List" (or on "Show List In Larger View" again) made while the larger window opens
// is dropped, so the main list cannot drift away from the copy that goes back to it on closing.
void TestModalWindows::mainWindowTakesNoInputWhileTheLargerWindowOpens()
{
    MainWindowFixture w;
    Form1& f = w.load();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    for (int k = 1; k <= 40; ++k)
        f.list().add(QStringLiteral("row %1").arg(k));
    f.list().setChecked(2, true);

    QList<int> rowsShown; // the rows of each larger window, as it comes up
    struct ResizeWatch : QObject {
        std::function<void()> onResize;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Resize && onResize)
                onResize();
            return false;
        }
    } watch;
    bool clicked = false; // both clicks have been made
    bool scheduled = false;
    int opened = 0;
    watch.onResize = [&] {
        if (scheduled)
            return;
        scheduled = true;
        // The user's next clicks, made as soon as anything lets them through.
        QTimer::singleShot(0, &f, [&] {
            clickInWindow(f.PushButton7);
            clickInWindow(f.PushButton8);
            clicked = true;
        });
    };
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        window->installEventFilter(&watch);
        // Once those clicks are made, check a row and go back (at once, from a window the
        // clicks opened).
        const bool first = ++opened == 1;
        auto* poll = new QTimer(window);
        connect(poll, &QTimer::timeout, window, [&, window, poll, first] {
            if ((first && !clicked) || QApplication::activeModalWidget() != window)
                return;
            poll->stop();
            rowsShown << window->list().count();
            if (window->list().count() >= 5)
                window->list().setChecked(5, true);
            clickInWindow(window->PushButton4);
        });
        poll->start(5);
    });
    clickInWindow(f.PushButton8);

    QVERIFY(clicked);
    QCOMPARE(rowsShown, QList<int>{40});
    QCOMPARE(f.list().count(), 40);
    QVERIFY(f.list().isChecked(2));
    QVERIFY(f.list().isChecked(5));
    QCOMPARE(f.Label2->text(), QStringLiteral("Selected Emails: 2"));
    QVERIFY(w.boxes.shown().isEmpty());
}

// The real boxes: a screen reader announces their title, kind and text; Enter (or Escape)
// answers OK, and the text prompt takes typing and Enter.
void TestModalWindows::boxesAreAnnouncedAndAnswerTheKeyboard()
{
    AppTitle::set(AppTitle::productName());
    QWidget owner;
    owner.show();
    owner.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    QtMessageBoxService boxes;
    QStringList heard;
    const auto listen = [&](Qt::Key answer, const QString& typed = QString()) {
        whenAModalWindowRuns([&heard, answer, typed](QWidget& window) {
            const AccessibleView view = AccessibleView::of(&window);
            heard << view.announcement() << AccessibleView::of(QApplication::focusWidget()).announcement();
            if (!typed.isEmpty())
                QTest::keyClicks(QApplication::focusWidget(), typed);
            QTest::keyClick(QApplication::focusWidget(), answer);
        });
    };
    listen(Qt::Key_Return);
    boxes.msgBox(QStringLiteral("Done."), MessageBoxService::Icon::None, std::nullopt);
    listen(Qt::Key_Escape);
    boxes.msgBox(QStringLiteral("Excel could not be started."), MessageBoxService::Icon::Critical,
                 QStringLiteral("Application Error"));
    listen(Qt::Key_Return, QStringLiteral("Message"));
    const QString answer = boxes.inputBox(QStringLiteral("Enter X:"), AppTitle::current(), QString());
    QCOMPARE(answer, QStringLiteral("Message"));
    QCOMPARE(heard,
             (QStringList{QStringLiteral("alert \"Corvanel\", \"Done.\""), QStringLiteral("button \"OK\""),
                          QStringLiteral("alert \"Application Error\", \"Excel could not be started.\""),
                          QStringLiteral("button \"OK\""), QStringLiteral("dialog \"Corvanel\""),
                          QStringLiteral("text \"Enter X:\"")}));
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestModalWindows)
#include "tst_modalwindows.moc"
