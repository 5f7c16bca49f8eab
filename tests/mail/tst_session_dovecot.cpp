// The mail session end to end against a private Dovecot over TLS with a CA made for the run.

#include "frame/AppTitle.h"
#include "frame/ErrorLog.h"
#include "frame/VbError.h"
#include "mail/ClsChilkatImap.h"
#include "mail/GeneralDate.h"
#include "mail/ImapClient.h"
#include "support/DovecotHarness.h"
#include "support/ScriptedMessageBoxes.h"

#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

const QString kInvalidLogin =
    QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n");
const QString kConnectionFailed = QStringLiteral("Connection failed. Check username and password.");
const QString kTitle = QStringLiteral("Session Test Title");

struct Sample {
    QByteArray fromHeader;
    QString from, fromName, fromAddress, subject;
    QDateTime date;
    QString plain, html;
};

QByteArray rfc2822Date(const QDateTime& date)
{
    return QLocale::c().toString(date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss +0000")).toLatin1();
}

QByteArray compose(const Sample& s)
{
    QByteArray raw = "From: " + s.fromHeader + "\r\nTo: ann.tester@corvanel.test\r\n";
    raw += "Subject: =?UTF-8?B?" + s.subject.toUtf8().toBase64() + "?=\r\n";
    if (s.date.isValid())
        raw += "Date: " + rfc2822Date(s.date.toUTC()) + "\r\n";
    raw += "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"=alt=\"\r\n\r\n"
           "--=alt=\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
           + s.plain.toUtf8()
           + "\r\n--=alt=\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + s.html.toUtf8()
           + "\r\n--=alt=--\r\n";
    return raw;
}

Sample sample(const QString& folder, int n)
{
    Sample s;
    s.fromName = QStringLiteral("%1 Sender %2").arg(folder).arg(n);
    s.fromAddress = QStringLiteral("sender.%1@%2.example").arg(n).arg(folder.toLower());
    s.fromHeader = s.fromName.toUtf8() + " <" + s.fromAddress.toUtf8() + ">";
    s.from = s.fromName + QStringLiteral(" <") + s.fromAddress + QLatin1Char('>');
    s.subject = QStringLiteral("%1 message %2").arg(folder).arg(n);
    s.date = QDateTime(QDate(2024, 1, n), QTime(9, n, 30), Qt::UTC);
    s.plain = QStringLiteral("Plain body %1 of %2\r\nsecond line").arg(n).arg(folder);
    s.html = QStringLiteral("<p>Html body %1 of %2</p>").arg(n).arg(folder);
    if (folder == QLatin1String("Inbox") && n == 2) {
        // Encoded words in the sender name and the subject, non-ASCII bodies.
        s.fromName = QStringLiteral("Zoë Ünal");
        s.fromHeader = "=?UTF-8?Q?Zo=C3=AB_=C3=9Cnal?= <" + s.fromAddress.toUtf8() + ">";
        s.from = s.fromName + QStringLiteral(" <") + s.fromAddress + QLatin1Char('>');
        s.subject = QStringLiteral("Grüße – Inbox message 2");
        s.plain = QStringLiteral("Schöne Grüße\r\n€ 5");
        s.html = QStringLiteral("<p>Schöne Grüße</p>");
    }
    return s;
}

struct Listing {
    QString from, fromName, fromAddress, subject, receivedDate, plain, html;
    int uID;
    int currentLocation;
};

int errorLogEntries()
{
    QFile file(ErrorLog::path());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int entries = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line == QByteArray(52, '*') + '\r')
            ++entries;
    return entries;
}

} // namespace

class TestSessionDovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void connectsAndLogsIn_data();
    void connectsAndLogsIn();
    void connectFailureWhenNothingListens();
    void passwordWithSpacesQuotesBackslashAndUmlauts();
    void refusesCertificateOfUnknownCa();
    void refusesCertificateForAnotherHost();
    void operationsNeedTheComponent();

    void countsEachFolder_data();
    void countsEachFolder();
    void missingFolderCountsZeroWithBox();

    void extractsRangeInOrder();
    void emptyRangeFetchesNothing();
    void rangeBeyondFolderSkipsFailedFetches();
    void numberZeroIsSkipped();
    void extractionEndIsReadOnce();
    void fetchingLeavesMessagesUnseen();
    void internalDateWhenNoDateHeader();
    void extractionStopsWhenConnectFails();
    void extractionStopsWhenFolderMissing();
    void abortInListingHandlerStopsFurtherEvents();
    void sessionSurvivesOwnerDroppingIt();
    void progressOfLargeMessage();
    void earlierStoppedSessionDoesNotStopLaterOne();

    void listsTheFiveFolders();
    void listingFailsWhenNotConnected();

    // Last: after a refused password the server delays the next login from this address.
    void refusesWrongPassword();

