#include "frame/GeneralDate.h"
#include "frame/TimeZoneLookup.h"

#include <QTimeZone>

#include <QtTest>

class TestGeneralDate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void midnightGivesTheDateAlone();
    void roundTripsInSeveralLocales_data();
    void roundTripsInSeveralLocales();
    void serialDays();
    void unreadableTextIsNoDate();
    void pinnedTimeZoneKeepsTheZoneAndTheTexts();
};

void TestGeneralDate::midnightGivesTheDateAlone()
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(GeneralDate::format(QDateTime(QDate(2026, 12, 7), QTime(0, 0)), us),
             QStringLiteral("12/7/2026"));
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
        QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)),   QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0)),
        QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)),   QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0)),
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

void TestGeneralDate::pinnedTimeZoneKeepsTheZoneAndTheTexts()
{
    const QByteArray given = qgetenv("TZ");
    const bool wasSet = qEnvironmentVariableIsSet("TZ");
    const auto restore = qScopeGuard([&] {
        if (wasSet)
            qputenv("TZ", given);
        else
            qunsetenv("TZ");
    });
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QDateTime summer = QDateTime::fromSecsSinceEpoch(1782900000, Qt::UTC);
    const QDateTime winter = QDateTime::fromSecsSinceEpoch(1796000000, Qt::UTC);

    // Unset: the machine's own zone, named once.
    qunsetenv("TZ");
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    const QString texts = GeneralDate::format(summer, us) + GeneralDate::format(winter, us);
    pinTimeZoneLookup();
    QCOMPARE(qgetenv("TZ"), QByteArray(":/etc/localtime"));
    QCOMPARE(QTimeZone::systemTimeZoneId(), zone);
    QCOMPARE(GeneralDate::format(summer, us) + GeneralDate::format(winter, us), texts);

    // A zone the user chose stays.
    qputenv("TZ", "Europe/Paris");
    pinTimeZoneLookup();
    QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Paris"));
    QCOMPARE(summer.toLocalTime().offsetFromUtc(), 7200);
}

QTEST_GUILESS_MAIN(TestGeneralDate)
#include "tst_generaldate.moc"
