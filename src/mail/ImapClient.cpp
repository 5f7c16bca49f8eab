#include "mail/ImapClient.h"

#include "mail/ImapConnection.h"
#include "mail/ImapExamine.h"
#include "mail/ImapFetch.h"
#include "mail/ImapGreeting.h"
#include "mail/ImapList.h"
#include "mail/ImapLogin.h"
#include "mail/ImapLogout.h"
#include "mail/ImapRawCommand.h"
#include "mail/ImapTransport.h"
#include "mail/ImapXOAuth2.h"
#include "mail/SystemClock.h"

#include <utility>

// Every call holds the connection, so it outlives this object if need be.

ImapClient::ImapClient(QObject* parent)
    : QObject(parent)
    , d(std::make_shared<ImapConnection>())
{}

ImapClient::~ImapClient()
{
    d->clientDestroyed();
}

void ImapClient::setTransportFactory(TransportFactory factory)
{
    d->settings().transportFactory = std::move(factory);
}

void ImapClient::setClock(std::shared_ptr<Clock> clock)
{
    d->settings().clock = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

void ImapClient::setSsl(bool ssl)
{
    d->settings().ssl = ssl;
}
void ImapClient::setPort(int port)
{
    d->settings().port = port;
}
void ImapClient::setCaCertificatesFile(const QString& pemPath)
{
    d->settings().caFile = pemPath;
}
void ImapClient::setTimeoutMs(int ms)
{
    d->settings().timeoutMs = qMax(1, ms);
}

int ImapClient::connect(const QString& host)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapGreeting::connect(*keep, host);
}

void ImapClient::prepareConnect(const QString& host)
{
    ImapGreeting::prepare(*d, host);
}

QString ImapClient::sendRawCommand(const QString& command)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapRawCommand::run(*keep, command);
}

int ImapClient::login(const QString& user, const QString& password)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapLogin::run(*keep, user, password);
}

int ImapClient::loginXOAuth2(const QString& user, const QString& accessToken)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapXOAuth2::run(*keep, user, accessToken);
}

int ImapClient::selectMailbox(const QString& mailbox)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapExamine::run(*keep, mailbox);
}

int ImapClient::numMessages() const
{
    return d->state() == State::Selected ? d->exists() : 0;
}

std::optional<ImapClient::RawMessage> ImapClient::fetchRaw(int number, bool isUid)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapFetch::run(*keep, number, isUid);
}

std::optional<MailMessage> ImapClient::fetchSingle(int number, bool isUid)
{
    std::optional<RawMessage> raw = fetchRaw(number, isUid);
    if (!raw)
        return std::nullopt;
    return MailMessage::fromBytes(raw->bytes, raw->internalDate);
}

std::optional<QStringList> ImapClient::listMailboxes(const QString& reference, const QString& pattern)
{
    const std::optional<std::vector<MailboxEntry>> entries = listMailboxEntries(reference, pattern);
    if (!entries)
        return std::nullopt;
    QStringList names;
    for (const MailboxEntry& entry : *entries)
        names.append(entry.name);
    return names;
}

std::optional<std::vector<MailboxEntry>> ImapClient::listMailboxEntries(const QString& reference,
                                                                        const QString& pattern)
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapList::run(*keep, reference, pattern);
}

QString ImapClient::lastErrorText() const
{
    return d->lastError();
}

ImapFailure ImapClient::lastFailure() const
{
    return d->lastFailure();
}

QStringList ImapClient::takeAlerts()
{
    return d->takeAlerts();
}

void ImapClient::setReadAhead(int first, int last)
{
    d->endReadAhead();
    d->readAhead().setRange(first, last);
}

void ImapClient::clearReadAhead()
{
    d->endReadAhead();
}

void ImapClient::setReadAheadLimits(int maxCommands, qint64 maxBytes)
{
    d->readAhead().setLimits(maxCommands, maxBytes);
}

void ImapClient::setStructureFirst(bool on)
{
    d->readAhead().setStructureFirst(on);
}

QStringList ImapClient::capabilities()
{
    const std::shared_ptr<ImapConnection> keep = d;
    return ImapGreeting::current(*keep);
}

bool ImapClient::hasCapability(const QString& name)
{
    return capabilities().contains(name, Qt::CaseInsensitive);
}

int ImapClient::disconnect()
{
    const std::shared_ptr<ImapConnection> keep = d;
    keep->dropAhead();
    return ImapLogout::run(*keep);
}

void ImapClient::bindEvents(ImapEventSink* sink)
{
    d->bindSink(sink);
}

void ImapClient::unbindEvents(ImapEventSink* sink)
{
    if (d->sink() == sink)
        d->bindSink(nullptr);
}

ImapClient::State ImapClient::state() const
{
    return d->state();
}
