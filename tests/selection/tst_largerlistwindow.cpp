#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "selection/LargerListView.h"
#include "support/MainWindowFixture.h"
#include "support/WhenModal.h"
#include "ui/Form4.h"
#include "ui/Twips.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {
void fill(MessageListModel& list, int rows)
{
    for (int k = 1; k <= rows; ++k) {
        list.add(QStringLiteral("from%1").arg(k));
        for (int s = 1; s <= 5; ++s)
            list.setSubItem(k, s, QStringLiteral("r%1s%2").arg(k).arg(s));
    }
}
} // namespace

class TestLargerListWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opensWithACopyAndCopiesChecksBack();
    void closeBoxActsLikeBack();
    void openingTwiceNeverDuplicates();
    void clearListEmptiesBothLists();
    void emptyListOpensEmpty();
    void resizeLayout();
};

void TestLargerListWindow::opensWithACopyAndCopiesChecksBack()
{
    MainWindowFixture w;
    Form1& f = w.load();
    fill(f.list(), 6);
    f.list().setChecked(1, true);
    QStringList seen;
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        whenModal(window, [&, window] {
            seen << window->windowTitle() << QString::number(window->list().count()) << window->list().subItem(4, 5)
                 << window->Label1->text() << window->Label2->text()
                 << QString::number(window->isModal()) << QString::number(bool(window->windowState() & Qt::WindowMaximized));
            window->list().setChecked(1, false);
            window->list().setChecked(2, true);
            window->list().setChecked(5, true);
            window->PushButton4->click();
        });
    });
    f.PushButton8->click();
    QCOMPARE(seen, (QStringList{" List In Larger View", "6", "r4s5", "Total Number Of Emails: 6", "Selected Emails: 1",
                                "1", "1"}));
    for (int k = 1; k <= 6; ++k)
        QCOMPARE(f.list().isChecked(k), k == 2 || k == 5);
    QCOMPARE(f.Label2->text(), QStringLiteral("Selected Emails: 2"));
    QVERIFY(w.boxes.shown().isEmpty());
}

void TestLargerListWindow::closeBoxActsLikeBack()
{
    MainWindowFixture w;
    Form1& f = w.load();
    fill(f.list(), 3);
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        whenModal(window, [window] {
            window->PushButton5->click();  // Check All
            window->close();
        });
    });
    f.PushButton8->click();
    QVERIFY(f.list().isChecked(1) && f.list().isChecked(2) && f.list().isChecked(3));
    QCOMPARE(f.Label2->text(), QStringLiteral("Selected Emails: 3"));
}

void TestLargerListWindow::openingTwiceNeverDuplicates()
{
    MainWindowFixture w;
    Form1& f = w.load();
    fill(f.list(), 4);
    QList<int> counts;
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        whenModal(window, [&, window] {
            counts << window->list().count();
            QVERIFY(!window->RuleCheckDone);
            window->PushButton4->click();
        });
    });
    f.PushButton8->click();
    f.PushButton8->click();
    QCOMPARE(counts, (QList<int>{4, 4}));
}

void TestLargerListWindow::clearListEmptiesBothLists()
{
    MainWindowFixture w;
    Form1& f = w.load();
    fill(f.list(), 4);
    f.counts().UpdateEmailCounts(false);
    QString mainLabelDuringClear;
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        whenModal(window, [&, window] {
            window->PushButton7->click();
            QCOMPARE(window->list().count(), 0);
            QCOMPARE(window->Label1->text(), QStringLiteral("Total Number Of Emails: 0"));
            mainLabelDuringClear = f.Label1->text();
            window->PushButton4->click();
        });
    });
    f.PushButton8->click();
    QCOMPARE(mainLabelDuringClear, QStringLiteral("Total Number Of Emails: 4"));
    QCOMPARE(f.list().count(), 0);
    QCOMPARE(f.Label1->text(), QStringLiteral("Total Number Of Emails: 0"));
}

void TestLargerListWindow::emptyListOpensEmpty()
{
    MainWindowFixture w;
    Form1& f = w.load();
    int opened = 0;
    connect(&f.largerView(), &LargerListView::opened, this, [&](LargerListWindow* larger) {
        auto* const window = static_cast<Form4*>(larger);
        ++opened;
        whenModal(window, [window] { window->PushButton4->click(); });
    });
    f.PushButton8->click();
    QCOMPARE(opened, 1);
    QCOMPARE(f.Label1->text(), QStringLiteral("Total Number Of Emails: 0"));
}

void TestLargerListWindow::resizeLayout()
{
    MainWindowFixture w;
    Form1& f = w.load();
    Form4 window(&f, f.list(), w.boxes);
    window.Form_Resize(30000, 12000);
    QCOMPARE(Twips::fromPx(window.PushButton7->x()), Twips::fromPx(Twips::toPx(13035)));
    QCOMPARE(window.Label2->x(), Twips::toPx(16995));
    QCOMPARE(window.PushButton4->x(), window.PushButton7->x());
    QCOMPARE(window.PushButton4->y(), Twips::toPx(12000 - 975));
    QCOMPARE(window.ListView1->width(), Twips::toPx(30000 - 330));
    QCOMPARE(window.ListView1->header()->sectionSize(5), 0);
    // A window too small for the layout never gets a negative size.
    window.Form_Resize(200, 1000);
    QVERIFY(window.ListView1->width() >= 0 && window.ListView1->height() >= 0);
}

QTEST_MAIN(TestLargerListWindow)
#include "tst_largerlistwindow.moc"
