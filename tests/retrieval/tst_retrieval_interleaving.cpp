// Retrievals from a fake mailbox: clicks that land while a retrieval is suspended in its waits,
// each at one exact point of the conversation (the mailbox acts when the client's command
// arrives, that is, while the client waits for the answer), and the folders it opens.
#include "frame/ErrorLog.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/ExtractionReport.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RetrievalFlow.h"
#include "support/MailboxWindowFixture.h"
#include "support/MessageGenerator.h"
#include "support/TestCertificates.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

class TestRetrievalInterleaving : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void getSomeStoppedBeforeTheRangeDialogKeepsTheList();
    void busyServerThenDoneAndWhatCouldNotBeRead();
    void reportText_data();
    void reportText();
    void gmailFoldersByTheirRole();

private:
    std::unique_ptr<TestCertificates> m_certificates;
    QTemporaryDir m_temp;
};

void TestRetrievalInterleaving::initTestCase()
{
    m_certificates = std::make_unique<TestCertificates>();
    QVERIFY2(m_certificates->ok(), qPrintable(m_certificates->errorText()));
    QVERIFY(m_temp.isValid());
    qputenv("TEMP", QFile::encodeName(m_temp.path()));
}

// A Stop while "2b. Get Some Emails" counts the folder the second time, when the count still
// succeeds: the range dialog is not shown, and the range confirmed in an earlier run must not
// stand in for it. The retrieval ends as if the dialog had been closed: the list and the
// stored messages stay as they were, no "Done.".
void TestRetrievalInterleaving::getSomeStoppedBeforeTheRangeDialogKeepsTheList()
{
    MailboxWindowFixture rig(*m_certificates, 10);
    Form1& f = *rig.w.form;
    QVERIFY(rig.connect());
    Form2& dialog = f.rangeDialog();
    int dialogsShown = 0;
    connect(&dialog, &Form2::loaded, this, [&] {
        ++dialogsShown;
        QTimer::singleShot(0, this, [&] {
            dialog.Text1[0]->setText(QStringLiteral("2"));
            dialog.Text1[1]->setText(QStringLiteral("4"));
            dialog.PushButton1->click();
        });
    });
    f.PushButton2->click();
    QCOMPARE(dialogsShown, 1);
    QCOMPARE(f.list().count(), 3);
    QCOMPARE(rig.w.boxes.texts(), QStringList{QStringLiteral("Done.")});

    rig.w.boxes.clear();
    int examines = 0;
    rig.mailbox.onCommand = [&](const QString& line) {
        if (line.contains(QLatin1String(" EXAMINE ")) && ++examines == 2) {
            QCOMPARE(f.PushButton3->text(), QStringLiteral("Stop"));
            f.PushButton3->click();
        }
    };
    f.PushButton2->click();
    QCOMPARE(examines, 2);
    QCOMPARE(dialogsShown, 1);
    QCOMPARE(f.list().count(), 3);
    QVERIFY2(rig.w.boxes.texts().isEmpty(), qPrintable(rig.w.boxes.texts().join('\n')));
    QCOMPARE(f.list().subItem(1, 3), MessageGenerator::plainSubject(2));
    QCOMPARE(f.mailStore().size(), 4);
    QCOMPARE(f.mailStore().at(1).Subject, MessageGenerator::plainSubject(2));
    // The structure command first (this mailbox refuses it), with the three messages asked for in
    // their first bytes, which hold them whole.
    QCOMPARE(rig.mailbox.count(QStringLiteral("FETCH")), 4);
    QCOMPARE(f.PushButton2->text(), QStringLiteral("2b. Get Some Emails"));
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
    QVERIFY(!f.PushButton2->isHidden());
    QCOMPARE(f.pointer.value(), 0);
    QVERIFY(!f.oChilkat());
}

// A server that stays busy for message 4: the window says so while it waits, the other rows
// are all there, and after "Done." one more box tells what could not be read.
void TestRetrievalInterleaving::busyServerThenDoneAndWhatCouldNotBeRead()
{
    MailboxWindowFixture rig(*m_certificates, 10);
    Form1& f = *rig.w.form;
    QVERIFY(rig.connect());
    QStringList progressWhileAsked;
    int asked = 0;
    rig.mailbox.answerInstead = [&](int, const QString& line) -> std::optional<ScriptedImapServer::Reply> {
        if (!line.contains(QLatin1String(" FETCH 4 ")))
            return std::nullopt;
        const QByteArray refusal = line.section(QLatin1Char(' '), 0, 0).toLatin1() +
                                   " NO Request is throttled. Suggested Backoff Time: 10 milliseconds\r\n";
        // The first bytes asked for with the structures are refused too; each try counts once,
        // by its whole fetch.
        if (line.contains(QLatin1String("BODY.PEEK[]<")))
            return ScriptedImapServer::Reply{refusal};
        if (++asked > 1)
            progressWhileAsked << f.progressText();
        return ScriptedImapServer::Reply{refusal};
    };
    f.PushButton3->click();
    QCOMPARE(asked, 5);
    const QString busy = QStringLiteral("Server busy, waiting 1 s (reading mail 4 of 10)");
    QCOMPARE(progressWhileAsked, (QStringList{busy, busy, busy, busy}));
    QCOMPARE(f.list().count(), 9);
    for (int row = 1; row <= 9; ++row)
        QCOMPARE(f.list().subItem(row, 3), MessageGenerator::plainSubject(row < 4 ? row : row + 1));
    QCOMPARE(rig.w.boxes.texts(),
             (QStringList{
                 QStringLiteral("Done."),
                 QStringLiteral("1 message could not be read: number 4.\r\n\r\n"
                                "Last failure: The server localhost refused the request. It said: "
                                "\"Request is throttled. Suggested Backoff Time: 10 milliseconds\"\r\n\r\n"
                                "Details are in the error log: ") +
                     ErrorLog::path()}));
    QCOMPARE(f.progressText(), QStringLiteral("Progress Bar"));

    // Everything read: "Done." alone.
    rig.w.boxes.clear();
    rig.mailbox.answerInstead = nullptr;
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 10);
    QCOMPARE(rig.w.boxes.texts(), QStringList{QStringLiteral("Done.")});
}

