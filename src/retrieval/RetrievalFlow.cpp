#include "retrieval/RetrievalFlow.h"

#include "frame/ErrorLog.h"
#include "frame/ErrorTail.h"
#include "frame/MessageBoxService.h"
#include "mail/ClsChilkatImap.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/ExtractionReport.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

namespace {
const QString kStop = QStringLiteral("Stop");
const QString kGetAll = QStringLiteral("2a. Get All Emails");
const QString kGetSome = QStringLiteral("2b. Get Some Emails");
const QString kConnectFirst = QStringLiteral("Please connect first (Step 1) before using this feature.");

// Keeps count of the retrieval handlers running on the call stack.
struct Depth {
    explicit Depth(int& depth)
        : d(depth)
    {
        ++d;
    }
    ~Depth() { --d; }
    int& d;
};
} // namespace

RetrievalFlow::RetrievalFlow(Form1& form)
    : f(form)
{
}

void RetrievalFlow::bind()
{
    connect(f.PushButton3, &QPushButton::clicked, this, &RetrievalFlow::PushButton3_Click);
    connect(f.PushButton2, &QPushButton::clicked, this, &RetrievalFlow::PushButton2_Click);
}

QString RetrievalFlow::folderName() const
{
    if (f.Option3->isChecked())
        return QStringLiteral("Inbox");
    if (f.Option5->isChecked())
        return QStringLiteral("Drafts");
    if (f.Option6->isChecked())
        return QStringLiteral("Sent");
    if (f.Option7->isChecked())
        return QStringLiteral("Junk");
    if (f.Option9->isChecked())
        return QStringLiteral("Deleted");
    return QString();
}

QString RetrievalFlow::chooseFolder(ErrorTail& tail, int firstLine)
{
    const std::pair<QRadioButton*, QString> options[] = {
        {f.Option3, QStringLiteral("Inbox")}, {f.Option5, QStringLiteral("Drafts")}, {f.Option6, QStringLiteral("Sent")},
        {f.Option7, QStringLiteral("Junk")},  {f.Option9, QStringLiteral("Deleted")}};
    QString folder;
    int line = firstLine;
    // Plain names rather than structured bindings: the lambdas below capture them, which clang 14
    // does not allow for bindings.
    for (const auto& entry : options) {
        QRadioButton* const option = entry.first;
        const QString& name = entry.second;
        if (tail.condition(line, [&] { return option->isChecked(); })) {
            tail.line(line + 2, [&] { folder = name; });
            return folder;
        }
        line += 4;
    }
    return folder;
}

std::shared_ptr<clsChilkatIMAP> RetrievalFlow::sessionForRetrieval(ErrorTail& tail, int firstLine)
{
    if (!tail.condition(firstLine, [&] { return f.oChilkat() == nullptr; }))
        return f.oChilkat();
    std::shared_ptr<clsChilkatIMAP> session;
    tail.line(firstLine + 2, [&] {
        session = f.connection().newSession();
        f.setSession(session);
    });
    if (!session)
        return nullptr;
    bool connected = false;
    tail.line(firstLine + 4, [&] { connected = session->Connect(); });
    return connected ? session : nullptr;
}

void RetrievalFlow::stop(ErrorTail& tail)
{
    tail.line(208, [&] { f.PushButton3->setText(SavedButtonCaption); });
    tail.line(210, [&] { f.PushButton2->setText(kGetSome); });
    tail.line(212, [&] { Form1::setWidthTwips(f.PushButton3, 3840); });
    tail.line(214, [&] { f.PushButton2->setVisible(true); });
    tail.line(218, [&] {
        if (!f.oChilkat())
            throw VbError::objectNotSet();
        f.oChilkat()->AbortProcess = true;
    });
    tail.line(220, [&] { f.setSession(nullptr); });
}