private:
    std::shared_ptr<clsChilkatIMAP> newSession(const QString& user = QString(), const QString& password = QString());
    QList<Listing> extract(clsChilkatIMAP& session, const QString& folder, int first, int last,
                           const std::function<void(clsChilkatIMAP&, const Listing&)>& onListing = {});
    void compareListing(const Listing& got, const Sample& expected, int number);

    DovecotHarness m_server;
    ImapClient m_component;
    ScriptedMessageBoxes m_boxes;
    QTemporaryDir m_temp;
    QMap<QString, QList<Sample>> m_samples;
    QStringList m_inboxUniques;
    QDateTime m_junkReceived;
    QByteArray m_largeBody;
};

void TestSessionDovecot::initTestCase()
{
    QVERIFY(m_temp.isValid());
    qputenv("TEMP", QFile::encodeName(m_temp.path()));
    AppTitle::set(kTitle);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));

    const QMap<QString, int> counts{{QStringLiteral("Inbox"), 5}, {QStringLiteral("Sent"), 3}};
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        for (int n = 1; n <= it.value(); ++n) {
            const Sample s = sample(it.key(), n);
            m_samples[it.key()].append(s);
            const QString unique = m_server.writeMessage(it.key(), compose(s));
            QVERIFY(!unique.isEmpty());
            if (it.key() == QLatin1String("Inbox"))
                m_inboxUniques.append(unique);
        }
    }
    // Junk: one message without a Date header; its INTERNALDATE is the file time.
    m_junkReceived = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    QVERIFY(!m_server.writeMessage(QStringLiteral("Junk"),
                                   "From: =?UTF-8?Q?Z=C3=B6e_Spam?= <zoe@junk.example>\r\n"
                                   "Subject: =?ISO-8859-1?Q?No_date_h=E9re?=\r\n\r\nundated\r\n",
                                   QString(), QString(), m_junkReceived)
                     .isEmpty());

    // Drafts: a small message, then a large one whose arrival takes several reads.
    QByteArray line = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n";
    while (m_largeBody.size() < 3 * 1024 * 1024)
        m_largeBody += line;
    QVERIFY(!m_server.writeMessage(QStringLiteral("Drafts"), "From: me@corvanel.test\r\nSubject: draft\r\n\r\nd\r\n")
                 .isEmpty());
    QVERIFY(!m_server.writeMessage(QStringLiteral("Drafts"),
                                   "From: me@corvanel.test\r\nSubject: large draft\r\nContent-Type: text/plain\r\n\r\n"
                                       + m_largeBody)
                 .isEmpty());

    m_component.setCaCertificatesFile(m_server.caPemPath());
    m_component.setTimeoutMs(20000);
}

void TestSessionDovecot::init()
{
    m_boxes.clear();
    m_boxes.onShow = nullptr;
    QFile::remove(ErrorLog::path());
}

std::shared_ptr<clsChilkatIMAP> TestSessionDovecot::newSession(const QString& user, const QString& password)
{
    auto session = std::make_shared<clsChilkatIMAP>(m_boxes);
    session->setChilkatIMAPObject(&m_component);
    session->setSSL(true);
    session->setPORT(m_server.imapsPort());
    session->setIMAPServer(DovecotHarness::host());
    session->setUsername(user.isEmpty() ? DovecotHarness::defaultUser() : user);
    session->setPassword(password.isEmpty() ? DovecotHarness::defaultPassword() : password);
    return session;
}

