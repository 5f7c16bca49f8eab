#include "selection/LargerListLayout.h"

#include <QtTest>

#include <utility>
#include <vector>

using Layout = LargerListLayout;

class TestSelectionLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wideWindowPlacesTheTwoColumns() {
        const Layout::Result r = Layout::layout(30000, 20000);
        const Layout::Elements& e = r.elements;
        QCOMPARE(e.PushButton7.left, 13035.0);
        QCOMPARE(e.Label2.left, 16995.0);
        for (const Layout::Geometry* left : {&e.PushButton4, &e.Label1, &e.PushButton5, &e.PushButton9})
            QCOMPARE(left->left, 13035.0);
        for (const Layout::Geometry* right : {&e.PushButton6, &e.PushButton10, &e.PushButton1})
            QCOMPARE(right->left, 16995.0);

        QCOMPARE(e.Label1.top, 17135.0);
        QCOMPARE(e.Label2.top, 17135.0);
        QCOMPARE(e.PushButton5.top, 17495.0);
        QCOMPARE(e.PushButton6.top, 17495.0);
        QCOMPARE(e.PushButton9.top, 18005.0);
        QCOMPARE(e.PushButton10.top, 18005.0);
        QCOMPARE(e.PushButton7.top, 18515.0);
        QCOMPARE(e.PushButton1.top, 18515.0);
        QCOMPARE(e.PushButton4.top, 19025.0);

