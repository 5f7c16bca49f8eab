#include "frame/GeneralDate.h"

#include <QtTest>

class TestGeneralDate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void midnightGivesTheDateAlone();
    void roundTripsInSeveralLocales_data();
    void roundTripsInSeveralLocales();
    void serialDays();
    void unreadableTextIsNoDate();
};

void TestGeneralDate::midnightGivesTheDateAlone()
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(GeneralDate::format(QDateTime(QDate(2026, 12, 7), QTime(0, 0)), us), QStringLiteral("12/7/2026"));
    QCOMPARE(GeneralDate::format(QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)), us),
             QStringLiteral("12/7/2026 9:30:00 AM"));
    // Years keep all four digits even where the locale's short date has two.
    QVERIFY(!GeneralDate::datePattern(us).contains("yy") || GeneralDate::datePattern(us).contains("yyyy"));
    QVERIFY(!GeneralDate::timePattern(us).contains('t'));
}

void TestGeneralDate::roundTripsInSeveralLocales_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("C") << QLocale::c();
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom);
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany);
    QTest::newRow("ja_JP") << QLocale(QLocale::Japanese, QLocale::Japan);
}

void TestGeneralDate::roundTripsInSeveralLocales()
{
    QFETCH(QLocale, locale);
    const QDateTime samples[] = {
        QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)),  QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0)),
        QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)),  QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0)),
        QDateTime(QDate(1999, 1, 31), QTime(23, 59, 59)), QDateTime(QDate(2030, 6, 15), QTime(0, 0, 1)),
    };
    for (const QDateTime& when : samples) {
        const QString text = GeneralDate::format(when, locale);
        const auto back = GeneralDate::parse(text, locale);
        QVERIFY2(back.has_value(), qPrintable(text));
        QCOMPARE(*back, when);
    }
}

void TestGeneralDate::serialDays()
{
    // Days since 30 December 1899, rounded half to even.
    QCOMPARE(GeneralDate::roundedSerialDay(QDateTime(QDate(2026, 12, 7), QTime(9, 30))), 46363);
    QCOMPARE(GeneralDate::roundedSerialDay(QDateTime(QDate(2026, 12, 7), QTime(18, 0))), 46364);
    QCOMPARE(GeneralDate::roundedSerialDay(QDateTime(QDate(2026, 12, 7), QTime(12, 0))), 46364);
    QCOMPARE(GeneralDate::roundedSerialDay(QDateTime(QDate(2026, 12, 8), QTime(12, 0))), 46364);
    QCOMPARE(GeneralDate::serialDay(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    QCOMPARE(GeneralDate::serialDay(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
}

void TestGeneralDate::unreadableTextIsNoDate()
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QVERIFY(!GeneralDate::parse(QString(), us));
    QVERIFY(!GeneralDate::parse(QStringLiteral("yesterday"), us));
    QVERIFY(!GeneralDate::parse(QStringLiteral("13/45/2026"), us));
}

QTEST_GUILESS_MAIN(TestGeneralDate)
#include "tst_generaldate.moc"
