#include "frame/GeneralDate.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RetrievalFlow.h"
#include "support/DelayRelay.h"
#include "support/DovecotHarness.h"
#include "support/MainWindowFixture.h"
#include "ui/Form2.h"
#include "ui/Twips.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {

QByteArray message(int n, const QString& subject, const QString& body, const QString& fromName = "Sender",
                   const QString& date = "Mon, 07 Dec 2026 09:30:00 +0000")
{
    return QStringLiteral("From: %1 <sender%2@example.org>\r\n"
                          "To: ann.tester@corvanel.test\r\n"
                          "Subject: %3\r\n"
                          "Date: %4\r\n"
                          "Message-ID: <m%2@example.org>\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "\r\n%5\r\n")
        .arg(fromName)
        .arg(n)
        .arg(subject, date, body)
        .toUtf8();
}

} // namespace

class TestRetrievalDovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void getAllReadsTheFolderInOrder();
    void secondRetrievalLogsInAgainAndRefills();
    void getAllSurvivesCutConnections();
    void filterExamples();
    void recDateExamples();
    void emptyFolderEndsWithoutDone();
    void missingFolder();
    void notConnected();
    void stopKeepsRowsReadSoFar();
    void getAllThroughASlowLink();
    void getSomeValidation();
    void getSomeFirstAfterLast();
    void getSomeClosedDialogCancelsSilently();
    void getSomeEmptyFolderKeepsTheList();
    void foldersByTheirRole_data();
    void foldersByTheirRole();

private:
    MainWindowFixture& window();
    DovecotHarness m_server;
    // Folders as Microsoft 365 names them, and folders that only partly match the window's.
    std::unique_ptr<DovecotHarness> m_microsoft365;
    std::unique_ptr<DovecotHarness> m_mixed;
    std::unique_ptr<MainWindowFixture> m_window;
    QString m_filterUser = QStringLiteral("filter.user@corvanel.test");
    QString m_dateUser = QStringLiteral("date.user@corvanel.test");
};

void TestRetrievalDovecot::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    for (int n = 1; n <= 50; ++n)
        QVERIFY(!m_server.writeMessage("Inbox", message(n, QStringLiteral("Message %1").arg(n),
                                                        QStringLiteral("Body of message %1").arg(n)))
                     .isEmpty());
    // Sent stays empty; Drafts holds five.
    for (int n = 1; n <= 5; ++n)
        m_server.writeMessage("Drafts", message(n, QStringLiteral("Draft %1").arg(n), QStringLiteral("draft")));

    QVERIFY(m_server.addUser(m_filterUser, "filter-pw"));
    m_server.writeMessage("Inbox", message(1, "ABC report", "nothing here"), QString(), m_filterUser);
    m_server.writeMessage("Inbox", message(2, "plain", "nothing", "ABC Sender"), QString(), m_filterUser);
    m_server.writeMessage("Inbox",
                          "From: x@example.org\r\nSubject: html\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\n"
                          "Content-Type: text/plain\r\n\r\nplain part\r\n--b\r\nContent-Type: text/html\r\n\r\n"
                          "<p>abc</p>\r\n--b--\r\n",
                          QString(), m_filterUser);
    m_server.writeMessage("Inbox", message(4, "nospace", "x"), QString(), m_filterUser);
    m_server.writeMessage(
        "Inbox",
        "From: news@example.org\r\nSubject: newsletter\r\nMIME-Version: 1.0\r\n"
        "Content-Type: text/html; charset=utf-8\r\n\r\n"
        "<html><head><style>p{}</style></head><body><p>Your code: <b>xyz</b>&nbsp;expires</p>"
        "</body></html>\r\n",
        QString(), m_filterUser);

    QVERIFY(m_server.addUser(m_dateUser, "date-pw"));
    // Local times, so that the received-date text is the same wherever the test runs.
    const auto localDate = [](const QDateTime& local) {
        return local.toString(Qt::RFC2822Date);
    };
    m_server.writeMessage("Inbox", message(1, "a", "a", "S", localDate(QDateTime(QDate(2026, 12, 7), QTime(9, 30)))),
                          QString(), m_dateUser);
    m_server.writeMessage("Inbox", message(2, "b", "b", "S", localDate(QDateTime(QDate(2026, 12, 7), QTime(18, 0)))),
                          QString(), m_dateUser);
    m_server.writeMessage("Inbox", message(3, "c", "c", "S", localDate(QDateTime(QDate(2026, 12, 7), QTime(12, 0)))),
                          QString(), m_dateUser);
    m_server.writeMessage("Inbox", message(4, "d", "d", "S", localDate(QDateTime(QDate(2026, 12, 8), QTime(12, 0)))),
                          QString(), m_dateUser);
}