void RetrievalFlow::PushButton3_Click()
{
    ErrorTail tail(*f.services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton3_Click"));
    if (tail.condition(100, [&] { return !f.connection().isConnected(); })) {
        tail.line(102, [&] { f.services.boxes->msgBox(kConnectFirst); });
        return;
    }
    if (tail.condition(104, [&] { return f.PushButton3->text() == kStop; })) {
        stop(tail);
        return;
    }
    // After a Stop the stopped retrieval is still finishing further down the call stack;
    // a new one starts only once it has ended.
    if (isRunning())
        return;
    const Depth running(m_depth);

    tail.line(106, [&] { f.PushButton2->setText(kStop); });
    tail.line(108, [&] { Form1::setWidthTwips(f.PushButton3, 7800); });
    tail.line(110, [&] { f.PushButton2->setVisible(false); });
    tail.line(112, [&] { f.pointer.set(MousePointer::Hourglass); });
    tail.line(114, [&] { SavedButtonCaption = f.PushButton3->text(); });
    tail.line(116, [&] { f.PushButton3->setText(kStop); });
    tail.line(120, [&] { f.list().clear(); });
    tail.line(122, [&] { f.ListView1->setSortingEnabled(false); });
    tail.line(124, [&] { f.counts().UpdateEmailCounts(true); });
    tail.line(126, [&] { f.RuleCheckDone = false; });
    SkipDoneMessage = false;

    // The handler keeps its own reference: a Stop drops the window's, and the steps below
    // then end quietly instead of working on a session that was let go.
    const auto session = sessionForRetrieval(tail, 128);
    const auto stopped = [&] { return !session || session->AbortProcess; };
    if (!session) {
        SkipDoneMessage = true;
    } else {
        const QString folder = chooseFolder(tail, 152);
        tail.line(174, [&] { session->setCurrentLocation(1); });
        tail.line(176, [&] {
            if (!stopped())
                session->setMaxRecord(session->GetTotalMessage(folder));
        });
        if (tail.condition(178, [&] { return session->MaxRecord() > 0; })) {
            tail.line(180, [&] { f.mailStore().recreate(session->MaxRecord()); });
            tail.line(182, [&] {
                if (!stopped())
                    session->StartMailExtraction(folder);
            });
        } else {
            tail.line(184, [&] { f.services.boxes->msgBox(QStringLiteral("There are no emails in the Folder you selected.")); });
            tail.line(186, [&] { SkipDoneMessage = true; });
        }
        tail.line(188, [&] { f.counts().UpdateEmailCounts(false); });
    }

    tail.line(190, [&] { f.setSession(nullptr); });
    tail.line(196, [&] { f.pointer.set(MousePointer::Default); });
    tail.line(194, [&] { f.ProgressBar1->setValue(0); });
    tail.line(192, [&] { f.setProgressText(QStringLiteral("Progress Bar")); });
    tail.line(198, [&] { f.PushButton3->setText(SavedButtonCaption); });
    tail.line(200, [&] { f.PushButton2->setText(kGetSome); });
    tail.line(202, [&] { Form1::setWidthTwips(f.PushButton3, 3840); });
    tail.line(204, [&] { f.PushButton2->setVisible(true); });
    if (tail.condition(206, [&] { return !SkipDoneMessage; })) {
        f.services.boxes->msgBox(QStringLiteral("Done."));
        if (const QString report = session ? ExtractionReport::text(session->Gaps(), ErrorLog::path()) : QString();
            !report.isEmpty())
            f.services.boxes->msgBox(report, MessageBoxService::Icon::Exclamation);
    }
}

void RetrievalFlow::PushButton2_Click()
{
    ErrorTail tail(*f.services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"));
    if (tail.condition(100, [&] { return !f.connection().isConnected(); })) {
        tail.line(102, [&] { f.services.boxes->msgBox(kConnectFirst); });
        return;
    }
    if (isRunning())
        return;
    const Depth running(m_depth);

    tail.line(106, [&] { f.PushButton3->setText(kStop); });
    tail.line(108, [&] { Form1::setWidthTwips(f.PushButton3, 7800); });
    tail.line(110, [&] { f.PushButton2->setVisible(false); });
    tail.line(112, [&] { f.pointer.set(MousePointer::Hourglass); });
    tail.line(114, [&] { SavedButtonCaption = f.PushButton2->text(); });
    tail.line(116, [&] { f.PushButton2->setText(kStop); });
    SkipDoneMessage = false;

    const auto session = sessionForRetrieval(tail, 120);
    const auto stopped = [&] { return !session || session->AbortProcess; };
    if (!session) {
        SkipDoneMessage = true;
    } else {
        const QString folder = chooseFolder(tail, 144);
        Form2& dialog = f.rangeDialog();
        tail.line(166, [&] { dialog.setChilkatIMAP(session); });
        tail.line(168, [&] {
            if (!stopped())
                dialog.setMaxMessage(session->GetTotalMessage(folder));
        });
        bool readRange = true;
        if (tail.condition(170, [&] { return !stopped() && session->GetTotalMessage(folder) > 0; })) {
            tail.line(172, [&] {
                if (!stopped()) {
                    dialog.show();
                } else {
                    // Stopped before the range was asked for: as if the dialog had been closed
                    // at once. The confirmation of an earlier run must not stand in for it.
                    RangeConfirmed = false;
                    SkipDoneMessage = true;
                }
            });
            if (tail.condition(174, [&] { return !RangeConfirmed; })) {
                readRange = false;
            } else {
                tail.line(176, [&] { f.list().clear(); });
                tail.line(178, [&] { f.ListView1->setSortingEnabled(false); });
                tail.line(180, [&] { f.counts().UpdateEmailCounts(true); });
                tail.line(182, [&] { SkipDoneMessage = false; });
                tail.line(184, [&] { f.mailStore().recreate(session->MaxRecord()); });
                tail.line(186, [&] {
                    if (!stopped())
                        session->StartMailExtraction(folder);
                });
            }
        } else {
            tail.line(188, [&] { f.services.boxes->msgBox(QStringLiteral("There are 0 emails in the Folder you selected.")); });
            tail.line(190, [&] { SkipDoneMessage = true; });
        }
        if (readRange) {
            tail.line(192, [&] { f.counts().UpdateEmailCounts(false); });
            tail.line(194, [&] { f.RuleCheckDone = false; });
        }
    }

    tail.line(196, [&] { f.setSession(nullptr); });
    tail.line(202, [&] { f.pointer.set(MousePointer::Default); });
    tail.line(200, [&] { f.ProgressBar1->setValue(0); });
    tail.line(198, [&] { f.setProgressText(QStringLiteral("Progress Bar")); });
    tail.line(204, [&] { f.PushButton2->setText(SavedButtonCaption); });
    tail.line(206, [&] { f.PushButton3->setText(kGetAll); });
    tail.line(208, [&] { Form1::setWidthTwips(f.PushButton3, 3840); });
    tail.line(210, [&] { f.PushButton2->setVisible(true); });
    if (tail.condition(212, [&] { return !SkipDoneMessage; })) {
        f.services.boxes->msgBox(QStringLiteral("Done."));
        if (const QString report = session ? ExtractionReport::text(session->Gaps(), ErrorLog::path()) : QString();
            !report.isEmpty())
            f.services.boxes->msgBox(report, MessageBoxService::Icon::Exclamation);
    }
}
