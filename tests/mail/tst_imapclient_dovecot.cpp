// The IMAP component's operations against a private Dovecot (TLS with a CA made for the run,
// and the plain port).

#include "mail/ImapClient.h"
#include "mail/ImapEventSink.h"
#include "support/DovecotHarness.h"

#include <QSet>
#include <QTest>

namespace {

const QString kIdCommand = QStringLiteral("ID (\"GUID\" \"1\")");

QByteArray message(const QString& subject, const QByteArray& extraHeaders = QByteArray())
{
    return "From: Client Test <client@corvanel.test>\r\nSubject: " + subject.toUtf8()
           + "\r\nDate: Thu, 01 Feb 2024 10:00:00 +0000\r\n" + extraHeaders + "\r\nBody of " + subject.toUtf8()
           + "\r\n";
}

// Records the notifications and answers abort checks with a flag.
class RecordingSink : public ImapEventSink {
public:
    void abortCheck(bool& abort) override
    {
        ++checks;
        abort = stop;
    }
    void percentDone(int percent, bool& abort) override
    {
        percents.append(percent);
        abort = stop;
    }
    bool stop = false;
    int checks = 0;
    QList<int> percents;
};

} // namespace

class TestImapClientDovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void connectIdentifyLoginOverTls();
    void plainPort();
    void callsBeforeConnectFail();
    void unknownCaRefused();

    void selectCounts_data();
    void selectCounts();
    void selectMissingFolderFails();
    void fetchBySequenceNumber();
    void fetchOutsideTheFolderFails();
    void fetchByUid();
    void fetchLeavesSeenFlagAlone();
    void internalDateWithoutDateHeader();
    void listMailboxes();
    void disconnectEndsTheSession();

    void progressAndAbortOfLargeFetch();

    // Last: after a refused password the server delays the next login from this address.
    void loginRefused();

private:
    void connectAndLogin(ImapClient& client);

    DovecotHarness m_server;
    QStringList m_inbox;
    QString m_seenUnique;
    QDateTime m_received;
    QByteArray m_large;
};

void TestImapClientDovecot::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    for (int n = 1; n <= 3; ++n) {
        m_inbox.append(m_server.writeMessage(QStringLiteral("Inbox"), message(QStringLiteral("inbox %1").arg(n))));
        QVERIFY(!m_inbox.last().isEmpty());
    }
    m_seenUnique = m_server.writeMessage(QStringLiteral("Inbox"), message(QStringLiteral("already read")),
                                         QStringLiteral("S"));
    QVERIFY(!m_seenUnique.isEmpty());
    for (int n = 1; n <= 2; ++n)
        QVERIFY(!m_server.writeMessage(QStringLiteral("Sent"), message(QStringLiteral("sent %1").arg(n))).isEmpty());
    m_received = QDateTime(QDate(2020, 2, 29), QTime(23, 59, 58), Qt::UTC);
    QVERIFY(!m_server
                 .writeMessage(QStringLiteral("Junk"), "From: x@y.z\r\nSubject: undated\r\n\r\nno date\r\n", QString(),
                               QString(), m_received)
                 .isEmpty());
    while (m_large.size() < 4 * 1024 * 1024)
        m_large += "All work and no play makes a long message, line after line after line.\r\n";
    QVERIFY(!m_server
                 .writeMessage(QStringLiteral("Drafts"),
                               "From: big@corvanel.test\r\nSubject: large\r\nContent-Type: text/plain\r\n\r\n" + m_large)
                 .isEmpty());
}

void TestImapClientDovecot::connectAndLogin(ImapClient& client)
{
    client.setCaCertificatesFile(m_server.caPemPath());
    client.setSsl(true);
    client.setPort(m_server.imapsPort());
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
    QCOMPARE(client.login(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()), 1);
}

void TestImapClientDovecot::connectIdentifyLoginOverTls()
{
    ImapClient client;
    client.setCaCertificatesFile(m_server.caPemPath());
    client.setSsl(true);
    client.setPort(m_server.imapsPort());
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
    const QString id = client.sendRawCommand(kIdCommand);
    QVERIFY2(id.contains(QLatin1String("Dovecot")), qPrintable(id));
    QCOMPARE(client.login(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()), 1);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
}