QList<Listing> TestSessionDovecot::extract(clsChilkatIMAP& session, const QString& folder, int first, int last,
                                           const std::function<void(clsChilkatIMAP&, const Listing&)>& onListing)
{
    QList<Listing> listings;
    session.setCurrentLocation(first);
    session.setMaxRecord(last);
    clsChilkatIMAP* raw = &session;
    const QMetaObject::Connection connection = connect(
        raw, &clsChilkatIMAP::MailExtractListing, this,
        [&listings, raw, &onListing](const QString& From, const QString& FromName, const QString& FromAddress,
                                     const QString& Subject, const QString& ReceivedDate,
                                     const QString& PlainTextBody, const QString& HTMLTextBody, int uID) {
            listings.append({From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody, uID,
                             raw->CurrentLocation()});
            if (onListing)
                onListing(*raw, listings.last());
        });
    raw->StartMailExtraction(folder);
    disconnect(connection);
    return listings;
}

void TestSessionDovecot::compareListing(const Listing& got, const Sample& expected, int number)
{
    QCOMPARE(got.uID, number);
    QCOMPARE(got.currentLocation, number);
    QCOMPARE(got.from, expected.from);
    QCOMPARE(got.fromName, expected.fromName);
    QCOMPARE(got.fromAddress, expected.fromAddress);
    QCOMPARE(got.subject, expected.subject);
    QCOMPARE(got.receivedDate, GeneralDate::format(expected.date));
    QCOMPARE(got.plain, expected.plain);
    QCOMPARE(got.html, expected.html);
}

// --- connect, identify, log in -------------------------------------------------------------

void TestSessionDovecot::connectsAndLogsIn_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("address") << QStringLiteral("127.0.0.1");
    QTest::newRow("name") << QStringLiteral("localhost");
}

void TestSessionDovecot::connectsAndLogsIn()
{
    QFETCH(QString, host);
    auto session = newSession();
    session->setIMAPServer(host);
    QVERIFY(session->Connect());
    QCOMPARE(session->LastStatus(), 1);
    QCOMPARE(m_boxes.shown().size(), 0);
    // A second Connect on the same component connects and logs in again.
    QVERIFY(newSession()->Connect());
    QCOMPARE(m_boxes.shown().size(), 0);
}

void TestSessionDovecot::connectFailureWhenNothingListens()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    auto session = newSession();
    session->setPORT(port);
    QVERIFY(!session->Connect());
    QVERIFY(session->LastStatus() != 1);
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
}

void TestSessionDovecot::passwordWithSpacesQuotesBackslashAndUmlauts()
{
    const QString user = QStringLiteral("odd.one@corvanel.test");
    const QString password = QStringLiteral("my \"quoted\" pass\\word with Grüße, Ærø and ñ");
    QVERIFY(m_server.addUser(user, password));
    QVERIFY(!m_server.writeMessage(QStringLiteral("Inbox"), compose(sample(QStringLiteral("Odd"), 1)), QString(), user)
                 .isEmpty());
    auto session = newSession(user, password);
    QVERIFY2(session->Connect(), qPrintable(m_component.lastErrorText()));
    QCOMPARE(session->GetTotalMessage(QStringLiteral("Inbox")), 1);
    QCOMPARE(m_boxes.shown().size(), 0);
}

void TestSessionDovecot::refusesCertificateOfUnknownCa()
{
    ImapClient stranger;
    stranger.setCaCertificatesFile(m_server.foreignCaPemPath());
    auto session = newSession();
    session->setChilkatIMAPObject(&stranger);
    QVERIFY(!session->Connect());
    QVERIFY(session->LastStatus() != 1);
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
}

void TestSessionDovecot::refusesCertificateForAnotherHost()
{
    DovecotHarness::Options options;
    options.subjectAltName = QStringLiteral("DNS:imap.elsewhere.test");
    DovecotHarness elsewhere(options);
    QVERIFY2(elsewhere.start(), qPrintable(elsewhere.errorText()));
    ImapClient client;
    client.setCaCertificatesFile(elsewhere.caPemPath());
    auto session = newSession();
    session->setChilkatIMAPObject(&client);
    session->setPORT(elsewhere.imapsPort());
    QVERIFY(!session->Connect());
    QVERIFY(session->LastStatus() != 1);
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
    // Refused during the handshake: the password never reached the server.
    QVERIFY(!elsewhere.log().contains(QLatin1String("Login: user=")));
}

