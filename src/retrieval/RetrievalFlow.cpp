#include "retrieval/RetrievalFlow.h"

#include "frame/ErrorLog.h"
#include "frame/ErrorTail.h"
#include "frame/FolderOptions.h"
#include "frame/MessageBoxService.h"
#include "frame/MousePointer.h"
#include "frame/StatusLine.h"
#include "frame/StepButtons.h"
#include "mail/ClsChilkatImap.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/ExtractionReport.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RangeDialog.h"
#include "retrieval/RetrievalGlobals.h"
#include "retrieval/RetrievalView.h"

namespace {
const QString kStop = QStringLiteral("Stop");
const QString kGetAll = QStringLiteral("2a. Get All Emails");
const QString kGetSome = QStringLiteral("2b. Get Some Emails");
const QString kConnectFirst = QStringLiteral("Please connect first (Step 1) before using this feature.");

// A retrieval handler's run: sets the retrieval's state for as long as the handler runs.
struct Running {
    Running(RetrievalFlow::State& state, RetrievalFlow::State running)
        : s(state)
    {
        s = running;
    }
    ~Running() { s = RetrievalFlow::State::Idle; }
    RetrievalFlow::State& s;
};

// "Done.", then, when some messages of the range could not be read, which ones and why.
void showDone(MessageBoxService& boxes, const clsChilkatIMAP* session)
{
    boxes.msgBox(QStringLiteral("Done."));
    if (!session)
        return;
    const QString report = ExtractionReport::text(session->Gaps(), ErrorLog::path());
    if (!report.isEmpty())
        boxes.msgBox(report, MessageBoxService::Icon::Exclamation);
}
} // namespace

RetrievalFlow::RetrievalFlow(Services services, Views views, MainListModels models, ConnectDisconnect& connection,
                             RetrievalGlobals& globals)
    : m_services(services)
    , m_views(views)
    , m_models(models)
    , m_connection(connection)
    , m_globals(globals)
{
}

QString RetrievalFlow::folderName() const
{
    for (const FolderOptions::Folder& folder : FolderOptions::folders)
        if (m_views.folders.option(folder.option))
            return QString::fromLatin1(folder.name);
    return QString();
}

QString RetrievalFlow::chooseFolder(ErrorTail& tail, int firstLine)
{
    QString folder;
    int line = firstLine;
    for (const FolderOptions::Folder& entry : FolderOptions::folders) {
        const int option = entry.option;
        const QString name = QString::fromLatin1(entry.name);
        if (tail.condition(line, [&] { return m_views.folders.option(option); })) {
            tail.line(line + 2, [&] { folder = name; });
            return folder;
        }
        line += 4;
    }
    return folder;
}

std::shared_ptr<clsChilkatIMAP> RetrievalFlow::sessionForRetrieval(ErrorTail& tail, int firstLine)
{
    if (!tail.condition(firstLine, [&] { return m_connection.session() == nullptr; }))
        return m_connection.session();
    std::shared_ptr<clsChilkatIMAP> session;
    tail.line(firstLine + 2, [&] {
        session = m_connection.newSession();
        m_connection.setSession(session);
    });
    if (!session)
        return nullptr;
    bool connected = false;
    tail.line(firstLine + 4, [&] { connected = session->Connect(); });
    return connected ? session : nullptr;
}

void RetrievalFlow::stop(ErrorTail& tail)
{
    // The running retrieval ends quietly once it is back from the session.
    m_state = State::Stopping;
    tail.line(208, [&] { m_views.buttons.setCaption(StepButton::PushButton3, m_globals.SavedButtonCaption); });
    tail.line(210, [&] { m_views.buttons.setCaption(StepButton::PushButton2, kGetSome); });
    tail.line(212, [&] { m_views.buttons.setButtonWidthTwips(StepButton::PushButton3, 3840); });
    tail.line(214, [&] { m_views.buttons.setButtonVisible(StepButton::PushButton2, true); });
    tail.line(218, [&] {
        if (!m_connection.session())
            throw VbError::objectNotSet();
        m_connection.session()->AbortProcess = true;
    });
    tail.line(220, [&] { m_connection.setSession(nullptr); });
}

