#include "frame/IniSettingsStore.h"
#include "frame/SettingsKeys.h"
#include "frame/VbError.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsNeverCreateKeys();
    void writesReachDiskAtOnceAndAreOwnerOnly();
    void valuesComeBackExactly();
    void typedReadings_data();
    void typedReadings();
    void defaultLocationHonoursTheConfigFolder();
    void keyTableDefaults();
};

void TestSettingsStore::readsNeverCreateKeys()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Wenlowe/Wenlowe.ini");
    IniSettingsStore store(path);
    QCOMPARE(store.get("User", "fallback"), QStringLiteral("fallback"));
    QVERIFY(!store.value("User").has_value());
    QCOMPARE(store.readInt("StayConnected", 0), 0);
    QCOMPARE(store.readBool("Option3", true), true);
    QVERIFY(!QFileInfo::exists(path));
}

void TestSettingsStore::writesReachDiskAtOnceAndAreOwnerOnly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Wenlowe/Wenlowe.ini");
    {
        IniSettingsStore store(path);
        store.setValue("Combo1", "2");
        // Another reader sees the value before the writer goes away.
        IniSettingsStore other(path);
        QCOMPARE(other.get("Combo1"), QStringLiteral("2"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.contains("[Corvanel]"));
        QVERIFY(content.contains("Combo1=2"));
    }
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
}

void TestSettingsStore::valuesComeBackExactly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("s.ini");
    const QString password = QStringLiteral(" p a\"s\\s wörd; =x# ");
    IniSettingsStore(path).setValue("Password", password);
    QCOMPARE(IniSettingsStore(path).get("Password"), password);
    IniSettingsStore(path).setValue("Password", QString());
    QCOMPARE(IniSettingsStore(path).value("Password"), std::optional<QString>(QString()));
}

void TestSettingsStore::typedReadings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("asInt");    // -1000 = type mismatch, -2000 = overflow
    QTest::addColumn<int>("asBool");   // -1000 = type mismatch
    QTest::newRow("one") << "1" << 1 << 1;
    QTest::newRow("zero") << "0" << 0 << 0;
    QTest::newRow("spaces") << " 2 " << 2 << 1;
    QTest::newRow("True") << "True" << -1000 << 1;
    QTest::newRow("false lower") << "false" << -1000 << 0;
    QTest::newRow("letters") << "abc" << -1000 << -1000;
    QTest::newRow("empty") << "" << -1000 << -1000;
    QTest::newRow("half to even") << "2.5" << 2 << 1;
    QTest::newRow("too big") << "40000" << -2000 << 1;
}

void TestSettingsStore::typedReadings()
{
    QFETCH(QString, text);
    QFETCH(int, asInt);
    QFETCH(int, asBool);
    try {
        const int value = SettingsStore::toInt(text);
        QCOMPARE(value, asInt);
    } catch (const VbError& e) {
        QCOMPARE(e.number(), asInt == -2000 ? 6 : 13);
        QVERIFY(asInt <= -1000);
    }
    try {
        const bool value = SettingsStore::toBool(text);
        QCOMPARE(int(value), asBool);
    } catch (const VbError& e) {
        QCOMPARE(e.number(), 13);
        QCOMPARE(asBool, -1000);
    }
}

void TestSettingsStore::defaultLocationHonoursTheConfigFolder()
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    QCOMPARE(IniSettingsStore::defaultIniPath(), dir.filePath("Wenlowe/Wenlowe.ini"));
    qunsetenv("XDG_CONFIG_HOME");
}

// The one table of keys: names are unique, the stored names are all there, a missing key reads
// as its default (so a default the typed readings could not take would show here), and a write
// reaches the named key.
void TestSettingsStore::keyTableDefaults()
{
    QTemporaryDir dir;
    IniSettingsStore store(dir.filePath("Wenlowe/Wenlowe.ini"));
    QSet<QString> names;
    for (const SettingsKey& key : SettingsKeys::all) {
        QVERIFY2(!names.contains(key.key()), key.name);
        names.insert(key.key());
        QCOMPARE(store.get(key), key.defaultValue());
    }
    // The names a settings file written before holds are all still read.
    for (const char* stored :
         {"StayConnected", "AutoConnect", "User", "Password", "Combo1", "Option3", "Option5", "Option6",
          "Option7", "Option9", "Server", "Port", "CACertificates"})
        QVERIFY2(names.contains(QString::fromLatin1(stored)), stored);
    QCOMPARE(store.readInt(SettingsKeys::StayConnected), 0);
    QCOMPARE(store.readInt(SettingsKeys::AutoConnect), 0);
    QCOMPARE(store.readInt(SettingsKeys::Combo1), 0);
    QCOMPARE(store.readBool(SettingsKeys::Option3), true);
    for (const SettingsKey& option : {SettingsKeys::Option5, SettingsKeys::Option6, SettingsKeys::Option7,
                                      SettingsKeys::Option9})
        QCOMPARE(store.readBool(option), false);
    QVERIFY(!QFileInfo::exists(dir.filePath("Wenlowe/Wenlowe.ini")));

    store.write(SettingsKeys::Option5, QStringLiteral("True"));
    QCOMPARE(store.value(QStringLiteral("Option5")), std::optional<QString>(QStringLiteral("True")));
    QCOMPARE(store.readBool(SettingsKeys::Option5), true);
    store.setValue(QStringLiteral("Combo1"), QStringLiteral("x"));
    QVERIFY_THROWS_EXCEPTION(VbError, store.readInt(SettingsKeys::Combo1));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
