#include "retrieval/ConnectDisconnect.h"

#include "frame/ErrorTail.h"
#include "frame/SettingsStore.h"
#include "mail/ClsChilkatImap.h"
#include "mail/ImapClient.h"
#include "mail/KnownProviders.h"
#include "mail/OAuthSignIn.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "ui/Form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

ConnectDisconnect::ConnectDisconnect(Form1& form)
    : f(form)
{
}

void ConnectDisconnect::bind()
{
    connect(f.PushButton1, &QPushButton::clicked, this, &ConnectDisconnect::PushButton1_Click);
}

const QString& ConnectDisconnect::connectCaption()
{
    static const QString caption = QStringLiteral("1. Connect");
    return caption;
}

bool ConnectDisconnect::isConnected() const { return f.PushButton1->text() != connectCaption(); }

QString ConnectDisconnect::imapServer() const
{
    const QString server = f.services.settings->get(QStringLiteral("Server")).trimmed();
    return server.isEmpty() ? KnownProviders::imapHost(accountName()) : server;
}

int ConnectDisconnect::imapPort() const
{
    const auto port = f.services.settings->value(QStringLiteral("Port"));
    if (!port || port->trimmed().isEmpty())
        return 993;
    bool ok = false;
    const int value = port->trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        throw VbError::typeMismatch();
    return value;
}

QString ConnectDisconnect::accountName() const
{
    const QString suffix = f.Combo1->currentText();
    if (suffix.startsWith(QLatin1Char('@')))
        return f.Text1->text() + suffix;
    return f.Text1->text();
}

void ConnectDisconnect::configure(clsChilkatIMAP& session)
{
    f.component().setCaCertificatesFile(f.services.settings->get(QStringLiteral("CACertificates")));
    session.setChilkatIMAPObject(&f.component());
    session.setSSL(true);
    session.setPORT(imapPort());
    session.setIMAPServer(imapServer());
    session.setUsername(accountName());
    session.setPassword(f.Text2->text());
    session.setSignIn(&f.signIn());
}

std::shared_ptr<clsChilkatIMAP> ConnectDisconnect::newSession()
{
    auto session = std::make_shared<clsChilkatIMAP>(*f.services.boxes);
    configure(*session);
    return session;
}

void ConnectDisconnect::PushButton1_Click()
{
    // A second click while a connect or disconnect is still running is not a new request.
    if (m_running)
        return;
    m_running = true;
    const std::unique_ptr<bool, void (*)(bool*)> done(&m_running, [](bool* running) { *running = false; });
    ErrorTail tail(*f.services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"));

    tail.line(100, [&] { f.pointer.set(MousePointer::Hourglass); });
    if (tail.condition(102, [&] { return !isConnected(); })) {
        tail.line(104, [&] { f.setProgressText(QStringLiteral("Connecting to Windows Live Hotmail...")); });
        bool connected = true;  // a session kept from before goes straight on to the caption
        if (tail.condition(106, [&] { return f.oChilkat() == nullptr; })) {
            connected = false;
            tail.line(108, [&] { f.setSession(std::make_shared<clsChilkatIMAP>(*f.services.boxes)); });
            const auto session = f.oChilkat();
            const auto s = [&]() -> clsChilkatIMAP& {
                if (!session)
                    throw VbError::objectNotSet();
                return *session;
            };
            tail.line(110, [&] {
                f.component().setCaCertificatesFile(f.services.settings->get(QStringLiteral("CACertificates")));
                s().setChilkatIMAPObject(&f.component());
            });
            tail.line(112, [&] { s().setSSL(true); });
            tail.line(114, [&] { s().setPORT(imapPort()); });
            tail.line(116, [&] { s().setIMAPServer(imapServer()); });
            tail.line(118, [&] { s().setUsername(accountName()); });
            tail.line(120, [&] {
                s().setPassword(f.Text2->text());
                s().setSignIn(&f.signIn());
            });
            tail.line(122, [&] { connected = s().Connect(); });
            if (connected) {
                tail.line(126, [&] { s().EnumMailFolders(); });
                tail.line(128, [&] {
                    f.setProgressText(QStringLiteral(
                        "Connected to Windows Live Hotmail. Please select folder to extract emails from."));
                });
            }
        }
        if (connected) {
            tail.line(130, [&] { f.PushButton1->setText(QStringLiteral("Disconnect")); });
            tail.line(156, [&] { f.pointer.set(MousePointer::Default); });
            tail.line(158, [&] { f.RuleCheckDone = false; });
            return;
        }
    } else {
        tail.line(132, [&] { f.setProgressText(QStringLiteral("Disconnecting from Windows Live Hotmail...")); });
        if (tail.condition(134, [&] { return !f.Check1->isChecked(); })) {
            tail.line(136, [&] { f.Text1->setText(QString()); });
            tail.line(138, [&] { f.Text2->setText(QString()); });
            tail.line(140, [&] { f.services.settings->setValue(QStringLiteral("User"), QString()); });
            tail.line(142, [&] {
                f.services.settings->setValue(QStringLiteral("Password"), QString());
                f.signIn().forget();
            });
        }
        tail.line(144, [&] { f.component().disconnect(); });
    }
    // Disconnected, after a disconnect or a failed connect.
    tail.line(146, [&] { f.list().clear(); });
    tail.line(148, [&] { f.counts().UpdateEmailCounts(true); });
    tail.line(150, [&] { f.PushButton1->setText(connectCaption()); });
    tail.line(152, [&] { f.setSession(nullptr); });
    tail.line(154, [&] { f.setProgressText(QStringLiteral("Disconnected from Windows Live Hotmail.")); });
    tail.line(156, [&] { f.pointer.set(MousePointer::Default); });
    tail.line(158, [&] { f.RuleCheckDone = false; });
}