void TestSessionDovecot::operationsNeedTheComponent()
{
    clsChilkatIMAP session(m_boxes);
    try {
        session.Connect();
        QFAIL("Connect without a component must fail");
    } catch (const VbError& error) {
        QCOMPARE(error.number(), 91);
    }
    try {
        session.GetTotalMessage(QStringLiteral("Inbox"));
        QFAIL("GetTotalMessage without a component must fail");
    } catch (const VbError& error) {
        QCOMPARE(error.number(), 91);
    }
    QCOMPARE(m_boxes.shown().size(), 0);
}

// --- folder counts ---------------------------------------------------------------------------

void TestSessionDovecot::countsEachFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("count");
    QTest::newRow("Inbox") << QStringLiteral("Inbox") << 5;
    QTest::newRow("INBOX") << QStringLiteral("INBOX") << 5;
    QTest::newRow("Drafts") << QStringLiteral("Drafts") << 2;
    QTest::newRow("Sent") << QStringLiteral("Sent") << 3;
    QTest::newRow("Junk") << QStringLiteral("Junk") << 1;
    QTest::newRow("Deleted (empty)") << QStringLiteral("Deleted") << 0;
}

void TestSessionDovecot::countsEachFolder()
{
    QFETCH(QString, folder);
    QFETCH(int, count);
    auto session = newSession();
    QVERIFY(session->Connect());
    QCOMPARE(session->GetTotalMessage(folder), count);
    QCOMPARE(session->LastStatus(), 1);
    QCOMPARE(m_boxes.shown().size(), 0);
}

void TestSessionDovecot::missingFolderCountsZeroWithBox()
{
    auto session = newSession();
    QVERIFY(session->Connect());
    QCOMPARE(session->GetTotalMessage(QStringLiteral("Archive")), 0);
    QVERIFY(session->LastStatus() != 1);
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
    // Folder names other than the inbox are case-sensitive on this server.
    m_boxes.clear();
    QCOMPARE(session->GetTotalMessage(QStringLiteral("sent")), 0);
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
}

// --- extraction ------------------------------------------------------------------------------

void TestSessionDovecot::extractsRangeInOrder()
{
    auto session = newSession();
    const QList<Listing> got = extract(*session, QStringLiteral("Inbox"), 2, 4);
    QCOMPARE(got.size(), 3);
    for (int i = 0; i < 3; ++i)
        compareListing(got[i], m_samples[QStringLiteral("Inbox")][i + 1], i + 2);
    QCOMPARE(session->CurrentLocation(), 4);
    QCOMPARE(session->MaxRecord(), 4);
    QCOMPARE(m_boxes.shown().size(), 0);
    QCOMPARE(errorLogEntries(), 3);

    // Another folder, the whole range.
    const QList<Listing> sent = extract(*newSession(), QStringLiteral("Sent"), 1, 3);
    QCOMPARE(sent.size(), 3);
    for (int i = 0; i < 3; ++i)
        compareListing(sent[i], m_samples[QStringLiteral("Sent")][i], i + 1);
}

void TestSessionDovecot::emptyRangeFetchesNothing()
{
    auto session = newSession();
    QCOMPARE(extract(*session, QStringLiteral("Inbox"), 4, 3).size(), 0);
    QCOMPARE(session->CurrentLocation(), 4);
    QCOMPARE(session->LastStatus(), 1); // connect and selection still happened
    QCOMPARE(errorLogEntries(), 0);
    QCOMPARE(m_boxes.shown().size(), 0);
}

void TestSessionDovecot::rangeBeyondFolderSkipsFailedFetches()
{
    auto session = newSession();
    const QList<Listing> got = extract(*session, QStringLiteral("Inbox"), 4, 8);
    QCOMPARE(got.size(), 2);
    compareListing(got[0], m_samples[QStringLiteral("Inbox")][3], 4);
    compareListing(got[1], m_samples[QStringLiteral("Inbox")][4], 5);
    QCOMPARE(session->CurrentLocation(), 8);
    QCOMPARE(m_boxes.shown().size(), 0);
    QCOMPARE(errorLogEntries(), 5); // one per fetch, failed or not

    // The log entries carry the component's report of each fetch.
    QFile log(ErrorLog::path());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QVERIFY(lines.first().contains(" : "));
}

