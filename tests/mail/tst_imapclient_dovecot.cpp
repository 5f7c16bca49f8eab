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
    return "From: Client Test <client@corvanel.test>\r\nSubject: " + subject.toUtf8() +
           "\r\nDate: Thu, 01 Feb 2024 10:00:00 +0000\r\n" + extraHeaders + "\r\nBody of " +
           subject.toUtf8() + "\r\n";
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

// --- a corpus whose messages are fetched in parts and whole -----------------------------------

const QString kPartsUser = QStringLiteral("parts@corvanel.test");
const QString kPartsPassword = QStringLiteral("parts-pw");

QByteArray base64Lines(qsizetype bytes, char seed)
{
    QByteArray data(bytes, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes; ++i)
        data[i] = char(seed + i * 7 % 251);
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

QByteArray header(const QByteArray& subject, const QByteArray& contentType)
{
    return "From: =?iso-8859-1?q?Ren=E9e_Dupr=E9?= <renee@corvanel.test>\r\nSubject: " + subject +
           "\r\nDate: Mon, 07 Dec 2026 18:30:00 +0100\r\nMIME-Version: 1.0\r\nContent-Type: " + contentType +
           "\r\n\r\n";
}

QByteArray part(const QByteArray& headers, const QByteArray& body)
{
    return headers + "\r\n" + body;
}

QByteArray multipart(const QByteArray& boundary, const QList<QByteArray>& parts)
{
    QByteArray out = "This is a multi-part message in MIME format.\r\n";
    for (const QByteArray& p : parts)
        out += "--" + boundary + "\r\n" + p + "\r\n";
    return out + "--" + boundary + "--\r\n";
}

QByteArray attachment(const QByteArray& type, const QByteArray& name, qsizetype bytes)
{
    return part("Content-Type: " + type + "; name=\"" + name +
                    "\"\r\nContent-Disposition: attachment; filename=\"" + name +
                    "\"\r\nContent-Transfer-Encoding: base64\r\n",
                base64Lines(bytes, name.at(0)));
}

struct CorpusMessage {
    const char* name;
    QByteArray raw;
    bool inParts; // fetched as header and text parts, not whole
};

QList<CorpusMessage> partsCorpus()
{
    const QByteArray plainUtf8 =
        part("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
             "quoted-printable\r\n",
             "Gr=C3=BC=C3=9Fe aus K=C3=B6ln,=\r\n the figures are attached.\r\n-- \r\nAnn");
    const QByteArray html = part("Content-Type: text/html; charset=utf-8\r\n",
                                 "<html><body><p>Gr&uuml;&szlig;e aus K&ouml;ln</p></body></html>");
    const QByteArray forwarded =
        "From: inner@corvanel.test\r\nSubject: the forwarded one\r\nContent-Type: multipart/alternative; "
        "boundary=\"in\"\r\n\r\n" +
        multipart("in", {part("Content-Type: text/plain\r\n", "inner plain " + QByteArray(30000, 'i')),
                         part("Content-Type: text/html\r\n", "<p>inner html</p>")});
    QList<CorpusMessage> corpus;
    corpus.append({"attachment after alternative",
                   header("report", "multipart/mixed; boundary=\"out\"") +
                       multipart("out", {part("Content-Type: multipart/alternative; boundary=\"alt\"\r\n",
                                              multipart("alt", {plainUtf8, html})),
                                         attachment("application/pdf", "figures.pdf", 60000)}),
                   true});
    corpus.append(
        {"related inside mixed",
         header("=?utf-8?b?0J/RgNC40LLQtdGC?=", "multipart/mixed; boundary=\"m\"") +
             multipart(
                 "m",
                 {part("Content-Type: multipart/related; boundary=\"r\"\r\n",
                       multipart("r", {part("Content-Type: multipart/alternative; boundary=\"a\"\r\n",
                                            multipart("a", {part("Content-Type: text/plain; "
                                                                 "charset=iso-8859-1\r\nContent-Transfer-"
                                                                 "Encoding: 8bit\r\n",
                                                                 "Caf\xe9 cr\xe8me"),
                                                            html})),
                                       part("Content-Type: image/png\r\nContent-ID: <logo>\r\n"
                                            "Content-Disposition: inline\r\nContent-Transfer-Encoding: "
                                            "base64\r\n",
                                            base64Lines(30000, 'p'))})),
                  attachment("application/zip", "all.zip", 40000)}),
         true});
    corpus.append(
        {"forwarded message not looked into",
         header("Fwd: the forwarded one", "multipart/mixed; boundary=\"f\"") +
             multipart("f", {part("Content-Type: text/html; charset=us-ascii\r\n", "<p>see below</p>"),
                             part("Content-Type: message/rfc822\r\n", forwarded)}),
         true});
    corpus.append(
        {"attached text before inline text",
         header("log", "multipart/mixed; boundary=\"t\"") +
             multipart("t", {part("Content-Type: text/plain; charset=utf-8; name=\"build.log\"\r\n"
                                  "Content-Disposition: ATTACHMENT; filename=\"build.log\"\r\n",
                                  QByteArray(50000, 'l')),
                             part("Content-Type: text/plain; charset=koi8-r\r\nContent-Transfer-Encoding: "
                                  "8bit\r\n",
                                  "\xf0\xd2\xc9\xd7\xc5\xd4"),
                             part("Content-Type: text/html; charset=windows-1252\r\nContent-Transfer-"
                                  "Encoding: quoted-printable\r\n",
                                  "<p>=80 5 =96 =93quoted=94</p>")}),
         true});
    corpus.append(
        {"inline text with a file name",
         header("notes", "multipart/mixed; boundary=\"n\"") +
             multipart("n", {part("Content-Type: text/plain; charset=utf-8\r\nContent-Disposition: inline; "
                                  "filename=\"notes.txt\"\r\nContent-Transfer-Encoding: base64\r\n",
                                  QByteArray("Notizen f\xc3\xbcr morgen\r\n").toBase64() + "\r\n"),
                             attachment("application/octet-stream", "data.bin", 40000)}),
         true});
    corpus.append(
        {"odd charsets",
         header("=?shift_jis?b?gqCCooKk?=", "multipart/mixed; boundary=\"c\"") +
             multipart(
                 "c",
                 {part("Content-Type: text/plain; charset=shift_jis\r\nContent-Transfer-Encoding: base64\r\n",
                       QByteArray("\x82\xa0\x82\xa2\x82\xa4").toBase64() + "\r\n"),
                  part("Content-Type: text/html; charset=\"GB2312\"\r\nContent-Transfer-Encoding: "
                       "quoted-printable\r\n",
                       "<p>=C4=E3=BA=C3</p>"),
                  attachment("image/jpeg", "photo.jpg", 45000)}),
         true});
    corpus.append({"undeclared charset",
                   header("plain old", "multipart/mixed; boundary=\"u\"") +
                       multipart("u", {part("Content-Type: text/plain\r\n", "na\xefve r\xe9sum\xe9"),
                                       attachment("application/pdf", "cv.pdf", 30000)}),
                   true});
    corpus.append(
        {"signed",
         header("signed", "multipart/signed; protocol=\"application/pgp-signature\"; micalg=pgp-sha256; "
                          "boundary=\"s\"") +
             multipart("s",
                       {part("Content-Type: multipart/mixed; boundary=\"sm\"\r\n",
                             multipart("sm", {plainUtf8, attachment("application/pdf", "s.pdf", 30000)})),
                        part("Content-Type: application/pgp-signature\r\n",
                             "-----BEGIN PGP SIGNATURE-----\r\nxx\r\n-----END PGP SIGNATURE-----")}),
         true});
    corpus.append({"small attachment",
                   header("small", "multipart/mixed; boundary=\"sa\"") +
                       multipart("sa", {plainUtf8, attachment("text/calendar", "invite.ics", 2000)}),
                   false});
    corpus.append(
        {"single html part",
         header("html only", "text/html; charset=utf-8") + "<p>" + QByteArray(40000, 'h') + "</p>\r\n",
         false});
    corpus.append({"no text at all",
                   header("scan", "multipart/mixed; boundary=\"x\"") +
                       multipart("x", {attachment("application/pdf", "scan.pdf", 50000)}),
                   true}); // the header alone
    return corpus;
}

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

    void partsEqualWholeMessage_data();
    void partsEqualWholeMessage();

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
        m_inbox.append(
            m_server.writeMessage(QStringLiteral("Inbox"), message(QStringLiteral("inbox %1").arg(n))));
        QVERIFY(!m_inbox.last().isEmpty());
    }
    m_seenUnique = m_server.writeMessage(QStringLiteral("Inbox"), message(QStringLiteral("already read")),
                                         QStringLiteral("S"));
    QVERIFY(!m_seenUnique.isEmpty());
    for (int n = 1; n <= 2; ++n)
        QVERIFY(!m_server.writeMessage(QStringLiteral("Sent"), message(QStringLiteral("sent %1").arg(n)))
                     .isEmpty());
    m_received = QDateTime(QDate(2020, 2, 29), QTime(23, 59, 58), Qt::UTC);
    QVERIFY(!m_server
                 .writeMessage(QStringLiteral("Junk"), "From: x@y.z\r\nSubject: undated\r\n\r\nno date\r\n",
                               QString(), QString(), m_received)
                 .isEmpty());
    while (m_large.size() < 4 * 1024 * 1024)
        m_large += "All work and no play makes a long message, line after line after line.\r\n";
    QVERIFY(
        !m_server
             .writeMessage(QStringLiteral("Drafts"),
                           "From: big@corvanel.test\r\nSubject: large\r\nContent-Type: text/plain\r\n\r\n" +
                               m_large)
             .isEmpty());
    QVERIFY(m_server.addUser(kPartsUser, kPartsPassword));
    for (const CorpusMessage& m : partsCorpus())
        QVERIFY(!m_server.writeMessage(QStringLiteral("Inbox"), m.raw, QString(), kPartsUser).isEmpty());
}