void TestImapClientDovecot::plainPort()
{
    ImapClient client;
    client.setSsl(false);
    client.setPort(m_server.imapPort());
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
    QCOMPARE(client.login(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()), 1);
    QCOMPARE(client.selectMailbox(QStringLiteral("Sent")), 1);
    QCOMPARE(client.numMessages(), 2);
}

void TestImapClientDovecot::callsBeforeConnectFail()
{
    ImapClient client;
    QVERIFY(client.login(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()) != 1);
    QVERIFY(client.selectMailbox(QStringLiteral("Inbox")) != 1);
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY(!client.listMailboxes(QString(), QStringLiteral("*")).has_value());
    QVERIFY(client.sendRawCommand(kIdCommand).isEmpty());
    QVERIFY(!client.lastErrorText().isEmpty());
}

void TestImapClientDovecot::unknownCaRefused()
{
    ImapClient client;
    client.setCaCertificatesFile(m_server.foreignCaPemPath());
    client.setSsl(true);
    client.setPort(m_server.imapsPort());
    QVERIFY(client.connect(DovecotHarness::host()) != 1);
    QVERIFY(!client.lastErrorText().isEmpty());
    // Without any extra CA the test CA is unknown as well.
    ImapClient plainTrust;
    plainTrust.setSsl(true);
    plainTrust.setPort(m_server.imapsPort());
    QVERIFY(plainTrust.connect(DovecotHarness::host()) != 1);
}

void TestImapClientDovecot::selectCounts_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("count");
    QTest::newRow("Inbox") << QStringLiteral("Inbox") << 4;
    QTest::newRow("Drafts") << QStringLiteral("Drafts") << 1;
    QTest::newRow("Sent") << QStringLiteral("Sent") << 2;
    QTest::newRow("Junk") << QStringLiteral("Junk") << 1;
    QTest::newRow("Deleted") << QStringLiteral("Deleted") << 0;
}

void TestImapClientDovecot::selectCounts()
{
    QFETCH(QString, folder);
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(folder), 1);
    QTEST(client.numMessages(), "count");
}

void TestImapClientDovecot::selectMissingFolderFails()
{
    ImapClient client;
    connectAndLogin(client);
    QVERIFY(client.selectMailbox(QStringLiteral("Archive")) != 1);
    QVERIFY(!client.lastErrorText().isEmpty());
    // The connection stays usable.
    QCOMPARE(client.selectMailbox(QStringLiteral("Sent")), 1);
    QCOMPARE(client.numMessages(), 2);
}

void TestImapClientDovecot::fetchBySequenceNumber()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    for (int n = 1; n <= 3; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY(m.has_value());
        QCOMPARE(m->Subject, QStringLiteral("inbox %1").arg(n));
        QCOMPARE(m->From, QStringLiteral("Client Test <client@corvanel.test>"));
        QCOMPARE(m->FromName, QStringLiteral("Client Test"));
        QCOMPARE(m->FromAddress, QStringLiteral("client@corvanel.test"));
        QCOMPARE(m->PlainTextBody, QStringLiteral("Body of inbox %1\r\n").arg(n));
        QCOMPARE(m->Date, QDateTime(QDate(2024, 2, 1), QTime(10, 0), Qt::UTC));
    }
}

void TestImapClientDovecot::fetchOutsideTheFolderFails()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Sent")), 1);
    QVERIFY(!client.fetchSingle(3, false).has_value());
    QVERIFY(!client.lastErrorText().isEmpty());
    QVERIFY(!client.fetchSingle(0, false).has_value());
    QVERIFY(!client.fetchSingle(-1, false).has_value());
    // A refused fetch leaves the connection usable.
    const std::optional<MailMessage> second = client.fetchSingle(2, false);
    QVERIFY(second.has_value());
    QCOMPARE(second->Subject, QStringLiteral("sent 2"));
}