void TestSessionDovecot::numberZeroIsSkipped()
{
    auto session = newSession();
    const QList<Listing> got = extract(*session, QStringLiteral("Inbox"), 0, 2);
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[0].uID, 1);
    QCOMPARE(got[1].uID, 2);
    QCOMPARE(errorLogEntries(), 3);
    QCOMPARE(m_boxes.shown().size(), 0);
}

void TestSessionDovecot::extractionEndIsReadOnce()
{
    auto session = newSession();
    const QList<Listing> got = extract(*session, QStringLiteral("Inbox"), 1, 3,
                                       [](clsChilkatIMAP& s, const Listing&) { s.setMaxRecord(1); });
    QCOMPARE(got.size(), 3);
    QCOMPARE(session->CurrentLocation(), 3);
}

void TestSessionDovecot::fetchingLeavesMessagesUnseen()
{
    QCOMPARE(extract(*newSession(), QStringLiteral("Inbox"), 1, 5).size(), 5);
    for (const QString& unique : std::as_const(m_inboxUniques)) {
        bool found = false;
        const QString flags = m_server.maildir().flags(QStringLiteral("Inbox"), unique, &found);
        QVERIFY2(found, qPrintable(unique));
        QVERIFY2(!flags.contains(QLatin1Char('S')), qPrintable(unique + QLatin1String(" has flags ") + flags));
    }
}

void TestSessionDovecot::internalDateWhenNoDateHeader()
{
    const QList<Listing> got = extract(*newSession(), QStringLiteral("Junk"), 1, 1);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].receivedDate, GeneralDate::format(m_junkReceived));
    QCOMPARE(got[0].fromName, QStringLiteral("Zöe Spam"));
    QCOMPARE(got[0].fromAddress, QStringLiteral("zoe@junk.example"));
    QCOMPARE(got[0].subject, QStringLiteral("No date hére"));
    QCOMPARE(got[0].plain, QStringLiteral("undated\r\n"));
    QCOMPARE(got[0].html, QString());
}

void TestSessionDovecot::extractionStopsWhenConnectFails()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    auto session = newSession();
    session->setPORT(port);
    QCOMPARE(extract(*session, QStringLiteral("Inbox"), 1, 3).size(), 0);
    QCOMPARE(m_boxes.texts(), (QStringList{kInvalidLogin, kConnectionFailed}));
    QCOMPARE(m_boxes.shown().last().title, kTitle);
    QCOMPARE(m_boxes.shown().last().icon, MessageBoxService::Icon::None);
    QCOMPARE(session->CurrentLocation(), 1);
    QCOMPARE(errorLogEntries(), 0);
}

void TestSessionDovecot::extractionStopsWhenFolderMissing()
{
    auto session = newSession();
    QCOMPARE(extract(*session, QStringLiteral("Archive"), 1, 3).size(), 0);
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
    QCOMPARE(errorLogEntries(), 0);
}

void TestSessionDovecot::abortInListingHandlerStopsFurtherEvents()
{
    auto session = newSession();
    const QList<Listing> got = extract(*session, QStringLiteral("Inbox"), 1, 5,
                                       [](clsChilkatIMAP& s, const Listing&) { s.AbortProcess = true; });
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].uID, 1);
    // The flag is seen after the next fetch that returns a message (fetches the component
    // abandons on the way are logged too).
    QVERIFY(errorLogEntries() >= 2);
    QVERIFY(errorLogEntries() <= 5);
    QCOMPARE(m_boxes.shown().size(), 0);

    // The component serves the next session normally.
    QCOMPARE(extract(*newSession(), QStringLiteral("Inbox"), 5, 5).size(), 1);
}

void TestSessionDovecot::sessionSurvivesOwnerDroppingIt()
{
    auto owner = newSession();
    const std::weak_ptr<clsChilkatIMAP> watch = owner;
    clsChilkatIMAP* session = owner.get();
    QSignalSpy progress(session, &clsChilkatIMAP::ScrapProgress);
    // The owner lets go at the first message (as a Stop click may); the large second
    // message still arrives, with its progress, to a session nobody holds any more.
    const QList<Listing> got = extract(*session, QStringLiteral("Drafts"), 1, 2,
                                       [&owner](clsChilkatIMAP&, const Listing&) { owner.reset(); });
    QVERIFY(watch.expired());
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[1].subject, QStringLiteral("large draft"));
    QCOMPARE(got[1].plain.size(), m_largeBody.size());
    QVERIFY(progress.count() > 0);
}

