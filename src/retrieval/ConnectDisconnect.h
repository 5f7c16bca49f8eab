#pragma once

#include <QObject>
#include <QString>

#include <memory>

class Form1;
class clsChilkatIMAP;

// "1. Connect" / "Disconnect" of the main window, and the connection settings every session
// of the window gets.
class ConnectDisconnect : public QObject {
    Q_OBJECT
public:
    explicit ConnectDisconnect(Form1& form);

    void bind();
    void PushButton1_Click();

    static const QString& connectCaption();  // "1. Connect"
    bool isConnected() const;                // the caption is the window's notion of it

    // The window's IMAP host, port and extra CA file: the settings "Server", "Port" and
    // "CACertificates" when present, otherwise the webmail service on 993 with TLS.
    QString imapServer() const;
    int imapPort() const;
    // The account name: Text1, followed by Combo1's text when that begins with "@".
    QString accountName() const;
    // Creates a session on the window's component with every connection setting filled in.
    std::shared_ptr<clsChilkatIMAP> newSession();
    // Gives a session the window's component and connection settings.
    void configure(clsChilkatIMAP& session);

private:
    Form1& f;
    bool m_running = false;
};