void TestImapClientDovecot::partsEqualWholeMessage_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("inParts");
    const QList<CorpusMessage> corpus = partsCorpus();
    for (qsizetype i = 0; i < corpus.size(); ++i)
        QTest::newRow(corpus[i].name) << int(i + 1) << corpus[i].raw << corpus[i].inParts;
}

// A walk fetches the message in parts where that saves bytes; the message object equals the one
// from the whole message, fetched and read on its own.
void TestImapClientDovecot::partsEqualWholeMessage()
{
    QFETCH(int, number);
    QFETCH(QByteArray, raw);
    QFETCH(bool, inParts);
    ImapClient client;
    client.setCaCertificatesFile(m_server.caPemPath());
    client.setSsl(true);
    client.setPort(m_server.imapsPort());
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
    QCOMPARE(client.login(kPartsUser, kPartsPassword), 1);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);

    const std::optional<MailMessage> whole = client.fetchSingle(number, false);
    QVERIFY2(whole.has_value(), qPrintable(client.lastErrorText()));
    QVERIFY(!client.lastErrorText().contains(QStringLiteral("Rebuilt")));
    client.setReadAhead(number, number + 1); // the last row's range passes the end
    const std::optional<MailMessage> walked = client.fetchSingle(number, false);
    QVERIFY2(walked.has_value(), qPrintable(client.lastErrorText()));
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Rebuilt from its header")) == inParts,
             qPrintable(client.lastErrorText()));
    // The number is in its walk's first range: asked for in its first 16,384 bytes with the
    // structures, which are the message when it is shorter; a longer one that is all text has the
    // rest of its bytes asked for, and no message crosses the link whole a second time.
    const QString log = client.lastErrorText();
    if (raw.size() < 16384)
        QVERIFY2(log.contains(QStringLiteral("BODY.PEEK[]<0.16384>")), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("(BODY.PEEK[] INTERNALDATE)")), qPrintable(log));
    QCOMPARE(log.contains(QStringLiteral("Put together from its first 16384 bytes and the rest.")),
             !inParts && raw.size() >= 16384);
    QCOMPARE(log.contains(QStringLiteral("fetched as planned")), inParts);
    QVERIFY2(!client.lastErrorText().contains(QStringLiteral("whole message is fetched")),
             qPrintable(client.lastErrorText()));

    const MailMessage read = MailMessage::fromBytes(raw);
    for (const MailMessage* m : {&*whole, &*walked}) {
        QCOMPARE(m->From, read.From);
        QCOMPARE(m->FromName, read.FromName);
        QCOMPARE(m->FromAddress, read.FromAddress);
        QCOMPARE(m->Subject, read.Subject);
        QCOMPARE(m->Date, read.Date);
        QCOMPARE(m->PlainTextBody, read.PlainTextBody);
        QCOMPARE(m->HtmlBody, read.HtmlBody);
    }
    // The rows differ in what the bodies hold, so the equality means something.
    QVERIFY(!read.Subject.isEmpty());
    client.disconnect();
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

    // A retrieval's reconnect: the connection opened while the folder is counted, its TLS
    // handshake under way meanwhile, is the one the connect takes, and it serves as any other.
    client.prepareConnect(DovecotHarness::host());
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
    QVERIFY2(client.lastErrorText().contains(QLatin1String("Taking the connection opened ahead")),
             qPrintable(client.lastErrorText()));
    QVERIFY(client.sendRawCommand(kIdCommand).contains(QLatin1String("Dovecot")));
    QCOMPARE(client.login(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()), 1);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QVERIFY(client.numMessages() > 0);
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