void TestImapClientDovecot::fetchByUid()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Sent")), 1);
    // A folder filled once numbers its UIDs from 1 in the same order.
    const std::optional<MailMessage> m = client.fetchSingle(2, true);
    QVERIFY(m.has_value());
    QCOMPARE(m->Subject, QStringLiteral("sent 2"));
    QVERIFY(!client.fetchSingle(99, true).has_value());
}

void TestImapClientDovecot::fetchLeavesSeenFlagAlone()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    for (int n = 1; n <= 4; ++n)
        QVERIFY(client.fetchSingle(n, false).has_value());
    client.disconnect();
    for (const QString& unique : std::as_const(m_inbox)) {
        bool found = false;
        const QString flags = m_server.maildir().flags(QStringLiteral("Inbox"), unique, &found);
        QVERIFY(found);
        QVERIFY2(!flags.contains(QLatin1Char('S')), qPrintable(flags));
    }
    QVERIFY(m_server.isSeen(QStringLiteral("Inbox"), m_seenUnique));
}

void TestImapClientDovecot::internalDateWithoutDateHeader()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Junk")), 1);
    const std::optional<MailMessage> m = client.fetchSingle(1, false);
    QVERIFY(m.has_value());
    QCOMPARE(m->Subject, QStringLiteral("undated"));
    QCOMPARE(m->Date.toUTC(), m_received);
}

void TestImapClientDovecot::listMailboxes()
{
    ImapClient client;
    connectAndLogin(client);
    const std::optional<QStringList> names = client.listMailboxes(QString(), QStringLiteral("*"));
    QVERIFY(names.has_value());
    QCOMPARE(QSet<QString>(names->begin(), names->end()),
             (QSet<QString>{QStringLiteral("INBOX"), QStringLiteral("Drafts"), QStringLiteral("Sent"),
                            QStringLiteral("Junk"), QStringLiteral("Deleted")}));
    QCOMPARE(names->size(), 5);
}

void TestImapClientDovecot::disconnectEndsTheSession()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    client.disconnect();
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY(client.selectMailbox(QStringLiteral("Inbox")) != 1);
    // The same instance connects again.
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QVERIFY(client.fetchSingle(1, false).has_value());
}

void TestImapClientDovecot::progressAndAbortOfLargeFetch()
{
    ImapClient client;
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Drafts")), 1);

    RecordingSink sink;
    client.bindEvents(&sink);
    const std::optional<MailMessage> whole = client.fetchSingle(1, false);
    QVERIFY(whole.has_value());
    QCOMPARE(whole->PlainTextBody.size(), m_large.size());
    QVERIFY(!sink.percents.isEmpty());
    QVERIFY(sink.percents.last() <= 100);

    // A sink bound later takes the notifications; unbinding the earlier one changes nothing.
    RecordingSink later;
    client.bindEvents(&later);
    client.unbindEvents(&sink);
    sink.percents.clear();
    const int checksBefore = sink.checks;
    later.stop = true;
    QVERIFY(!client.fetchSingle(1, false).has_value()); // abandoned
    QVERIFY(later.checks + later.percents.size() > 0);
    QVERIFY(sink.percents.isEmpty());
    QCOMPARE(sink.checks, checksBefore);
    client.unbindEvents(&later);

    // After an abandoned fetch a new connection serves again.
    connectAndLogin(client);
    QCOMPARE(client.selectMailbox(QStringLiteral("Drafts")), 1);
    QVERIFY(client.fetchSingle(1, false).has_value());
}

void TestImapClientDovecot::loginRefused()
{
    ImapClient client;
    client.setCaCertificatesFile(m_server.caPemPath());
    client.setSsl(true);
    client.setPort(m_server.imapsPort());
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
    QVERIFY(client.login(DovecotHarness::defaultUser(), QStringLiteral("wrong")) != 1);
    QVERIFY(!client.lastErrorText().isEmpty());
    QVERIFY(client.selectMailbox(QStringLiteral("Inbox")) != 1);
}

QTEST_GUILESS_MAIN(TestImapClientDovecot)
#include "tst_imapclient_dovecot.moc"
