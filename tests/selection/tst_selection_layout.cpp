#include "selection/LargerListLayout.h"

#include <QtTest>

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

    // The positions of the two columns follow the current widths, not fixed numbers.
    void columnsFollowTheElementWidths() {
        Layout::Elements e = Layout::designed();
        e.PushButton7.width = 4000;
        e.Label1.width = 3000;
        const Layout::Result r = Layout::layout(30000, 20000, e);
        QCOMPARE(r.elements.PushButton7.left, 15000.0 - 2000 - 45);
        QCOMPARE(r.elements.Label2.left, 12955.0 + 3000 + 120);
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
    // even before the division, the column positions use the rounded window width.
    void fractionalSizes() {
        const Layout::Result r = Layout::layout(8134.5, 5000.25);
        QCOMPARE(r.elements.ListView1.width, 7804.5);
        QCOMPARE(r.columnWidths, (std::array<int, 6>{1300, 1560, 1560, 1560, 1560, 0}));
        QCOMPARE(r.elements.Label1.top, 5000.25 - 2865);
        QCOMPARE(r.elements.PushButton7.left, double(4067 - 1920 - 45));
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
