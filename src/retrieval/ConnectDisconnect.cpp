#include "retrieval/ConnectDisconnect.h"

#include "frame/ErrorTail.h"
#include "frame/MousePointer.h"
#include "frame/SettingsKeys.h"
#include "frame/SettingsStore.h"
#include "frame/SignInFields.h"
#include "frame/StatusLine.h"
#include "frame/StepButtons.h"
#include "mail/ClsChilkatImap.h"
#include "mail/ImapClient.h"
#include "mail/KnownProviders.h"
#include "mail/OAuthSignIn.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/MessageListing.h"

ConnectDisconnect::ConnectDisconnect(Services services, Views views, MainListModels models,
                                     std::function<ImapClient&()> component, OAuthSignIn& signIn,
                                     MessageListing& listing)
    : m_services(services)
    , m_views(views)
    , m_models(models)
    , m_component(std::move(component))
    , m_signIn(signIn)
    , m_listing(listing)
{
}

const QString& ConnectDisconnect::connectCaption()
{
    static const QString caption = QStringLiteral("1. Connect");
    return caption;
}

const QString& ConnectDisconnect::disconnectCaption()
{
    static const QString caption = QStringLiteral("Disconnect");
    return caption;
}

void ConnectDisconnect::setState(State state)
{
    m_state = state;
    m_views.buttons.setCaption(StepButton::PushButton1,
                               state == State::Connected ? disconnectCaption() : connectCaption());
}

void ConnectDisconnect::setSession(std::shared_ptr<clsChilkatIMAP> session)
{
    if (m_session)
        QObject::disconnect(m_session.get(), nullptr, &m_listing, nullptr);
    m_session = std::move(session);
    if (m_session)
        m_listing.bindSession(*m_session);
}

QString ConnectDisconnect::imapServer() const
{
    const QString server = m_services.settings->get(SettingsKeys::Server).trimmed();
    return server.isEmpty() ? KnownProviders::imapHost(accountName()) : server;
}

int ConnectDisconnect::imapPort() const
{
    const auto port = m_services.settings->value(SettingsKeys::Port.key());
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
    const QString suffix = m_views.fields.combo1Text();
    if (suffix.startsWith(QLatin1Char('@')))
        return m_views.fields.text1() + suffix;
    return m_views.fields.text1();
}

void ConnectDisconnect::configure(const std::function<clsChilkatIMAP&()>& s, const Step& step)
{
    step(110, [&] {
        m_component().setCaCertificatesFile(m_services.settings->get(SettingsKeys::CACertificates));
        s().setChilkatIMAPObject(&m_component());
    });
    step(112, [&] { s().setSSL(true); });
    step(114, [&] { s().setPORT(imapPort()); });
    step(116, [&] { s().setIMAPServer(imapServer()); });
    step(118, [&] { s().setUsername(accountName()); });
    step(120, [&] {
        s().setPassword(m_views.fields.text2());
        s().setSignIn(&m_signIn);
    });
}

std::shared_ptr<clsChilkatIMAP> ConnectDisconnect::newSession()
{
    auto session = std::make_shared<clsChilkatIMAP>(*m_services.boxes);
    configure([&]() -> clsChilkatIMAP& { return *session; },
              [](int, const std::function<void()>& statement) { statement(); });
    return session;
}

void ConnectDisconnect::PushButton1_Click()
{
    // A second click while a connect or disconnect is still running is not a new request.
    if (m_running)
        return;
    m_running = true;
    const std::unique_ptr<bool, void (*)(bool*)> done(&m_running, [](bool* running) { *running = false; });
    ErrorTail tail(*m_services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"));

    tail.line(100, [&] { m_views.pointer.set(MousePointer::Hourglass); });
    if (tail.condition(102, [&] { return !isConnected(); })) {
        tail.line(104, [&] { m_views.status.setProgressText(QStringLiteral("Connecting to Windows Live Hotmail...")); });
        bool connected = true;  // a session kept from before goes straight on to the caption
        if (tail.condition(106, [&] { return m_session == nullptr; })) {
            connected = false;
            tail.line(108, [&] { setSession(std::make_shared<clsChilkatIMAP>(*m_services.boxes)); });
            const auto session = m_session;
            const auto s = [&]() -> clsChilkatIMAP& {
                if (!session)
                    throw VbError::objectNotSet();
                return *session;
            };
            configure(
                s, [&](int number, const std::function<void()>& statement) { tail.line(number, statement); });
            tail.line(122, [&] { connected = s().Connect(); });
            if (connected) {
                tail.line(126, [&] { s().EnumMailFolders(); });
                tail.line(128, [&] {
                    m_views.status.setProgressText(QStringLiteral(
                        "Connected to Windows Live Hotmail. Please select folder to extract emails from."));
                });
            }
        }
        if (connected) {
            tail.line(130, [&] { setState(State::Connected); });
            tail.line(156, [&] { m_views.pointer.set(MousePointer::Default); });
            tail.line(158, [&] { m_models.RuleCheckDone = false; });
            return;
        }
    } else {
        tail.line(132, [&] { m_views.status.setProgressText(QStringLiteral("Disconnecting from Windows Live Hotmail...")); });
        if (tail.condition(134, [&] { return !m_views.fields.check1(); })) {
            tail.line(136, [&] { m_views.fields.setText1(QString()); });
            tail.line(138, [&] { m_views.fields.setText2(QString()); });
            tail.line(140, [&] { m_services.settings->write(SettingsKeys::User, QString()); });
            tail.line(142, [&] {
                m_services.settings->write(SettingsKeys::Password, QString());
                m_signIn.forget();
            });
        }
        tail.line(144, [&] { m_component().disconnect(); });
    }
    // Disconnected, after a disconnect or a failed connect.
    tail.line(146, [&] { m_models.list.clear(); });
    tail.line(148, [&] { m_models.counts.UpdateEmailCounts(true); });
    tail.line(150, [&] { setState(State::Disconnected); });
    tail.line(152, [&] { setSession(nullptr); });
    tail.line(154, [&] { m_views.status.setProgressText(QStringLiteral("Disconnected from Windows Live Hotmail.")); });
    tail.line(156, [&] { m_views.pointer.set(MousePointer::Default); });
    tail.line(158, [&] { m_models.RuleCheckDone = false; });
}