void RetrievalFlow::PushButton3_Click()
{
    ErrorTail tail(*m_services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton3_Click"));
    if (tail.condition(100, [&] { return !m_connection.isConnected(); })) {
        tail.line(102, [&] { m_services.boxes->msgBox(kConnectFirst); });
        return;
    }
    if (tail.condition(104, [&] { return m_state == State::All || m_state == State::Some; })) {
        stop(tail);
        return;
    }
    // After a Stop the stopped retrieval is still finishing further down the call stack;
    // a new one starts only once it has ended.
    if (isRunning())
        return;
    const Running running(m_state, State::All);

    tail.line(106, [&] { m_views.buttons.setCaption(StepButton::PushButton2, kStop); });
    tail.line(108, [&] { m_views.buttons.setButtonWidthTwips(StepButton::PushButton3, 7800); });
    tail.line(110, [&] { m_views.buttons.setButtonVisible(StepButton::PushButton2, false); });
    tail.line(112, [&] { m_views.pointer.set(MousePointer::Hourglass); });
    tail.line(114, [&] { m_globals.SavedButtonCaption = m_views.buttons.caption(StepButton::PushButton3); });
    tail.line(116, [&] { m_views.buttons.setCaption(StepButton::PushButton3, kStop); });
    tail.line(120, [&] { m_models.list.clear(); });
    tail.line(122, [&] { m_views.window.setListSortingEnabled(false); });
    tail.line(124, [&] { m_models.counts.UpdateEmailCounts(true); });
    tail.line(126, [&] { m_models.RuleCheckDone = false; });
    m_globals.SkipDoneMessage = false;

    // The handler keeps its own reference: a Stop drops the window's, and the steps below
    // then end quietly instead of working on a session that was let go.
    const auto session = sessionForRetrieval(tail, 128);
    const auto stopped = [&] { return !session || session->AbortProcess; };
    if (!session) {
        m_globals.SkipDoneMessage = true;
    } else {
        const QString folder = chooseFolder(tail, 152);
        tail.line(174, [&] { session->setCurrentLocation(1); });
        tail.line(176, [&] {
            if (!stopped())
                session->setMaxRecord(session->GetTotalMessage(folder));
        });
        if (tail.condition(178, [&] { return session->MaxRecord() > 0; })) {
            tail.line(180, [&] { m_models.store.recreate(session->MaxRecord()); });
            tail.line(182, [&] {
                if (!stopped())
                    session->StartMailExtraction(folder);
            });
        } else {
            tail.line(184, [&] { m_services.boxes->msgBox(QStringLiteral("There are no emails in the Folder you selected.")); });
            tail.line(186, [&] { m_globals.SkipDoneMessage = true; });
        }
        // The views see the last rows of the run now, not at the list's next announcement.
        m_models.list.announce();
        tail.line(188, [&] { m_models.counts.UpdateEmailCounts(false); });
    }

    tail.line(190, [&] { m_connection.setSession(nullptr); });
    tail.line(196, [&] { m_views.pointer.set(MousePointer::Default); });
    tail.line(194, [&] { m_views.status.setProgressValue(0); });
    tail.line(192, [&] { m_views.status.setProgressText(QStringLiteral("Progress Bar")); });
    tail.line(198, [&] { m_views.buttons.setCaption(StepButton::PushButton3, m_globals.SavedButtonCaption); });
    tail.line(200, [&] { m_views.buttons.setCaption(StepButton::PushButton2, kGetSome); });
    tail.line(202, [&] { m_views.buttons.setButtonWidthTwips(StepButton::PushButton3, 3840); });
    tail.line(204, [&] { m_views.buttons.setButtonVisible(StepButton::PushButton2, true); });
    if (tail.condition(206, [&] { return !m_globals.SkipDoneMessage; }))
        showDone(*m_services.boxes, session.get());
}

void RetrievalFlow::PushButton2_Click()
{
    ErrorTail tail(*m_services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"));
    if (tail.condition(100, [&] { return !m_connection.isConnected(); })) {
        tail.line(102, [&] { m_services.boxes->msgBox(kConnectFirst); });
        return;
    }
    if (isRunning())
        return;
    const Running running(m_state, State::Some);

    tail.line(106, [&] { m_views.buttons.setCaption(StepButton::PushButton3, kStop); });
    tail.line(108, [&] { m_views.buttons.setButtonWidthTwips(StepButton::PushButton3, 7800); });
    tail.line(110, [&] { m_views.buttons.setButtonVisible(StepButton::PushButton2, false); });
    tail.line(112, [&] { m_views.pointer.set(MousePointer::Hourglass); });
    tail.line(114, [&] { m_globals.SavedButtonCaption = m_views.buttons.caption(StepButton::PushButton2); });
    tail.line(116, [&] { m_views.buttons.setCaption(StepButton::PushButton2, kStop); });
    m_globals.SkipDoneMessage = false;

    const auto session = sessionForRetrieval(tail, 120);
    const auto stopped = [&] { return !session || session->AbortProcess; };
    if (!session) {
        m_globals.SkipDoneMessage = true;
    } else {
        const QString folder = chooseFolder(tail, 144);
        RangeDialog& dialog = m_views.window.rangeDialog();
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
                    m_globals.RangeConfirmed = false;
                    m_globals.SkipDoneMessage = true;
                }
            });
            if (tail.condition(174, [&] { return !m_globals.RangeConfirmed; })) {
                readRange = false;
            } else {
                tail.line(176, [&] { m_models.list.clear(); });
                tail.line(178, [&] { m_views.window.setListSortingEnabled(false); });
                tail.line(180, [&] { m_models.counts.UpdateEmailCounts(true); });
                tail.line(182, [&] { m_globals.SkipDoneMessage = false; });
                tail.line(184, [&] { m_models.store.recreate(session->MaxRecord()); });
                tail.line(186, [&] {
                    if (!stopped())
                        session->StartMailExtraction(folder);
                });
            }
        } else {
            tail.line(188, [&] { m_services.boxes->msgBox(QStringLiteral("There are 0 emails in the Folder you selected.")); });
            tail.line(190, [&] { m_globals.SkipDoneMessage = true; });
        }
        m_models.list.announce();
        if (readRange) {
            tail.line(192, [&] { m_models.counts.UpdateEmailCounts(false); });
            tail.line(194, [&] { m_models.RuleCheckDone = false; });
        }
    }

    tail.line(196, [&] { m_connection.setSession(nullptr); });
    tail.line(202, [&] { m_views.pointer.set(MousePointer::Default); });
    tail.line(200, [&] { m_views.status.setProgressValue(0); });
    tail.line(198, [&] { m_views.status.setProgressText(QStringLiteral("Progress Bar")); });
    tail.line(204, [&] { m_views.buttons.setCaption(StepButton::PushButton2, m_globals.SavedButtonCaption); });
    tail.line(206, [&] { m_views.buttons.setCaption(StepButton::PushButton3, kGetAll); });
    tail.line(208, [&] { m_views.buttons.setButtonWidthTwips(StepButton::PushButton3, 3840); });
    tail.line(210, [&] { m_views.buttons.setButtonVisible(StepButton::PushButton2, true); });
    if (tail.condition(212, [&] { return !m_globals.SkipDoneMessage; }))
        showDone(*m_services.boxes, session.get());
}
