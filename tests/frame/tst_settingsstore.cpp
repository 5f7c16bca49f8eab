#include "export/FakeSpreadsheetDesktop.h"
#include "frame/IniSettingsStore.h"
#include "frame/KeychainSecretStore.h"
#include "frame/SecretSettingsStore.h"
#include "frame/SettingsKeys.h"
#include "frame/VbError.h"
#include "support/FakeCommandRunner.h"
#include "support/KeyringHarness.h"
#include "support/ScriptedMessageBoxes.h"
#include "ui/Form1.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
enum class Keyring { NoSessionBus, Unlocked, NeverAnswers, Gone };

// The program's settings over a settings file and the desktop keyring, and a main window
// loaded from them as at start-up.
struct Program {
    Program(const QString& ini, int keyringTimeoutMs)
        : file(ini)
        , keyring(keyringTimeoutMs)
        , settings(file, keyring)
    {
        Services services;
        services.boxes = &boxes;
        services.settings = &settings;
        services.commands = &commands;
        services.desktop = &desktop;
        form = std::make_unique<Form1>(services);
        form->Form_Unload = [] {};
        form->Form_Load();
    }

    IniSettingsStore file;
    KeychainSecretStore keyring;
    SecretSettingsStore settings;
    ScriptedMessageBoxes boxes;
    FakeCommandRunner commands;
    FakeSpreadsheetDesktop desktop;
    std::unique_ptr<Form1> form;
};

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void readsNeverCreateKeys();
    void writesReachDiskAtOnceAndAreOwnerOnly();
    void valuesComeBackExactly();
    void typedReadings_data();
    void typedReadings();
    void defaultLocationHonoursTheConfigFolder();
    void keyTableDefaults();
    void rememberedSignInAndTheKeyring_data();
    void rememberedSignInAndTheKeyring();

private:
    // Started by the first case that wants a keyring, after the one without a session bus.
    std::unique_ptr<KeyringHarness> m_keyring;
    QString m_noKeyring; // why the keyring cases are skipped
};

void TestSettingsStore::initTestCase()
{
    m_noKeyring = KeyringHarness::missingPackages();
    if (!m_noKeyring.isEmpty())
        return;
    // No session bus until the keyring cases start theirs.
    m_keyring = std::make_unique<KeyringHarness>();
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_keyring->path("no-bus")));
}

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
    IniSettingsStore(path).remove("Password");
    QVERIFY(!IniSettingsStore(path).value("Password").has_value());
    QVERIFY(!fileText(path).contains("Password"));
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

// A sign-in remembered by an earlier version (password and Microsoft refresh token in the
// file), read at start-up, changed, carried along when the account is renamed, and erased by
// unchecking "Remember me": with an unlocked keyring the secrets live there and no file holds
// them; with no session bus, a keyring that never answers or none at all, the settings file
// keeps them as before, each wait ends, and the window processes its events while it waits.
// The rows run in this order: the bus and keyring start for the second, the keyring is frozen
// for the third and ended for the fourth.
void TestSettingsStore::rememberedSignInAndTheKeyring_data()
{
    QTest::addColumn<Keyring>("keyring");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("no session bus") << Keyring::NoSessionBus << 3000;
    QTest::newRow("unlocked") << Keyring::Unlocked << 10000;
    QTest::newRow("never answers") << Keyring::NeverAnswers << 300;
    QTest::newRow("no secret service") << Keyring::Gone << 3000;
}

