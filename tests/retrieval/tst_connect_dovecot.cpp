#include "frame/IniSettingsStore.h"
#include "mail/ImapClient.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/MessageListModel.h"
#include "support/DovecotHarness.h"
#include "support/MainWindowFixture.h"
#include "ui/ProgramStart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kLoginFailed = QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n");
}

class TestConnectDovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void accountNameRule();
    void connectThenDisconnectForgetting();
    void disconnectRememberingKeepsTheSignIn();
    void wrongPassword();
    void rememberedSignInConnectsAtStart();
    void passwordWithAwkwardCharacters();
    void settingsFileHoldsNoUnrememberedPassword();

private:
    DovecotHarness m_server;
    const QString m_awkwardUser = QStringLiteral("awkward@corvanel.test");
    const QString m_awkwardPassword = QStringLiteral(" p\"a s\\s wörd ");
};

void TestConnectDovecot::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    QVERIFY(m_server.addUser(m_awkwardUser, m_awkwardPassword));
    m_server.writeMessage("Inbox", "From: a@b.c\r\nSubject: one\r\n\r\nbody\r\n");
}

void TestConnectDovecot::accountNameRule()
{
    MainWindowFixture w;
    w.pointTo(m_server);
    Form1& f = w.load();
    f.Text1->setText("ann.tester");
    QCOMPARE(f.connection().accountName(), QStringLiteral("ann.tester"));  // "Live!ID": the box alone
    f.Combo1->setCurrentIndex(2);
    QCOMPARE(f.connection().accountName(), QStringLiteral("ann.tester@outlook.com"));
    f.Text1->clear();
    QCOMPARE(f.connection().accountName(), QStringLiteral("@outlook.com"));
    QCOMPARE(w.settings.get("Combo1"), QStringLiteral("2"));

    // Without a Server setting the host follows the address's domain.
    MainWindowFixture plain;
    Form1& g = plain.load();
    g.Combo1->setCurrentIndex(0);
    g.Text1->setText("ann@gmail.com");
    QCOMPARE(g.connection().imapServer(), QStringLiteral("imap.gmail.com"));
    g.Text1->setText("ann@contoso.com");
    QCOMPARE(g.connection().imapServer(), QStringLiteral("outlook.office365.com"));
    g.Text1->setText("ann");
    g.Combo1->setCurrentIndex(2);
    QCOMPARE(g.connection().imapServer(), QStringLiteral("outlook.office365.com"));
    plain.settings.preset("Server", "imap.example.test");
    g.Text1->setText("ann@gmail.com");
    g.Combo1->setCurrentIndex(0);
    QCOMPARE(g.connection().imapServer(), QStringLiteral("imap.example.test"));
}

void TestConnectDovecot::connectThenDisconnectForgetting()
{
    MainWindowFixture w;
    w.pointTo(m_server);
    Form1& f = w.load();
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    QVERIFY(w.boxes.shown().isEmpty());
    QVERIFY(f.oChilkat());
    QCOMPARE(f.pointer.value(), 0);
    f.list().add("row");
    f.PushButton1->click();
    QCOMPARE(f.PushButton1->text(), QStringLiteral("1. Connect"));
    QCOMPARE(f.progressText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
    QVERIFY(!f.oChilkat());
    QCOMPARE(f.list().count(), 0);
    QCOMPARE(f.Label1->text(), QStringLiteral("Total Number Of Emails: 0"));
    QVERIFY(f.Text1->text().isEmpty() && f.Text2->text().isEmpty());
    QCOMPARE(w.settings.get("User", "unset"), QString());
    QCOMPARE(w.settings.get("Password", "unset"), QString());
}

void TestConnectDovecot::disconnectRememberingKeepsTheSignIn()
{
    MainWindowFixture w;
    w.pointTo(m_server);
    Form1& f = w.load();
    f.Check1->setChecked(true);
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.PushButton1->click();
    QCOMPARE(f.PushButton1->text(), QStringLiteral("1. Connect"));
    QCOMPARE(f.Text1->text(), DovecotHarness::defaultUser());
    QCOMPARE(w.settings.get("User"), DovecotHarness::defaultUser());
    QCOMPARE(w.settings.get("Password"), DovecotHarness::defaultPassword());
}

void TestConnectDovecot::wrongPassword()
{
    MainWindowFixture w;
    w.pointTo(m_server);
    Form1& f = w.load();
    QVERIFY(!w.connectAs(DovecotHarness::defaultUser(), "not the password"));
    QCOMPARE(w.boxes.texts(), QStringList{kLoginFailed});
    QCOMPARE(f.progressText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
    QCOMPARE(f.PushButton1->text(), QStringLiteral("1. Connect"));
    QVERIFY(!f.oChilkat());
    // The password never reaches the component's diagnostics.
    QVERIFY(!f.component().lastErrorText().contains("not the password"));
}

void TestConnectDovecot::rememberedSignInConnectsAtStart()
{
    MainWindowFixture w;
    w.pointTo(m_server);
    w.settings.preset("StayConnected", "1");
    w.settings.preset("AutoConnect", "1");
    w.settings.preset("User", DovecotHarness::defaultUser());
    w.settings.preset("Password", DovecotHarness::defaultPassword());
    w.settings.preset("Option6", "True");
    w.settings.preset("Option3", "False");
    w.settings.preset("Combo1", "0");
    Form1& f = w.load();
    QVERIFY(f.Check2->isChecked());
    QCOMPARE(f.PushButton1->text(), QStringLiteral("Disconnect"));
    QVERIFY(w.boxes.shown().isEmpty());
    // The choices come back at the next start over the same store.
    MainWindowFixture next;
    next.settings = w.settings;
    next.settings.preset("AutoConnect", "0");
    Form1& again = next.load();
    QVERIFY(again.Option6->isChecked());
    QCOMPARE(again.Text1->text(), DovecotHarness::defaultUser());
    QCOMPARE(again.PushButton1->text(), QStringLiteral("1. Connect"));
}

void TestConnectDovecot::passwordWithAwkwardCharacters()
{
    MainWindowFixture w;
    w.pointTo(m_server);
    Form1& f = w.load();
    QVERIFY(w.connectAs(m_awkwardUser, m_awkwardPassword));
    QVERIFY(w.boxes.shown().isEmpty());
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts(), QStringList{"There are no emails in the Folder you selected."});
}

void TestConnectDovecot::settingsFileHoldsNoUnrememberedPassword()
{
    QTemporaryDir dir;
    IniSettingsStore store(dir.filePath("Wenlowe/Wenlowe.ini"));
    ScriptedMessageBoxes boxes;
    FakeCommandRunner commands;
    FakeSpreadsheetDesktop desktop;
    store.setValue("Server", DovecotHarness::host());
    store.setValue("Port", QString::number(m_server.imapsPort()));
    store.setValue("CACertificates", m_server.caPemPath());
    const std::unique_ptr<Form1> window = ProgramStart::mainWindow(
        {.boxes = &boxes, .settings = &store, .commands = &commands, .desktop = &desktop}, [] {});
    Form1& f = *window;
    f.Text1->setText(DovecotHarness::defaultUser());
    f.Text2->setText(DovecotHarness::defaultPassword());
    f.PushButton1->click();
    QCOMPARE(f.PushButton1->text(), QStringLiteral("Disconnect"));
    QFile file(store.location());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(!content.contains(DovecotHarness::defaultPassword().toUtf8()));
    QVERIFY(!content.contains("ann.tester"));
    QCOMPARE(QFileInfo(store.location()).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

QTEST_MAIN(TestConnectDovecot)
#include "tst_connect_dovecot.moc"