        // The list stretches from its designed corner; nothing else changes size.
        QCOMPARE(e.ListView1.left, 120.0);
        QCOMPARE(e.ListView1.top, 120.0);
        QCOMPARE(e.ListView1.width, 29670.0);
        QCOMPARE(e.ListView1.height, 16900.0);
        QCOMPARE(e.PushButton4.width, 7800.0);
        QCOMPARE(e.PushButton4.height, 405.0);
        QCOMPARE(e.Label1.height, 255.0);
        QCOMPARE(r.columnWidths, (std::array<int, 6>{4945, 5934, 5934, 5934, 5934, 0}));
    }

    void columnsOfAList7800Wide() {
        const Layout::Result r = Layout::layout(7800 + 330, 4470);
        QCOMPARE(r.elements.ListView1.width, 7800.0);
        QCOMPARE(r.columnWidths, (std::array<int, 6>{1300, 1560, 1560, 1560, 1560, 0}));
    }

    // The positions of the two columns follow the current widths, not fixed numbers: a wider
    // "Clear List" moves the left column left by half the extra width, a wider Label1 moves the
    // right column right by all of it.
    void columnsFollowTheElementWidths() {
        const Layout::Result before = Layout::layout(30000, 20000);
        Layout::Elements e = Layout::designed();
        e.PushButton7.width += 160;
        e.Label1.width += 1000;
        const Layout::Result r = Layout::layout(30000, 20000, e);
        QCOMPARE(r.elements.PushButton7.left, before.elements.PushButton7.left - 80);
        QCOMPARE(r.elements.Label2.left, before.elements.Label2.left - 80 + 1000);
    }

    // The layout's rules at two sizes of a maximized window: the list stretches from its designed
    // corner, the rows sit below it in their order, without overlapping and inside the window,
    // each column keeps one left edge, the left one centred on the middle less 45, and nothing
    // but the list changes size.
    void layoutRules_data() {
        QTest::addColumn<double>("W");
        QTest::addColumn<double>("H");
        QTest::newRow("1024 x 720 pixels") << 15360.0 << 10800.0;
        QTest::newRow("large") << 30000.0 << 20000.0;
    }
    void layoutRules() {
        QFETCH(double, W);
        QFETCH(double, H);
        const Layout::Elements d = Layout::designed();
        const Layout::Elements e = Layout::layout(W, H).elements;
        QCOMPARE(e.ListView1.left, d.ListView1.left);
        QCOMPARE(e.ListView1.top, d.ListView1.top);
        QCOMPARE(e.ListView1.width, W - 330);
        QCOMPARE(e.ListView1.height, H - 3100);

        const std::vector<std::vector<const Layout::Geometry*>> rows = {
            {&e.Label1, &e.Label2}, {&e.PushButton5, &e.PushButton6}, {&e.PushButton9, &e.PushButton10},
            {&e.PushButton7, &e.PushButton1}, {&e.PushButton4}};
        double above = e.ListView1.top + e.ListView1.height;
        for (const auto& row : rows) {
            for (const Layout::Geometry* g : row) {
                QCOMPARE(g->top, row.front()->top);
                QVERIFY(g->top >= above);
                QVERIFY(g->left >= 0 && g->left + g->width <= W);
            }
            above = row.front()->top + row.front()->height;
        }
        QVERIFY(above <= H);

        for (const Layout::Geometry* left : {&e.Label1, &e.PushButton5, &e.PushButton9, &e.PushButton4})
            QCOMPARE(left->left, e.PushButton7.left);
        for (const Layout::Geometry* right : {&e.PushButton6, &e.PushButton10, &e.PushButton1})
            QCOMPARE(right->left, e.Label2.left);
        QVERIFY(e.Label2.left > e.Label1.left + e.Label1.width);
        QVERIFY(qAbs(e.PushButton7.left + e.PushButton7.width / 2 - (W / 2 - 45)) <= 1);

        const std::pair<const Layout::Geometry*, const Layout::Geometry*> same[] = {
            {&e.Label1, &d.Label1},           {&e.Label2, &d.Label2},           {&e.PushButton5, &d.PushButton5},
            {&e.PushButton6, &d.PushButton6}, {&e.PushButton9, &d.PushButton9}, {&e.PushButton10, &d.PushButton10},
            {&e.PushButton7, &d.PushButton7}, {&e.PushButton1, &d.PushButton1}, {&e.PushButton4, &d.PushButton4}};
        for (const auto& [now, designed] : same) {
            QCOMPARE(now->width, designed->width);
            QCOMPARE(now->height, designed->height);
        }
    }

    void wholeRoundsHalvesToEven_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("expected");
        QTest::newRow("2.5") << 2.5 << 2.0;
        QTest::newRow("3.5") << 3.5 << 4.0;
        QTest::newRow("3.4") << 3.4 << 3.0;
        QTest::newRow("3.6") << 3.6 << 4.0;
        QTest::newRow("-2.5") << -2.5 << -2.0;
        QTest::newRow("-3.5") << -3.5 << -4.0;
        QTest::newRow("-0.4") << -0.4 << 0.0;
        QTest::newRow("7804.5") << 7804.5 << 7804.0;
    }
    void wholeRoundsHalvesToEven() {
        QFETCH(double, x);
        QFETCH(double, expected);
        QCOMPARE(Layout::whole(x), expected);
    }

    // Fractional twips (screens that are not 96 DPI): the list width is rounded half to
    // even before the division, the column positions use the rounded window width, and the
    // rows keep their distance from the bottom.
    void fractionalSizes() {
        const Layout::Result r = Layout::layout(8134.5, 5000.25);
        const Layout::Result rounded = Layout::layout(8134, 5000);
        QCOMPARE(r.elements.ListView1.width, 7804.5);
        QCOMPARE(r.columnWidths, rounded.columnWidths);
        QCOMPARE(r.columnWidths, (std::array<int, 6>{1300, 1560, 1560, 1560, 1560, 0}));
        QCOMPARE(5000.25 - r.elements.Label1.top, 5000 - rounded.elements.Label1.top);
        QCOMPARE(r.elements.PushButton7.left, rounded.elements.PushButton7.left);
    }

    void tinyWindowsGiveNoNegativeSizes_data() {
        QTest::addColumn<double>("W");
        QTest::addColumn<double>("H");
        QTest::newRow("nothing") << 0.0 << 0.0;
        QTest::newRow("narrow") << 200.0 << 9000.0;
        QTest::newRow("low") << 9000.0 << 1000.0;
        QTest::newRow("just too small") << 329.0 << 3099.0;
    }
    void tinyWindowsGiveNoNegativeSizes() {
        QFETCH(double, W);
        QFETCH(double, H);
        const Layout::Result r = Layout::layout(W, H);
        const Layout::Elements& e = r.elements;
        for (const Layout::Geometry* g :
             {&e.ListView1, &e.Label1, &e.Label2, &e.PushButton5, &e.PushButton6, &e.PushButton9,
              &e.PushButton10, &e.PushButton7, &e.PushButton1, &e.PushButton4}) {
            QVERIFY(g->width >= 0);
            QVERIFY(g->height >= 0);
        }
        for (int width : r.columnWidths)
            QVERIFY(width >= 0);
        QVERIFY(e.ListView1.width < 1 || e.ListView1.height < 1);
    }
};

QTEST_GUILESS_MAIN(TestSelectionLayout)
#include "tst_selection_layout.moc"
