#pragma once

#include "frame/Services.h"
#include "retrieval/MainListModels.h"

#include <QObject>
#include <QString>

#include <memory>

class ConnectDisconnect;
class ErrorTail;
class FolderOptions;
class MousePointer;
class RetrievalView;
class StatusLine;
class StepButtons;
struct RetrievalGlobals;
class clsChilkatIMAP;

// "2a. Get All Emails", "2b. Get Some Emails" and the Stop action they share.
class RetrievalFlow : public QObject {
    Q_OBJECT
public:
    // Idle, one of the two retrievals running (its button then reads "Stop"), or a stopped
    // retrieval still finishing further down the call stack.
    enum class State { Idle, All, Some, Stopping };

    // The parts of the main window the retrievals read and set.
    struct Views {
        StepButtons& buttons;
        FolderOptions& folders;
        StatusLine& status;
        MousePointer& pointer;
        RetrievalView& window;
    };

    RetrievalFlow(Services services, Views views, MainListModels models, ConnectDisconnect& connection,
                  RetrievalGlobals& globals);

    void PushButton3_Click();
    void PushButton2_Click();

    // The folder chosen with the option buttons; empty when none is selected.
    QString folderName() const;
    State state() const { return m_state; }
    bool isRunning() const { return m_state != State::Idle; }

private:
    void stop(ErrorTail& tail);
    // Makes a session and connects it when the window has none; returns it (null when the
    // connect failed). `firstLine` is the statement number of the test for a session.
    std::shared_ptr<clsChilkatIMAP> sessionForRetrieval(ErrorTail& tail, int firstLine);
    QString chooseFolder(ErrorTail& tail, int firstLine);

    Services m_services;
    Views m_views;
    MainListModels m_models;
    ConnectDisconnect& m_connection;
    RetrievalGlobals& m_globals;
    State m_state = State::Idle;
};