void TestSessionDovecot::progressOfLargeMessage()
{
    auto session = newSession();
    QList<int> percents;
    connect(session.get(), &clsChilkatIMAP::ScrapProgress, this, [&percents](int p) { percents.append(p); });
    const QList<Listing> got = extract(*session, QStringLiteral("Drafts"), 2, 2);
    QCOMPARE(got.size(), 1);
    QVERIFY2(!percents.isEmpty(), "no progress while a 3 MB message arrived");
    for (int i = 0; i < percents.size(); ++i) {
        QVERIFY(percents[i] >= 0 && percents[i] <= 100);
        if (i > 0)
            QVERIFY(percents[i] >= percents[i - 1]);
    }
}

void TestSessionDovecot::earlierStoppedSessionDoesNotStopLaterOne()
{
    // A server that accepts and then says nothing keeps a connect waiting, with abort checks.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> accepted;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            accepted.append(socket);
    });

    ImapClient component;
    component.setTimeoutMs(15000);
    auto configure = [&](clsChilkatIMAP& s) {
        s.setChilkatIMAPObject(&component);
        s.setSSL(false);
        s.setPORT(silent.serverPort());
        s.setIMAPServer(DovecotHarness::host());
    };
    // The earlier session was stopped and is still held (as the range dialog holds one).
    auto earlier = std::make_shared<clsChilkatIMAP>(m_boxes);
    configure(*earlier);
    earlier->AbortProcess = true;
    QVERIFY(!earlier->Connect()); // its own connect is abandoned at once
    m_boxes.clear();

    auto later = std::make_shared<clsChilkatIMAP>(m_boxes);
    configure(*later);
    bool stillWaitingAfterEarlierDropped = false;
    // While the later connect waits: drop the earlier session, then stop the later one.
    QTimer::singleShot(300, this, [&] { earlier.reset(); });
    QTimer::singleShot(600, this, [&] {
        stillWaitingAfterEarlierDropped = true;
        later->AbortProcess = true;
    });
    QVERIFY(!later->Connect());
    // Not stopped by the earlier session's flag, but by its own, long before the time-out.
    QVERIFY(stillWaitingAfterEarlierDropped);
    QVERIFY2(component.lastErrorText().contains(QStringLiteral("Abandoned")) &&
                 !component.lastErrorText().contains(QStringLiteral("Timed out")),
             qPrintable(component.lastErrorText()));
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
    qDeleteAll(accepted);
}

// --- mailbox list ----------------------------------------------------------------------------

void TestSessionDovecot::listsTheFiveFolders()
{
    auto session = newSession();
    QVERIFY(session->Connect());
    const std::optional<QStringList> folders = session->EnumMailFolders();
    QVERIFY(folders.has_value());
    QCOMPARE(folders->size(), 5);
    const QSet<QString> names(folders->begin(), folders->end());
    QCOMPARE(names, (QSet<QString>{QStringLiteral("INBOX"), QStringLiteral("Drafts"), QStringLiteral("Sent"),
                                   QStringLiteral("Junk"), QStringLiteral("Deleted")}));
    QCOMPARE(m_boxes.shown().size(), 0);
}

void TestSessionDovecot::listingFailsWhenNotConnected()
{
    ImapClient unconnected;
    auto session = newSession();
    session->setChilkatIMAPObject(&unconnected);
    QVERIFY(!session->EnumMailFolders().has_value());
    QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
}

void TestSessionDovecot::refusesWrongPassword()
{
    auto session = newSession(QString(), QStringLiteral("not-the-password"));
    QVERIFY(!session->Connect());
    QVERIFY(session->LastStatus() != 1);
    QCOMPARE(m_boxes.shown().size(), 1);
    const ScriptedMessageBoxes::Shown box = m_boxes.shown().first();
    QCOMPARE(box.text, kInvalidLogin);
    QCOMPARE(box.title, kTitle);
    QCOMPARE(box.icon, MessageBoxService::Icon::None);
    // The settings stay as they were.
    QCOMPARE(session->Password(), QStringLiteral("not-the-password"));
    QCOMPARE(session->PORT(), int(m_server.imapsPort()));
}

QTEST_GUILESS_MAIN(TestSessionDovecot)
#include "tst_session_dovecot.moc"
