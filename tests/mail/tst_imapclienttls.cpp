// The IMAP client on its socket transport: over TLS the server's certificate must chain to a
// trusted CA and name the host; a refused connection is reported.
#include "mail/ImapClient.h"
#include "support/ScriptedImapServer.h"
#include "support/ServerErrors.h"
#include "support/TestCertificates.h"

#include <QSslSocket>
#include <QTcpServer>
#include <QTest>

class TestImapClientTls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void trustedServerConnects();
    void unknownAuthorityIsRefused();
    void wrongHostNameIsRefused();
    void extraCaFileIsNeeded();
    void unreadableCaFileFailsTheConnect();
    void connectFailsWhenNothingListens();

private:
    std::unique_ptr<TestCertificates> m_certificates;
};

void TestImapClientTls::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    m_certificates = std::make_unique<TestCertificates>();
    QVERIFY2(m_certificates->ok(), qPrintable(m_certificates->errorText()));
}

void TestImapClientTls::trustedServerConnects()
{
    ScriptedImapServer server(m_certificates->serverConfiguration(TestCertificates::Server::Trusted));
    server.sendLine("* OK [CAPABILITY IMAP4rev1] ready")
        .expect("A001 LOGIN \"ann\" \"secret\"")
        .sendLine("A001 OK Logged in")
        .expect("A002 EXAMINE \"Inbox\"")
        .sendLine("* 2 EXISTS")
        .sendLine("A002 OK [READ-ONLY] done");
    ImapClient client;
    client.setSsl(true);
    client.setPort(server.port());
    client.setCaCertificatesFile(m_certificates->caFile());
    QCOMPARE(client.connect(QStringLiteral("localhost")), 1);
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("secret")), 1);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(client.numMessages(), 2);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientTls::unknownAuthorityIsRefused()
{
    ScriptedImapServer server(
        m_certificates->serverConfiguration(TestCertificates::Server::UnknownAuthority));
    server.sendLine("* OK ready");
    ImapClient client;
    client.setSsl(true);
    client.setPort(server.port());
    client.setCaCertificatesFile(m_certificates->caFile());
    QCOMPARE(client.connect(QStringLiteral("localhost")), 0);
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    const QString text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("certificate was not accepted")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("issuer"), Qt::CaseInsensitive), qPrintable(text));
    QCOMPARE(server.connectionsAccepted(), 0); // the handshake never completed
}

void TestImapClientTls::wrongHostNameIsRefused()
{
    ScriptedImapServer server(m_certificates->serverConfiguration(TestCertificates::Server::OtherHostName));
    server.sendLine("* OK ready");
    ImapClient client;
    client.setSsl(true);
    client.setPort(server.port());
    client.setCaCertificatesFile(m_certificates->caFile());
    QCOMPARE(client.connect(QStringLiteral("localhost")), 0);
    const QString text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("host name"), Qt::CaseInsensitive), qPrintable(text));
    QCOMPARE(server.connectionsAccepted(), 0);
}

void TestImapClientTls::extraCaFileIsNeeded()
{
    // Without the test CA the system store alone does not vouch for the server.
    ScriptedImapServer server(m_certificates->serverConfiguration(TestCertificates::Server::Trusted));
    server.sendLine("* OK ready");
    ImapClient client;
    client.setSsl(true);
    client.setPort(server.port());
    QCOMPARE(client.connect(QStringLiteral("localhost")), 0);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("certificate was not accepted")),
             qPrintable(client.lastErrorText()));
}

void TestImapClientTls::unreadableCaFileFailsTheConnect()
{
    ImapClient client;
    client.setSsl(true);
    client.setPort(1);
    client.setCaCertificatesFile(QStringLiteral("/nonexistent/ca.pem"));
    QCOMPARE(client.connect(QStringLiteral("localhost")), 0);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("/nonexistent/ca.pem")),
             qPrintable(client.lastErrorText()));
}

void TestImapClientTls::connectFailsWhenNothingListens()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    ImapClient client;
    client.setPort(port);
    QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), 0);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("refused"), Qt::CaseInsensitive),
             qPrintable(client.lastErrorText()));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

QTEST_GUILESS_MAIN(TestImapClientTls)
#include "tst_imapclienttls.moc"
