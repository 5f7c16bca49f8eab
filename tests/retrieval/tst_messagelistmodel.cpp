#include "frame/VbError.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/LeadingNumber.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"

#include <QAbstractItemModelTester>
#include <QtTest>

class TestMessageListModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsByPositionWithSubItemsAndChecks();
    void outsideTheListIsSubscriptOutOfRange();
    void userCheckRaisesItemCheckProgrammaticDoesNot();
    void storePositionsAndRecreation();
    void counts();
    void leadingNumberParse_data();
    void leadingNumberParse();
    void roundingToLong();
};

void TestMessageListModel::rowsByPositionWithSubItemsAndChecks()
{
    MessageListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (const char* caption : {"From", "From Name", "From Address", "Subject", "Received Date", "RecDate"})
        model.addColumn(QString::fromLatin1(caption));
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.columnCaption(6), QStringLiteral("RecDate"));

    QCOMPARE(model.add("a@x"), 1);
    QCOMPARE(model.add("b@x"), 2);
    QCOMPARE(model.add("a@x"), 3);  // duplicates are rows of their own
    model.setSubItem(2, 3, "Subject two");
    model.setSubItem(2, 5, "46363");
    model.setChecked(2, true);
    QCOMPARE(model.text(2), QStringLiteral("b@x"));
    QCOMPARE(model.subItem(2, 3), QStringLiteral("Subject two"));
    QCOMPARE(model.subItem(1, 3), QString());
    QVERIFY(model.isChecked(2));
    QVERIFY(!model.isChecked(1) && !model.isChecked(3));
    QCOMPARE(model.data(model.index(1, 3)).toString(), QStringLiteral("Subject two"));
    QCOMPARE(model.data(model.index(1, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Received Date"));
    model.clear();
    QCOMPARE(model.count(), 0);
}

void TestMessageListModel::outsideTheListIsSubscriptOutOfRange()
{
    MessageListModel model;
    model.addColumn("From");
    model.add("x");
    const auto expectNine = [](auto&& call) {
        try {
            call();
            QFAIL("no error raised");
        } catch (const VbError& e) {
            QCOMPARE(e.number(), 9);
        }
    };
    expectNine([&] { model.text(0); });
    expectNine([&] { model.text(2); });
    expectNine([&] { model.setChecked(5, true); });
    expectNine([&] { model.subItem(1, 6); });
    expectNine([&] { model.setSubItem(1, 0, "x"); });
    expectNine([&] { model.columnCaption(2); });
}

void TestMessageListModel::userCheckRaisesItemCheckProgrammaticDoesNot()
{
    MessageListModel model;
    model.addColumn("From");
    model.add("x");
    model.add("y");
    QSignalSpy spy(&model, &MessageListModel::itemCheck);
    model.setChecked(1, true);
    QCOMPARE(spy.count(), 0);
    QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), 2);
    QVERIFY(model.isChecked(2));
    QVERIFY(!model.setData(model.index(1, 0), "edited", Qt::EditRole));
}

void TestMessageListModel::storePositionsAndRecreation()
{
    MailStore store;
    store.recreate(3);
    QCOMPARE(store.size(), 3);
    store.at(3).PlainTextBody = "body";
    QCOMPARE(store.at(3).PlainTextBody, QStringLiteral("body"));
    QVERIFY_THROWS_EXCEPTION(VbError, store.at(0));
    QVERIFY_THROWS_EXCEPTION(VbError, store.at(4));
    store.recreate(2);
    QCOMPARE(store.at(2).PlainTextBody, QString());
    store.recreate(0);
    QCOMPARE(store.size(), 0);
}

void TestMessageListModel::counts()
{
    MessageListModel model;
    model.addColumn("From");
    QString total, selected;
    EmailCounts counts(model, [&](const QString& t) { total = t; }, [&](const QString& t) { selected = t; });
    counts.UpdateEmailCounts(false);
    QCOMPARE(total, QStringLiteral("Total Number Of Emails: 0"));
    QCOMPARE(selected, QStringLiteral("Selected Emails: 0"));
    for (int i = 0; i < 3; ++i)
        model.add("r");
    model.setChecked(1, true);
    model.setChecked(3, true);
    counts.UpdateEmailCounts(false);
    QCOMPARE(total, QStringLiteral("Total Number Of Emails: 3"));
    QCOMPARE(selected, QStringLiteral("Selected Emails: 2"));
    counts.UpdateEmailCounts(true);
    QCOMPARE(total, QStringLiteral("Total Number Of Emails: 0"));
    QCOMPARE(selected, QStringLiteral("Selected Emails: 0"));
}

void TestMessageListModel::leadingNumberParse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "12" << 12.0;
    QTest::newRow("blanks") << "   7" << 7.0;
    QTest::newRow("trailing text") << "42abc" << 42.0;
    QTest::newRow("decimal") << "2.5" << 2.5;
    QTest::newRow("negative") << "-3" << -3.0;
    QTest::newRow("exponent") << "1e3x" << 1000.0;
    QTest::newRow("lonely exponent") << "5e" << 5.0;
    QTest::newRow("not a number") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    // Too small for a double: zero, not an overflow (found by fuzzing).
    QTest::newRow("underflow") << "1e-400" << 0.0;
    QTest::newRow("underflow by digits") << "0." + QString(400, QLatin1Char('0')) + "1" << 0.0;
    QTest::newRow("fuzz: underflow") << "001E-42150.0E-2.5410002" << 0.0;
    QTest::newRow("overflow by digits") << "-1" + QString(400, QLatin1Char('0')) << -qInf();
}

void TestMessageListModel::leadingNumberParse()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(leadingNumber(text), value);
}

void TestMessageListModel::roundingToLong()
{
    QCOMPARE(roundToLong(2.5), 2);
    QCOMPARE(roundToLong(3.5), 4);
    QCOMPARE(roundToLong(-2.5), -2);
    QCOMPARE(roundToLong(2147483647.0), 2147483647);
    try {
        roundToLong(2147483648.0);
        QFAIL("no overflow");
    } catch (const VbError& e) {
        QCOMPARE(e.number(), 6);
    }
    QVERIFY_THROWS_EXCEPTION(VbError, roundToLong(leadingNumber("1e400")));
    QCOMPARE(roundToLong(leadingNumber("-1e-400")), 0);
}

QTEST_GUILESS_MAIN(TestMessageListModel)
#include "tst_messagelistmodel.moc"