void TestRetrievalDovecot::init()
{
    m_window = std::make_unique<MainWindowFixture>();
    m_window->pointTo(m_server);
    m_window->load();
}

MainWindowFixture& TestRetrievalDovecot::window() { return *m_window; }

void TestRetrievalDovecot::getAllReadsTheFolderInOrder()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    QCOMPARE(f.progressText(),
             QStringLiteral("Connected to Windows Live Hotmail. Please select folder to extract emails from."));
    QStringList progress;
    connect(&f.list(), &MessageListModel::rowAdded, this, [&] { progress << f.progressText(); });
    // The view is told of new rows while the run goes on, each time of all rows added so far.
    f.list().setAnnounceInterval(0);
    int insertsWhileRunning = 0;
    bool insertsCoverAll = true;
    connect(&f.list(), &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex&, int, int last) {
        insertsCoverAll = insertsCoverAll && last + 1 == f.list().count();
        insertsWhileRunning += f.PushButton3->text() == QStringLiteral("Stop");
    });
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(f.list().count(), 50);
    QCOMPARE(f.ListView1->model()->rowCount(), 50);
    QVERIFY(insertsWhileRunning > 0);
    QVERIFY(insertsCoverAll);
    QCOMPARE(f.mailStore().size(), 50);
    for (int k = 1; k <= 50; ++k) {
        QCOMPARE(f.list().subItem(k, 3), QStringLiteral("Message %1").arg(k));
        QCOMPARE(f.mailStore().at(k).Subject, f.list().subItem(k, 3));
        QCOMPARE(f.mailStore().at(k).From, f.list().text(k));
        QCOMPARE(f.mailStore().at(k).PlainTextBody.trimmed(), QStringLiteral("Body of message %1").arg(k));
        QVERIFY(!f.list().isChecked(k));
    }
    QCOMPARE(f.list().subItem(1, 2), QStringLiteral("sender1@example.org"));
    QCOMPARE(f.Label1->text(), QStringLiteral("Total Number Of Emails: 50"));
    QCOMPARE(f.Label2->text(), QStringLiteral("Selected Emails: 0"));
    QVERIFY(progress.contains(QStringLiteral("Reading mail 7 of 50")));
    // The end steps put everything back.
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
    QCOMPARE(f.PushButton2->text(), QStringLiteral("2b. Get Some Emails"));
    QCOMPARE(Form1::widthTwips(f.PushButton3), 3840);
    QVERIFY(!f.PushButton2->isHidden());
    QCOMPARE(f.progressText(), QStringLiteral("Progress Bar"));
    QCOMPARE(f.ProgressBar1->value(), 0);
    QCOMPARE(f.pointer.value(), 0);
    QVERIFY(!f.oChilkat());
    QCOMPARE(f.PushButton1->text(), QStringLiteral("Disconnect"));
    // Fetching left every message unseen.
    for (const QString& unique : m_server.maildir().uniques("Inbox"))
        QVERIFY(!m_server.isSeen("Inbox", unique));
}

void TestRetrievalDovecot::secondRetrievalLogsInAgainAndRefills()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.Option5->setChecked(true);
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 5);
    f.list().setChecked(2, true);
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts(), (QStringList{"Done.", "Done."}));
    QCOMPARE(f.list().count(), 5);
    QVERIFY(!f.list().isChecked(2));
    QCOMPARE(f.list().subItem(5, 3), QStringLiteral("Draft 5"));
}