void TestRetrievalInterleaving::reportText_data()
{
    QTest::addColumn<QList<int>>("unread");
    QTest::addColumn<int>("countAfter");
    QTest::addColumn<QString>("text");
    const QString log = QStringLiteral("\r\n\r\nDetails are in the error log: /tmp/errorlog.txt");
    const QString reason = QStringLiteral("\r\n\r\nLast failure: Gone.");
    QTest::newRow("all read") << QList<int>{} << -1 << QString();
    QTest::newRow("three") << QList<int>{4, 5, 6} << -1
                           << QStringLiteral("3 messages could not be read: numbers 4, 5, 6.") + reason + log;
    QTest::newRow("many") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12} << -1
                          << QStringLiteral(
                                 "12 messages could not be read: numbers 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 "
                                 "and 2 more.") +
                                 reason + log;
    QTest::newRow("count changed") << QList<int>{} << 7
                                   << QStringLiteral(
                                          "The folder's message count changed from 6 to 7 while "
                                          "reconnecting: the numbers may have moved, so messages may be "
                                          "missing or listed twice.") +
                                          log;
    QTest::newRow("count unchanged") << QList<int>{} << 6 << QString();
}

void TestRetrievalInterleaving::reportText()
{
    QFETCH(QList<int>, unread);
    QFETCH(int, countAfter);
    QFETCH(QString, text);
    ExtractionGaps gaps;
    gaps.unread = unread;
    gaps.lastReason = QStringLiteral("Gone.");
    gaps.countBefore = 6;
    gaps.countAfter = countAfter;
    QCOMPARE(ExtractionReport::text(gaps, QStringLiteral("/tmp/errorlog.txt")), text);
}

// Folders as Gmail names them, below "[Gmail]/", found by their special use: the count and
// the fetch connection both open the service's name. The first retrieval uses the connect's
// listing; a later one, on a new session, lists the mailboxes again.
void TestRetrievalInterleaving::gmailFoldersByTheirRole()
{
    ScriptedImapServer server(m_certificates->serverConfiguration(TestCertificates::Server::Trusted));
    FakeMailbox mailbox;
    mailbox.addFolder(QStringLiteral("Inbox"), 1);
    mailbox.addFolder(QStringLiteral("[Gmail]/Sent Mail"), 2, QStringLiteral("\\Sent"));
    mailbox.addFolder(QStringLiteral("[Gmail]/Spam"), 1, QStringLiteral("\\Junk"));
    mailbox.addFolder(QStringLiteral("[Gmail]/Gelöschte Objekte"), 3, QStringLiteral("\\Trash"));
    mailbox.serve(server);
    MainWindowFixture w;
    w.settings.preset("Server", QStringLiteral("localhost"));
    w.settings.preset("Port", QString::number(server.port()));
    w.settings.preset("CACertificates", m_certificates->caFile());
    Form1& f = w.load();
    QVERIFY(w.connectAs(QStringLiteral("ann@gmail.com"), QStringLiteral("app-password")));

    const struct {
        QRadioButton* option;
        int rows;
        QString examined; // as sent
    } cases[] = {
        {f.Option6, 2, QStringLiteral("\"[Gmail]/Sent Mail\"")},
        {f.Option7, 1, QStringLiteral("\"[Gmail]/Spam\"")},
        {f.Option9, 3, QStringLiteral("\"[Gmail]/Gel&APY-schte Objekte\"")},
        {f.Option5, -1, QStringLiteral("\"Drafts\"")}, // no drafts folder: as today
    };
    for (const auto& c : cases) {
        const int examinedBefore =
            int(mailbox.commands().filter(QStringLiteral(" EXAMINE ") + c.examined).size());
        w.boxes.clear();
        c.option->setChecked(true);
        f.PushButton3->click();
        const int examined = int(mailbox.commands().filter(QStringLiteral(" EXAMINE ") + c.examined).size());
        if (c.rows < 0) {
            // As for any folder the account lacks, with the cause after the box's first words.
            QCOMPARE(w.boxes.texts(),
                     (QStringList{"Invalid login. Please double-check your username and password.\r\n\r\n"
                                  "The folder \"Drafts\" does not exist on this server.",
                                  "There are no emails in the Folder you selected."}));
            QCOMPARE(examined - examinedBefore, 1);
            continue;
        }
        QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(f.list().count(), c.rows);
        QCOMPARE(examined - examinedBefore, 2); // the count, then the fetch connection
        if (c.option == f.Option6)
            QCOMPARE(mailbox.count(QStringLiteral("LIST")), 1);
    }
    QCOMPARE(mailbox.count(QStringLiteral("LIST")), 4);
    QVERIFY2(mailbox.protocolErrors().isEmpty(), qPrintable(mailbox.protocolErrors().join('\n')));
}

QTEST_MAIN(TestRetrievalInterleaving)
#include "tst_retrieval_interleaving.moc"
