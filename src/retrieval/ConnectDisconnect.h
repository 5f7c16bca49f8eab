#pragma once

#include "frame/Services.h"
#include "retrieval/MainListModels.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ImapClient;
class MessageListing;
class MousePointer;
class OAuthSignIn;
class SignInFields;
class StatusLine;
class StepButtons;
class clsChilkatIMAP;

// "1. Connect" / "Disconnect" of the main window, the connection settings every session of
// the window gets, and the window's current session `oChilkat`.
class ConnectDisconnect : public QObject {
    Q_OBJECT
public:
    enum class State { Disconnected, Connected };

    // The parts of the main window the connection reads and sets.
    struct Views {
        SignInFields& fields;
        StepButtons& buttons;
        StatusLine& status;
        MousePointer& pointer;
    };

    ConnectDisconnect(Services services, Views views, MainListModels models, std::function<ImapClient&()> component,
                      OAuthSignIn& signIn, MessageListing& listing);

    void PushButton1_Click();

    static const QString& connectCaption();     // "1. Connect"
    static const QString& disconnectCaption();  // "Disconnect"
    State state() const { return m_state; }
    bool isConnected() const { return m_state == State::Connected; }

    // The current session. Setting it binds its events to the list handlers; dropping it
    // (nullptr) unbinds them, so later events of a dropped session reach no one.
    const std::shared_ptr<clsChilkatIMAP>& session() const { return m_session; }
    void setSession(std::shared_ptr<clsChilkatIMAP> session);

    // The window's IMAP host, port and extra CA file: the settings "Server", "Port" and
    // "CACertificates" when present, otherwise the webmail service on 993 with TLS.
    QString imapServer() const;
    int imapPort() const;
    // The account name: Text1, followed by Combo1's text when that begins with "@".
    QString accountName() const;
    // Creates a session on the window's component with every connection setting filled in.
    std::shared_ptr<clsChilkatIMAP> newSession();
    // Gives a session the window's component and connection settings, statement by numbered
    // statement: `step` runs each, so that "1. Connect" reports a failure under its own number
    // and goes on, while newSession() simply runs them.
    using Step = std::function<void(int number, const std::function<void()>& statement)>;
    void configure(const std::function<clsChilkatIMAP&()>& session, const Step& step);

private:
    // Records the state and draws PushButton1's caption from it.
    void setState(State state);

    Services m_services;
    Views m_views;
    MainListModels m_models;
    std::function<ImapClient&()> m_component;
    OAuthSignIn& m_signIn;
    MessageListing& m_listing;
    std::shared_ptr<clsChilkatIMAP> m_session;
    State m_state = State::Disconnected;
    bool m_running = false;
};