// The network breaks twice during Get All, half way through a message each time: the session
// reconnects by itself and the list ends up whole, in order, with one "Done.".
void TestRetrievalDovecot::getAllSurvivesCutConnections()
{
    // Connection 1 is the connect's; the retrieval's own (2) and its first reconnect (3) are cut
    // after about a dozen messages each.
    DelayRelay::Options cut;
    cut.targetPort = m_server.imapsPort();
    cut.delayToServerMs = cut.delayToClientMs = 0;
    cut.cutConnections = {0, 7000, 7000};
    DelayRelay relay(cut);
    QVERIFY(relay.listen());
    auto& w = window();
    Form1& f = *w.form;
    w.settings.preset("Port", QString::number(relay.port()));
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.PushButton3->click();
    QCOMPARE(relay.connectionsCut(), 2);
    QCOMPARE(relay.connectionsAccepted(), 4);
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(f.list().count(), 50);
    for (int k = 1; k <= 50; ++k)
        QCOMPARE(f.list().subItem(k, 3), QStringLiteral("Message %1").arg(k));
    QCOMPARE(f.progressText(), QStringLiteral("Progress Bar"));
}

void TestRetrievalDovecot::filterExamples()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(m_filterUser, "filter-pw"));
    f.txtSearch->setText("abc");
    f.PushButton3->click();
    // Only the subject is searched regardless of letter case; the HTML body is not searched.
    QCOMPARE(f.list().count(), 1);
    QCOMPARE(f.list().subItem(1, 3), QStringLiteral("ABC report"));
    QCOMPARE(f.mailStore().at(1).Subject, QStringLiteral("ABC report"));
    // Mail with only an HTML part is searched in the text its HTML shows.
    f.txtSearch->setText("code: xyz expires");
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 1);
    QCOMPARE(f.list().subItem(1, 3), QStringLiteral("newsletter"));
    QCOMPARE(f.mailStore().at(1).PlainTextBody, QStringLiteral("Your code: xyz expires"));
    QVERIFY(f.mailStore().at(1).HTMLTextBody.startsWith(QStringLiteral("<html><head><style>")));
    // A filter of one space passes every message with a space in a searched field.
    f.txtSearch->setText(" ");
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 5);
}

void TestRetrievalDovecot::recDateExamples()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(m_dateUser, "date-pw"));
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 4);
    QCOMPARE(f.list().subItem(1, 5), QStringLiteral("46363"));
    QCOMPARE(f.list().subItem(2, 5), QStringLiteral("46364"));
    QCOMPARE(f.list().subItem(3, 5), QStringLiteral("46364"));
    QCOMPARE(f.list().subItem(4, 5), QStringLiteral("46364"));
    QCOMPARE(f.list().subItem(1, 4), GeneralDate::format(QDateTime(QDate(2026, 12, 7), QTime(9, 30))));
}

void TestRetrievalDovecot::emptyFolderEndsWithoutDone()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 50);
    f.Option6->setChecked(true);
    f.PushButton3->click();
    QCOMPARE(f.list().count(), 0);
    QCOMPARE(w.boxes.texts(), (QStringList{"Done.", "There are no emails in the Folder you selected."}));
    // A retrieval that reads messages says "Done." again afterwards.
    f.Option3->setChecked(true);
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts().last(), QStringLiteral("Done."));
}

void TestRetrievalDovecot::missingFolder()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    // No option selected: the folder name is empty and cannot be selected.
    f.Option3->setAutoExclusive(false);
    f.Option3->setChecked(false);
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts(), (QStringList{"Invalid login. Please double-check your username and password.\r\n\r\n",
                                           "There are no emails in the Folder you selected."}));
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
}

void TestRetrievalDovecot::notConnected()
{
    auto& w = window();
    Form1& f = *w.form;
    f.PushButton3->click();
    f.PushButton2->click();
    QCOMPARE(w.boxes.texts(), (QStringList{"Please connect first (Step 1) before using this feature.",
                                           "Please connect first (Step 1) before using this feature."}));
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
}

