#include "frame/VbError.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/LeadingNumber.h"
#include "retrieval/MailStore.h"
#include "retrieval/PackedText.h"
#include "retrieval/MessageListModel.h"

#include <QAbstractItemModelTester>
#include <QtTest>

class TestMessageListModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsByPositionWithSubItemsAndChecks();
    void outsideTheListIsSubscriptOutOfRange();
    void userCheckRaisesItemCheckProgrammaticDoesNot();
    void viewsHearOfNewRowsInBatches();
    void clearDropsRowsNotYetAnnounced();
    void storePositionsAndRecreation();
    void storeGivesTextsBackUnchanged_data();
    void storeGivesTextsBackUnchanged();
    void storeBodiesInAScratchFileOrInMemory();
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
    model.announce();
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
    model.announce();
    QSignalSpy spy(&model, &MessageListModel::itemCheck);
    model.setChecked(1, true);
    QCOMPARE(spy.count(), 0);
    QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), 2);
    QVERIFY(model.isChecked(2));
    QVERIFY(!model.setData(model.index(1, 0), "edited", Qt::EditRole));
}

// Appended rows are in the list at once for the handlers and the counts; the views learn of
// them in one insert at the next announcement, by announce() or by the model's own timer.
void TestMessageListModel::viewsHearOfNewRowsInBatches()
{
    MessageListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addColumn("From");
    model.addColumn("From Name");
    QCOMPARE(model.announceInterval(), 50);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy added(&model, &MessageListModel::rowAdded);
    QString total, selected;
    EmailCounts counts(model, [&](const QString& t) { total = t; }, [&](const QString& t) { selected = t; });

    for (int i = 1; i <= 3; ++i)
        QCOMPARE(model.add(QStringLiteral("r%1").arg(i)), i);
    model.setSubItem(2, 1, "Name two");
    model.setChecked(3, true);
    model.setText(1, "first");
    QCOMPARE(added.count(), 3);
    QCOMPARE(added.at(2).first().toInt(), 3);
    QCOMPARE(model.count(), 3);
    QCOMPARE(model.subItem(2, 1), QStringLiteral("Name two"));
    counts.UpdateEmailCounts(false);
    QCOMPARE(total, QStringLiteral("Total Number Of Emails: 3"));
    QCOMPARE(selected, QStringLiteral("Selected Emails: 1"));
    // Not yet for the views: no rows, no signals, no index to check through.
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.announcedCount(), 0);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(changed.count(), 0);
    QVERIFY(!model.index(0, 0).isValid());
    QVERIFY(!model.setData(model.index(2, 0), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(model.isChecked(3));

    model.announce();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toInt(), 0);
    QCOMPARE(inserted.first().at(2).toInt(), 2);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("first"));
    QCOMPARE(model.data(model.index(1, 1)).toString(), QStringLiteral("Name two"));
    QCOMPARE(model.data(model.index(2, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    model.announce(); // nothing new
    QCOMPARE(inserted.count(), 1);

    // Announced rows report their changes; a later row is pending while they do.
    model.add("r4");
    model.setSubItem(2, 1, "Name 2");
    model.setSubItem(4, 1, "Name 4");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().value<QModelIndex>(), model.index(1, 1));
    model.setChecked(4, true);
    QCOMPARE(changed.count(), 1);

    // Left alone, the list announces by itself.
    model.add("r5");
    QCOMPARE(model.rowCount(), 3);
    QTRY_COMPARE(model.rowCount(), 5);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.last().at(1).toInt(), 3);
    QCOMPARE(inserted.last().at(2).toInt(), 4);
    QCOMPARE(model.data(model.index(3, 1)).toString(), QStringLiteral("Name 4"));
    QCOMPARE(model.data(model.index(3, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // A view's check on an announced row goes through as before.
    QSignalSpy itemCheck(&model, &MessageListModel::itemCheck);
    QVERIFY(model.setData(model.index(4, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(itemCheck.count(), 1);
    QCOMPARE(itemCheck.first().first().toInt(), 5);
}

void TestMessageListModel::clearDropsRowsNotYetAnnounced()
{
    MessageListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addColumn("From");
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    model.add("a");
    model.add("b");
    model.clear(); // no view saw them: nothing to tell
    QCOMPARE(model.count(), 0);
    QCOMPARE(reset.count(), 0);

    model.add("c");
    model.announce();
    model.add("d");
    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.count(), 0);

    // The next row is announced on its own, as row 1; nothing of the cleared ones comes back.
    model.setAnnounceInterval(0);
    QCOMPARE(model.add("e"), 1);
    QTRY_COMPARE(model.rowCount(), 1);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.last().at(1).toInt(), 0);
    QCOMPARE(inserted.last().at(2).toInt(), 0);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("e"));
}

void TestMessageListModel::storePositionsAndRecreation()
{
    MailStore store;
    store.recreate(3);
    QCOMPARE(store.size(), 3);
    store.set(3, MailStore::PlainTextBody, "body");
    QCOMPARE(store.at(3).PlainTextBody, QStringLiteral("body"));
    QVERIFY_THROWS_EXCEPTION(VbError, store.at(0));
    QVERIFY_THROWS_EXCEPTION(VbError, store.at(4));
    QVERIFY_THROWS_EXCEPTION(VbError, store.field(4, MailStore::Subject));
    QVERIFY_THROWS_EXCEPTION(VbError, store.set(0, MailStore::PlainTextBody, "x"));
    QVERIFY_THROWS_EXCEPTION(VbError, store.set(4, MailRecord{}));
    store.recreate(2);
    QCOMPARE(store.at(2).PlainTextBody, QString());
    store.recreate(0);
    QCOMPARE(store.size(), 0);
}

void TestMessageListModel::storeGivesTextsBackUnchanged_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("packedSmall"); // held in under a quarter of its UTF-16 size
    QString random;
    QRandomGenerator generator(21);
    for (int i = 0; i < 300000; ++i)
        random += QChar(char16_t(generator.bounded(0x20, 0xD7FF)));
    QString repetitive;
    for (int i = 0; repetitive.size() < 3000000; ++i)
        repetitive += QStringLiteral("Line %1 of a long newsletter: Grüße, 日本語, \U0001F600.\r\n").arg(i);
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls += QChar(c);
    controls += controls;
    controls += QStringLiteral("\x7f\u0085\u2028\uFEFF\uFFFE\uFFFF");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("one letter") << QStringLiteral("x") << false;
    QTest::newRow("short, not worth packing") << QStringLiteral("Hi Ann,\r\nsee you at 5.\r\n") << false;
    QTest::newRow("huge, repetitive") << repetitive << true;
    QTest::newRow("random, does not shrink") << random << false;
    QTest::newRow("outside the BMP")
        << QStringLiteral("\U0001F600\U0001F4E7 \U00020000\U0010FFFF mail ").repeated(40) << false;
    QTest::newRow("control characters, NUL among them") << controls << false;
    QTest::newRow("unpaired surrogates, short")
        << QString(QChar(0xD800)) + QStringLiteral("a") + QChar(0xDC00) << false;
    QTest::newRow("unpaired surrogate in a long text")
        << QStringLiteral("long body ").repeated(100) + QChar(0xDBFF) + QStringLiteral(" end") + QChar(0xD83D)
        << false; // the high half of an emoji cut off at the end
}

void TestMessageListModel::storeGivesTextsBackUnchanged()
{
    QFETCH(QString, text);
    QFETCH(bool, packedSmall);
    MailStore store;
    store.recreate(2);
    const MailStore::Field fields[] = {
        MailStore::From,         MailStore::FromName,      MailStore::FromAddress, MailStore::Subject,
        MailStore::ReceivedDate, MailStore::PlainTextBody, MailStore::HTMLTextBody};
    for (const MailStore::Field field : fields)
        store.set(2, field, text);
    const MailRecord record = store.at(2);
    for (const QString& got : {record.From, record.FromName, record.FromAddress, record.Subject,
                               record.ReceivedDate, record.PlainTextBody, record.HTMLTextBody})
        QCOMPARE(got, text);
    for (const MailStore::Field field : fields)
        QCOMPARE(store.field(2, field), text);
    // A whole record at once, beside an untouched one.
    store.set(1, MailRecord{"f", "n", "a", "s", "d", text, text + QLatin1Char('!')});
    QCOMPARE(store.field(1, MailStore::PlainTextBody), text);
    QCOMPARE(store.field(1, MailStore::HTMLTextBody), text + QLatin1Char('!'));
    QCOMPARE(store.field(1, MailStore::Subject), QStringLiteral("s"));
    if (packedSmall)
        QVERIFY(PackedText::pack(text).size() * 4 < text.size() * qsizetype(sizeof(QChar)));
}

// Packed bodies of some size go to a scratch file that has no name in the temporary folder;
// where no such file can be made, they stay in memory. Either way they read back the same.
void TestMessageListModel::storeBodiesInAScratchFileOrInMemory()
{
    QTemporaryDir temp;
    QString big;
    for (int i = 0; big.size() < 200000; ++i)
        big += QString::number(i * 7919 % 100003) + QLatin1Char(' ');
    for (const bool folderUsable : {true, false}) {
        MailStore store;
        store.setScratchFolder(folderUsable ? temp.path() : temp.filePath(QStringLiteral("missing")));
        store.recreate(3);
        store.set(1, MailStore::PlainTextBody, big);
        store.set(2, MailRecord{"f", "n", "a", "s", "d", QStringLiteral("short"), big + QLatin1Char('!')});
        store.set(1, MailStore::HTMLTextBody, big.left(1000));
        QCOMPARE(store.spilledBodyBytes() > 0, folderUsable);
        QVERIFY(store.packedBodyBytes() > 0);
        QVERIFY(QDir(temp.path()).entryList(QDir::Files).isEmpty());
        QCOMPARE(store.field(1, MailStore::PlainTextBody), big);
        QCOMPARE(store.at(2).HTMLTextBody, big + QLatin1Char('!'));
        QCOMPARE(store.at(2).PlainTextBody, QStringLiteral("short"));
        QCOMPARE(store.field(1, MailStore::HTMLTextBody), big.left(1000));
        // A new retrieval starts from an empty file.
        store.recreate(1);
        QCOMPARE(store.spilledBodyBytes(), 0);
        store.set(1, MailStore::PlainTextBody, big.mid(5));
        QCOMPARE(store.field(1, MailStore::PlainTextBody), big.mid(5));
    }
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