void TestSettingsStore::rememberedSignInAndTheKeyring()
{
    QFETCH(Keyring, keyring);
    QFETCH(int, timeoutMs);
    if (!m_noKeyring.isEmpty())
        QSKIP(qPrintable(m_noKeyring));
    if (keyring != Keyring::NoSessionBus && !m_keyring->isRunning())
        QVERIFY2(m_keyring->start(), qPrintable(m_keyring->errorText()));
    if (keyring == Keyring::NeverAnswers)
        m_keyring->freeze();
    if (keyring == Keyring::Gone)
        m_keyring->stopKeyring();
    const auto thaw = qScopeGuard([&] {
        if (keyring == Keyring::NeverAnswers)
            m_keyring->thaw();
    });
    const bool inKeyring = keyring == Keyring::Unlocked;
    if (keyring == Keyring::NeverAnswers) {
        // The wait processes the window's events, ends, and is not repeated.
        KeychainSecretStore store(timeoutMs);
        bool yielded = false;
        QTimer::singleShot(0, [&] { yielded = true; });
        QString secret;
        QCOMPARE(store.read("anyone (password)", secret), SecretStore::Result::Unavailable);
        QVERIFY(yielded);
        QVERIFY(store.gaveUp());
        QCOMPARE(store.write("anyone (password)", "x"), SecretStore::Result::Unavailable);
    }

    QTemporaryDir dir;
    const QString ini = dir.filePath("Wenlowe/Wenlowe.ini");
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
    const QString user = tag + "@example.com";
    const QString oldPassword = "old pass " + tag + " wörd";
    const QString token = "refresh-token-" + tag;
    {
        IniSettingsStore earlier(ini);
        earlier.setValue("StayConnected", "1");
        earlier.setValue("User", user);
        earlier.setValue("Password", oldPassword);
        earlier.setValue("OAuthRefreshToken", token);
    }
    const auto entry = [](const SettingsKey& key, const QString& account) {
        return SecretSettingsStore::entryName(key.key(), account);
    };
    const auto lookup = [&](const SettingsKey& key, const QString& account) {
        return m_keyring->lookup(KeychainSecretStore::label(entry(key, account)), entry(key, account));
    };

    // First start: the remembered sign-in is in the boxes, and the old secrets moved.
    {
        Program program(ini, timeoutMs);
        QCOMPARE(program.form->Text1->text(), user);
        QCOMPARE(program.form->Text2->text(), oldPassword);
        QCOMPARE(program.settings.get(SettingsKeys::OAuthRefreshToken), token); // what the sign-in reads
        QCOMPARE(fileText(ini).contains("Password="), !inKeyring);
        QCOMPARE(fileText(ini).contains("OAuthRefreshToken="), !inKeyring);
        QCOMPARE(fileText(ini).contains("User="), true);
        if (inKeyring) {
            QCOMPARE(lookup(SettingsKeys::Password, user), oldPassword);
            QCOMPARE(lookup(SettingsKeys::OAuthRefreshToken, user), token);
        }
        QCOMPARE(program.keyring.gaveUp(), !inKeyring);
    }

    // Second start: a new password typed, the account renamed; every wait let the window work.
    const QString renamed = "renamed-" + user;
    const QString newPassword = "new pass " + tag;
    {
        Program program(ini, timeoutMs);
        program.form->Text2->clear();
        QTest::keyClicks(program.form->Text2, newPassword);
        program.form->Text1->setText(renamed);
        if (inKeyring) {
            QCOMPARE(lookup(SettingsKeys::Password, renamed), newPassword);
            QCOMPARE(lookup(SettingsKeys::OAuthRefreshToken, renamed), token);
            QVERIFY(!lookup(SettingsKeys::Password, user));
            const QString password = entry(SettingsKeys::Password, renamed);
            QCOMPARE(m_keyring->label(KeychainSecretStore::label(password), password),
                     QStringLiteral("Corvanel: %1 (password)").arg(renamed));
        } else {
            QCOMPARE(IniSettingsStore(ini).get("Password"), newPassword);
        }
    }

    // Third start: signed in without typing; unchecking "Remember me" erases every secret.
    {
        Program program(ini, timeoutMs);
        QCOMPARE(program.form->Text1->text(), renamed);
        QCOMPARE(program.form->Text2->text(), newPassword);
        program.form->Check1->setChecked(false);
        QVERIFY(!program.settings.value("Password").value_or(QString()).size());
        QCOMPARE(program.settings.get(SettingsKeys::OAuthRefreshToken), QString());
    }
    if (inKeyring) {
        QVERIFY(!lookup(SettingsKeys::Password, renamed));
        QVERIFY(!lookup(SettingsKeys::OAuthRefreshToken, renamed));
        QVERIFY(!lookup(SettingsKeys::Password, QString()));
    }
    for (const QString& secret : {oldPassword, newPassword, token})
        QVERIFY2(!m_keyring->anyFileHolds(dir.path(), secret.toUtf8()), qPrintable(secret));
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