void TestRetrievalDovecot::stopKeepsRowsReadSoFar()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    bool stopShown = false;
    connect(&f.list(), &MessageListModel::rowAdded, this, [&] {
        if (f.list().count() == 3) {
            stopShown = f.PushButton3->text() == "Stop" && Form1::widthTwips(f.PushButton3) == 7800
                && f.PushButton2->isHidden() && f.pointer.value() == 11;
            QTimer::singleShot(0, f.PushButton3, &QPushButton::click);
        }
    });
    f.PushButton3->click();
    QVERIFY(stopShown);
    QCOMPARE(f.list().count(), 3);
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
    QVERIFY(!f.oChilkat());
    QCOMPARE(f.pointer.value(), 0);
}

// Every byte of both connections goes through a relay with a delay each way: the rows come
// out the same, in order, and the view hears of them.
void TestRetrievalDovecot::getAllThroughASlowLink()
{
    DelayRelay::Options link;
    link.targetPort = m_server.imapsPort();
    link.delayToServerMs = link.delayToClientMs = 3;
    DelayRelay relay(link);
    QVERIFY(relay.listen());
    auto& w = window();
    Form1& f = *w.form;
    w.settings.preset("Port", QString::number(relay.port()));
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(f.list().count(), 50);
    QCOMPARE(f.ListView1->model()->rowCount(), 50);
    for (int k = 1; k <= 50; ++k)
        QCOMPARE(f.mailStore().at(k).PlainTextBody.trimmed(), QStringLiteral("Body of message %1").arg(k));
    QVERIFY(relay.connectionsAccepted() >= 2); // "1. Connect" and the retrieval's own
    QVERIFY(relay.bytesToClients() > 50 * 200);
}

void TestRetrievalDovecot::getSomeValidation()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    Form2& dialog = f.rangeDialog();
    QStringList seen;
    connect(&dialog, &Form2::loaded, this, [&] {
        QTimer::singleShot(0, this, [&] {
            seen << dialog.Label1[1]->text() << dialog.Text1[0]->text() << dialog.Text1[1]->text();
            const auto tryRange = [&](const QString& first, const QString& last) {
                dialog.Text1[0]->setText(first);
                dialog.Text1[1]->setText(last);
                dialog.PushButton1->click();
            };
            tryRange("0", "5");
            tryRange("abc", "5");
            tryRange("1", "51");
            tryRange("1", "");
            tryRange("99999999999", "3");  // overflow reported; the last number still applies
            QVERIFY(dialog.window() == nullptr || !dialog.window()->isVisible());
        });
    });
    f.PushButton2->click();
    QCOMPARE(seen, (QStringList{"To (Max of 50)", "1", "50"}));
    const QStringList texts = w.boxes.texts();
    QCOMPARE(texts[0], QStringLiteral("Please input a value greater than zero."));
    QCOMPARE(texts[1], QStringLiteral("Please input a value greater than zero."));
    QCOMPARE(texts[2], QStringLiteral("Please input max value greater than 0 and less than or equal to 50"));
    QCOMPARE(texts[3], QStringLiteral("Please input max value greater than 0 and less than or equal to 50"));
    QVERIFY(texts[4].startsWith("Overflow\r\nin Tessaline2021/08/31.Form2.PushButton1_Click at line 108"));
    QCOMPARE(texts.last(), QStringLiteral("Done."));
    // CurrentLocation kept its earlier value (0, where nothing is found): messages 1 to 3.
    QCOMPARE(f.list().count(), 3);
    QCOMPARE(f.list().subItem(3, 3), QStringLiteral("Message 3"));
    QCOMPARE(f.PushButton2->text(), QStringLiteral("2b. Get Some Emails"));
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
}

void TestRetrievalDovecot::getSomeFirstAfterLast()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.list().add("stays until the range is confirmed");
    Form2& dialog = f.rangeDialog();
    connect(&dialog, &Form2::loaded, this, [&] {
        QTimer::singleShot(0, this, [&] {
            dialog.Text1[0]->setText("7");
            dialog.Text1[1]->setText("2.5");
            dialog.Command1->click();
        });
    });
    f.PushButton2->click();
    QCOMPARE(f.list().count(), 0);
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
}

