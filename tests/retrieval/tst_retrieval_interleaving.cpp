// Clicks that land while a retrieval is suspended in its waits, each at one exact point of the
// conversation with a fake mailbox: the mailbox acts when the client's command arrives, that
// is, while the client waits for the answer.
#include "retrieval/EmailCounts.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RetrievalFlow.h"
#include "support/MailboxWindowFixture.h"
#include "support/TestCertificates.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestRetrievalInterleaving : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void getSomeStoppedBeforeTheRangeDialogKeepsTheList();

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
    QCOMPARE(f.list().subItem(1, 3), FakeMailbox::subject(2));
    QCOMPARE(f.mailStore().size(), 4);
    QCOMPARE(f.mailStore().at(1).Subject, FakeMailbox::subject(2));
    QCOMPARE(rig.mailbox.count(QStringLiteral("FETCH")), 3);
    QCOMPARE(f.PushButton2->text(), QStringLiteral("2b. Get Some Emails"));
    QCOMPARE(f.PushButton3->text(), QStringLiteral("2a. Get All Emails"));
    QVERIFY(!f.PushButton2->isHidden());
    QCOMPARE(f.pointer.value(), 0);
    QVERIFY(!f.oChilkat());
}

QTEST_MAIN(TestRetrievalInterleaving)
#include "tst_retrieval_interleaving.moc"