void TestRetrievalDovecot::getSomeClosedDialogCancelsSilently()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.list().add("kept");
    Form2& dialog = f.rangeDialog();
    connect(&dialog, &Form2::loaded, this, [&] { QTimer::singleShot(0, dialog.window(), &QWidget::close); });
    f.PushButton2->click();
    QVERIFY(w.boxes.texts().isEmpty());
    QCOMPARE(f.list().count(), 1);
    QCOMPARE(f.PushButton2->text(), QStringLiteral("2b. Get Some Emails"));
    QVERIFY(!f.PushButton2->isHidden());
    QCOMPARE(f.pointer.value(), 0);
}

void TestRetrievalDovecot::getSomeEmptyFolderKeepsTheList()
{
    auto& w = window();
    Form1& f = *w.form;
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    f.list().add("earlier row");
    f.Option6->setChecked(true);
    f.PushButton2->click();
    QCOMPARE(w.boxes.texts(), QStringList{"There are 0 emails in the Folder you selected."});
    QCOMPARE(f.list().count(), 1);
}

void TestRetrievalDovecot::foldersByTheirRole_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("folder"); // the option's caption
    QTest::addColumn<int>("rows");       // -1: the folder cannot be found
    QTest::newRow("Microsoft 365 Sent") << "365" << "Sent" << 3;
    QTest::newRow("Microsoft 365 Junk") << "365" << "Junk" << 2;
    QTest::newRow("Microsoft 365 Deleted") << "365" << "Deleted" << 1;
    QTest::newRow("Microsoft 365 Inbox") << "365" << "Inbox" << 1;
    QTest::newRow("exact name beside special use") << "mixed" << "Drafts" << 2;
    QTest::newRow("special use of a UTF-7 name") << "mixed" << "Deleted" << 4;
    QTest::newRow("well-known name") << "mixed" << "Junk" << 1;
    QTest::newRow("no match") << "mixed" << "Sent" << -1;
}

void TestRetrievalDovecot::foldersByTheirRole()
{
    QFETCH(QString, server);
    QFETCH(QString, folder);
    QFETCH(int, rows);
    const auto started = [](std::unique_ptr<DovecotHarness>& harness,
                            std::vector<std::pair<QString, QString>> folders,
                            const std::vector<std::pair<QString, int>>& contents) {
        if (harness)
            return true;
        DovecotHarness::Options options;
        options.folders = std::move(folders);
        harness = std::make_unique<DovecotHarness>(options);
        if (!harness->start())
            return false;
        for (const auto& [name, count] : contents)
            for (int n = 1; n <= count; ++n)
                if (harness->writeMessage(name, message(n, name + QString::number(n), "body")).isEmpty())
                    return false;
        return true;
    };
    const bool ready
        = server == "365"
              ? started(m_microsoft365,
                        {{"Drafts", "\\Drafts"}, {"Sent Items", "\\Sent"}, {"Junk Email", "\\Junk"},
                         {"Deleted Items", "\\Trash"}},
                        {{"Inbox", 1}, {"Sent Items", 3}, {"Junk Email", 2}, {"Deleted Items", 1}})
              : started(m_mixed,
                        {{"Drafts", QString()}, {"Entwürfe", "\\Drafts"}, {"Gelöschte Elemente", "\\Trash"},
                         {"Spam", QString()}},
                        {{"Drafts", 2}, {"Entwürfe", 3}, {"Gelöschte Elemente", 4}, {"Spam", 1}});
    DovecotHarness& harness = server == "365" ? *m_microsoft365 : *m_mixed;
    QVERIFY2(ready, qPrintable(harness.errorText()));

    MainWindowFixture w;
    w.pointTo(harness);
    Form1& f = w.load();
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    QVERIFY(w.boxes.shown().isEmpty());
    for (QRadioButton* option : {f.Option3, f.Option5, f.Option6, f.Option7, f.Option9})
        if (option->text() == folder)
            option->setChecked(true);
    f.PushButton3->click();
    if (rows < 0) {
        // As for any folder the account lacks, with the cause after the box's first words.
        QCOMPARE(w.boxes.texts(),
                 (QStringList{QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n"
                                             "The folder \"%1\" does not exist on this server.")
                                  .arg(folder),
                              "There are no emails in the Folder you selected."}));
        QCOMPARE(f.list().count(), 0);
        return;
    }
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(f.list().count(), rows);
}

QTEST_MAIN(TestRetrievalDovecot)
#include "tst_retrieval_dovecot.moc"
