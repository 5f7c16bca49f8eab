#include "mail/ImapConnection.h"

#include "mail/ImapEventSink.h"
#include "mail/ImapGreeting.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"
#include "mail/ImapTransport.h"
#include "mail/SslTransport.h"
#include "mail/SystemClock.h"

#include <limits>
#include <utility>

namespace {

constexpr int kAbortCheckIntervalMs = 50;
// Bytes one call accepts from the server before it gives up on a server that never finishes.
constexpr qint64 kMaxBytesPerCall = qint64(512) * 1024 * 1024;

ImapFailure::Kind tlsFailureKind(const QList<QSslError::SslError>& errors)
{
    for (QSslError::SslError error : errors) {
        if (error == QSslError::CertificateExpired || error == QSslError::CertificateNotYetValid)
            return ImapFailure::Kind::TlsExpired;
    }
    for (QSslError::SslError error : errors) {
        if (error == QSslError::HostNameMismatch)
            return ImapFailure::Kind::TlsWrongHost;
    }
    for (QSslError::SslError error : errors) {
        switch (error) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
        case QSslError::CertificateRejected:
        case QSslError::InvalidCaCertificate:
            return ImapFailure::Kind::TlsUntrusted;
        default:
            break;
        }
    }
    return ImapFailure::Kind::TlsOther;
}

} // namespace

void ImapConnection::statusParts(const QByteArray& line, QByteArray& code, QString& text)
{
    QByteArray rest = line;
    for (int word = 0; word < 2; ++word) {
        const qsizetype space = rest.indexOf(' ');
        rest = space < 0 ? QByteArray() : rest.mid(space + 1);
    }
    code.clear();
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        if (close > 0) {
            const QByteArray inner = rest.mid(1, close - 1);
            const qsizetype space = inner.indexOf(' ');
            code = inner.left(space < 0 ? inner.size() : space).toUpper();
            rest = rest.mid(close + 1);
        }
    }
    text = QString::fromUtf8(rest.trimmed());
}

void ImapConnection::noteRefusal(ImapCall& call, const ImapOutcome& outcome)
{
    if (!outcome.completed || outcome.status == "OK" || call.failure.kind != ImapFailure::Kind::None)
        return;
    call.failure.kind = ImapFailure::Kind::Refused;
    call.failure.status = outcome.status;
    const qsizetype end = outcome.raw.indexOf('\r');
    statusParts(end < 0 ? outcome.raw : outcome.raw.left(end), call.failure.code, call.failure.text);
}

ImapConnection::ImapConnection()
{
    m_settings.clock = std::make_shared<SystemClock>();
}

ImapConnection::~ImapConnection()
{
    closeConnection();
}

bool ImapConnection::open(const QString& hostName, quint16 usedPort,
                          const QList<QSslCertificate>& extraAuthorities)
{
    m_transport = takeAhead(hostName, usedPort);
    const bool tookAhead = bool(m_transport);
    if (!tookAhead)
        m_transport = newTransport();
    ++m_generation;
    m_tagCounter = 0;
    m_parser.reset();
    m_reachedServer = false;
    if (!tookAhead)
        m_transport->open(hostName, usedPort, m_settings.ssl, extraAuthorities);
    return tookAhead;
}

void ImapConnection::openAhead(const QString& hostName, quint16 usedPort,
                               const QList<QSslCertificate>& extraAuthorities)
{
    if (m_ahead && aheadFits(*m_ahead, hostName, usedPort, kAheadMs / 2))
        return; // the same, and young enough to wait for its connect
    m_ahead.reset();
    Ahead ahead;
    ahead.transport = newTransport();
    ahead.host = hostName;
    ahead.port = usedPort;
    ahead.ssl = m_settings.ssl;
    ahead.caFile = m_settings.caFile;
    ahead.openedAt = m_settings.clock->now();
    ahead.transport->open(hostName, usedPort, m_settings.ssl, extraAuthorities);
    m_ahead = std::move(ahead);
}

std::unique_ptr<ImapTransport> ImapConnection::takeAhead(const QString& hostName, quint16 usedPort)
{
    if (!m_ahead)
        return nullptr;
    Ahead ahead = std::move(*m_ahead);
    m_ahead.reset();
    // Anything else (another host or setting, a connection closed meanwhile, one that waited so
    // long that the server may be about to give up on it) is closed, and the connect opens its own.
    if (!aheadFits(ahead, hostName, usedPort, kAheadMs))
        return nullptr;
    return std::move(ahead.transport);
}

bool ImapConnection::aheadFits(const Ahead& ahead, const QString& hostName, quint16 usedPort,
                               qint64 maxAgeMs) const
{
    return ahead.host == hostName && ahead.port == usedPort && ahead.ssl == m_settings.ssl &&
           ahead.caFile == m_settings.caFile && m_settings.clock->now() - ahead.openedAt <= maxAgeMs &&
           ahead.transport->state() != QAbstractSocket::UnconnectedState;
}

std::unique_ptr<ImapTransport> ImapConnection::newTransport() const
{
    return m_settings.transportFactory ? m_settings.transportFactory() : std::make_unique<SslTransport>();
}

void ImapConnection::clientDestroyed()
{
    m_destroyed = true;
    m_sink = nullptr;
    m_ahead.reset();
    closeConnection();
}

bool ImapConnection::transportUp() const
{
    return m_transport && m_transport->state() == QAbstractSocket::ConnectedState;
}

QStringList ImapConnection::takeAlerts()
{
    return std::exchange(m_alerts, {});
}

void ImapConnection::greeted(ImapClient::State state)
{
    m_state = state;
    m_preauthenticated = state == ImapClient::State::Authenticated;
}

void ImapConnection::leaveMailbox()
{
    if (m_state == ImapClient::State::Selected)
        m_state = ImapClient::State::Authenticated;
    m_exists = 0;
}

void ImapConnection::setInFlight(const QByteArray& tag, bool sent)
{
    m_inFlightTag = tag;
    m_inFlightSent = sent;
}

void ImapConnection::closeConnection()
{
    if (m_transport) {
        m_transport->abort();
        // A call further up the stack may still hold on to the transport: keep it until then.
        if (m_callDepth > 0)
            m_retired.push_back(std::move(m_transport));
        else
            m_transport.reset();
    }
    ++m_generation;
    m_state = ImapClient::State::NotConnected;
    m_parser.reset();
    m_inFlightTag.clear();
    m_inFlightSent = false;
    m_abandonedTags.clear();
    m_readAhead.reset();
    m_exists = 0;
    m_preauthenticated = false;
    m_saidBye = false;
    m_byeText.clear();
    m_capabilities.clear();
    m_capabilitiesKnown = false;
}

bool ImapConnection::busyElsewhere() const
{
    return m_busy && m_busyGeneration == m_generation && m_transport;
}

bool ImapConnection::stillOurs(ImapCall& call)
{
    if (m_destroyed) {
        call.note(QStringLiteral("The IMAP client was destroyed during the call."));
        call.fail(ImapFailure::Kind::Other);
        return false;
    }
    if (m_generation != call.generation || !m_transport) {
        call.note(QStringLiteral("The connection was closed during the call (disconnect or new connect)."));
        call.fail(ImapFailure::Kind::Other);
        return false;
    }
    return true;
}

QByteArray ImapConnection::nextTag()
{
    return "A" + QByteArray::number(++m_tagCounter).rightJustified(3, '0');
}

bool ImapConnection::send(ImapCall& call, const QByteArray& bytes)
{
    if (m_transport->write(bytes) != bytes.size()) {
        call.note(QStringLiteral("Could not send to the server: %1").arg(m_transport->errorString()));
        call.fail(ImapFailure::Kind::ConnectionLost);
        closeConnection();
        return false;
    }
    return true;
}

void ImapConnection::noteDrop(ImapCall& call)
{
    const QStringList tlsErrors = m_transport->tlsErrors();
    if (!tlsErrors.isEmpty()) {
        call.note(QStringLiteral("The server's certificate was not accepted: %1")
                      .arg(tlsErrors.join(QStringLiteral("; "))));
    }
    QString where;
    if (m_parser.inLiteral()) {
        where = QStringLiteral(" in the middle of a literal (%1 of %2 bytes had arrived)")
                    .arg(m_parser.literalReceived())
                    .arg(m_parser.literalSize());
    } else if (m_parser.midResponse()) {
        where = QStringLiteral(" in the middle of a response");
    }
    call.note(QStringLiteral("The connection was closed%1: %2").arg(where, m_transport->errorString()));
    const QList<QSslError::SslError> codes = m_transport->tlsErrorCodes();
    if (!codes.isEmpty()) {
        call.fail(tlsFailureKind(codes));
    } else if (!tlsErrors.isEmpty()) {
        call.fail(ImapFailure::Kind::TlsOther);
    } else if (!m_reachedServer) {
        call.fail(ImapFailure::Kind::Unreachable);
    } else {
        call.fail(ImapFailure::Kind::ConnectionLost);
        if (m_saidBye) {
            call.failure.status = "BYE";
            call.failure.text = m_byeText;
        }
    }
}

// Untagged data that matters whatever command is running, and the log of every reply.
void ImapConnection::observe(ImapCall& call, const ImapResponse& response, bool logReply)
{
    if (logReply)
        call.log.noteReply(response);
    ImapResponseReader reader(response);
    const ImapResponseHead head = ImapResponseHead::read(reader);
    // Capabilities come in "* CAPABILITY" or a status response's code, never in a numbered
    // response such as the FETCH answers that make up most of a retrieval.
    if (head.number < 0) {
        if (std::optional<QStringList> names = ImapGreeting::announcedCapabilities(response)) {
            m_capabilities = std::move(*names);
            m_capabilitiesKnown = true;
            ++m_capabilitiesAnnounced;
        }
    }
    // An ALERT comes in a response code, in brackets: the answer to every fetch, "OK Fetch
    // completed", has none and needs no more reading.
    const bool alertPossible = !response.lines.isEmpty() && response.lines.first().contains('[');
    if (response.tag() != "+" && head.number < 0 &&
        (((head.word == "OK" || head.word == "NO" || head.word == "BAD" || head.word == "PREAUTH") &&
          alertPossible) ||
         head.word == "BYE")) {
        QByteArray code;
        QString text;
        statusParts(response.lines.first(), code, text);
        // RFC 3501: the text of an ALERT must reach the user.
        if (code == "ALERT" && !text.isEmpty() && !m_alerts.contains(text))
            m_alerts.append(text);
        if (head.word == "BYE" && response.tag() == "*") {
            m_saidBye = true;
            m_byeText = text;
        }
    }
    if (response.tag() != "*")
        return;
    if (head.number >= 0 && head.word == "EXISTS")
        m_exists = int(qMin<qint64>(head.number, std::numeric_limits<int>::max()));
    else if (head.number >= 0 && head.word == "EXPUNGE" && m_exists > 0)
        --m_exists;
}

bool ImapConnection::raisePercent(ImapCall& call, int percent)
{
    call.lastPercent = percent;
    bool abort = false;
    if (ImapEventSink* s = m_sink)
        s->percentDone(percent, abort);
    if (!stillOurs(call))
        return false;
    if (abort) {
        abandon(call);
        return false;
    }
    return true;
}

bool ImapConnection::reportProgress(ImapCall& call)
{
    if (!call.progress || !m_parser.inLiteral() || m_parser.literalSize() <= 0)
        return true;
    if (call.progressMessage >= 0 &&
        !m_parser.pendingFirstLine().startsWith("* " + QByteArray::number(call.progressMessage) + ' '))
        return true; // another message read ahead
    const int percent = int(m_parser.literalReceived() * 100 / m_parser.literalSize());
    if (percent <= call.lastPercent)
        return true;
    return raisePercent(call, percent);
}

void ImapConnection::abandon(ImapCall& call)
{
    call.note(QStringLiteral("Abandoned at the application's request."));
    call.fail(ImapFailure::Kind::Aborted);
    if (!m_inFlightTag.isEmpty() && m_inFlightSent && m_readAhead.abandon(m_inFlightTag)) {
        // The fetches sent ahead still come; nothing more is sent ahead.
        call.note(
            QStringLiteral("The rest of the answer to %1 will be skipped; no more fetches are sent ahead.")
                .arg(QString::fromLatin1(m_inFlightTag)));
        m_inFlightTag.clear();
    } else if (!m_inFlightTag.isEmpty() && m_inFlightSent) {
        // The command went out whole: the connection stays usable once its answer has passed.
        if (!m_abandonedTags.contains(m_inFlightTag))
            m_abandonedTags.append(m_inFlightTag);
        call.note(QStringLiteral("The rest of the answer to %1 will be skipped before the next command.")
                      .arg(QString::fromLatin1(m_inFlightTag)));
        m_inFlightTag.clear();
    } else {
        // Half a command or half a connect cannot be taken back: start afresh.
        call.note(QStringLiteral("The connection is closed."));
        closeConnection();
    }
}

// Asks the bound sink whether to abort, when a check is due; `failed` tells the caller to
// give up (the call was abandoned, or a handler closed the connection meanwhile).
bool ImapConnection::abortRequested(ImapCall& call, bool& failed)
{
    failed = false;
    if (m_settings.clock->now() - call.lastAbortCheck < kAbortCheckIntervalMs)
        return false;
    call.lastAbortCheck = m_settings.clock->now();
    bool abort = false;
    if (ImapEventSink* s = m_sink)
        s->abortCheck(abort);
    if (!stillOurs(call)) {
        failed = true;
        return true;
    }
    if (abort) {
        abandon(call);
        failed = true;
    }
    return true;
}

// Runs the event loop (socket and timer events only) until `handle` accepts a response. Every
// ~50 ms of waiting the bound sink is asked whether to abort. Fails on silence longer than the
// time-out, on a closed connection, on an unreadable stream, on abort, and when a handler that
// ran meanwhile closed or replaced the connection.
bool ImapConnection::waitFor(ImapCall& call, const std::function<bool(const ImapResponse&)>& handle,
                             int deadlineMs, bool logReplies)
{
    const std::shared_ptr<Clock> time = m_settings.clock;
    qint64 silentSince = time->now();
    const qint64 start = silentSince;
    if (!stillOurs(call))
        return false;
    QAbstractSocket::SocketState lastState = m_transport->state();
    // Hands the whole responses the parser holds to `handle`: true once one is accepted, false
    // when the connection stopped being this call's meanwhile, nothing when none was accepted.
    const auto handleParsed = [&]() -> std::optional<bool> {
        while (std::optional<ImapResponse> response = m_parser.take()) {
            observe(call, *response, logReplies);
            if (handle(*response))
                return true;
            if (!stillOurs(call))
                return false;
        }
        return std::nullopt;
    };
    // Whole responses read already come first, and more is read only once the parser holds none:
    // a read-ahead brings answers faster than messages become rows, and a chunk added behind a
    // long backlog would move the whole backlog along. The socket keeps them meanwhile.
    if (const std::optional<bool> done = handleParsed())
        return *done;
    for (;;) {
        const QByteArray chunk = m_transport->read();
        if (!chunk.isEmpty()) {
            m_reachedServer = true;
            silentSince = time->now();
            call.bytesReceived += chunk.size();
            if (call.bytesReceived > kMaxBytesPerCall) {
                call.note(QStringLiteral(
                              "The server sent more than %1 bytes for one call; the connection is closed.")
                              .arg(kMaxBytesPerCall));
                call.fail(ImapFailure::Kind::Unreadable);
                closeConnection();
                return false;
            }
            m_parser.feed(chunk);
        }
        if (const std::optional<bool> done = handleParsed())
            return *done;
        if (m_parser.failed()) {
            call.note(QStringLiteral("The server's response could not be read: %1 The connection is closed.")
                          .arg(m_parser.errorText()));
            call.fail(ImapFailure::Kind::Unreadable);
            closeConnection();
            return false;
        }
        if (!reportProgress(call))
            return false;
        if (m_transport->state() == QAbstractSocket::ConnectedState || m_transport->reached())
            m_reachedServer = true;
        if (m_transport->state() == QAbstractSocket::UnconnectedState) {
            noteDrop(call);
            closeConnection();
            return false;
        }
        if (m_transport->state() != lastState) {
            lastState = m_transport->state();
            silentSince = time->now();
        }
        if (time->now() - silentSince >= m_settings.timeoutMs) {
            call.note(
                QStringLiteral("Timed out: nothing came from the server for %1 ms. The connection is closed.")
                    .arg(m_settings.timeoutMs));
            call.fail(ImapFailure::Kind::TimedOut);
            closeConnection();
            return false;
        }
        if (deadlineMs >= 0 && time->now() - start >= deadlineMs) {
            call.note(QStringLiteral("No answer within %1 ms.").arg(deadlineMs));
            return false;
        }
        bool failed = false;
        if (abortRequested(call, failed)) {
            if (failed)
                return false;
            continue; // data may have arrived while the sink ran
        }
        if (m_transport->bytesAvailable() > 0)
            continue;
        time->sleep(int(kAbortCheckIntervalMs - (time->now() - call.lastAbortCheck)), *m_transport);
        if (!stillOurs(call))
            return false;
    }
}

// The connection is there, and nothing of an abandoned command is still on its way.
bool ImapConnection::ensureUsable(ImapCall& call)
{
    if (!m_transport || m_state == ImapClient::State::NotConnected) {
        call.note(QStringLiteral("Not connected."));
        call.fail(ImapFailure::Kind::NotConnected);
        return false;
    }
    if (m_transport->state() != QAbstractSocket::ConnectedState) {
        // Whatever the server said before it went (a BYE, say) belongs in the log.
        for (QByteArray bytes = m_transport->read(); !bytes.isEmpty(); bytes = m_transport->read())
            m_parser.feed(bytes);
        while (std::optional<ImapResponse> response = m_parser.take())
            observe(call, *response);
        call.note(QStringLiteral("The server has closed the connection."));
        call.fail(ImapFailure::Kind::ConnectionLost);
        if (m_saidBye) {
            call.failure.status = "BYE";
            call.failure.text = m_byeText;
        }
        closeConnection();
        return false;
    }
    if (!m_abandonedTags.isEmpty()) {
        call.note(m_abandonedTags.size() == 1
                      ? QStringLiteral("Skipping the rest of the answer to the abandoned command %1.")
                            .arg(QString::fromLatin1(m_abandonedTags.first()))
                      : QStringLiteral("Skipping the rest of the answers to the abandoned commands %1 to %2.")
                            .arg(QString::fromLatin1(m_abandonedTags.first()),
                                 QString::fromLatin1(m_abandonedTags.last())));
        m_inFlightTag = m_abandonedTags.last();
        m_inFlightSent = true;
        if (!waitFor(call, [this](const ImapResponse& r) {
                m_abandonedTags.removeAll(r.tag());
                return m_abandonedTags.isEmpty();
            }))
            return false;
        m_inFlightTag.clear();
    }
    return true;
}

ImapOutcome ImapConnection::completion(const ImapResponse& response)
{
    ImapResponseReader reader(response);
    const ImapResponseHead head = ImapResponseHead::read(reader);
    ImapOutcome outcome;
    outcome.completed = true;
    outcome.status = head.word;
    outcome.raw = response.raw();
    m_inFlightTag.clear();
    m_inFlightSent = false;
    return outcome;
}

void ImapConnection::endReadAhead()
{
    for (const QByteArray& tag : m_readAhead.stop()) {
        if (!m_abandonedTags.contains(tag))
            m_abandonedTags.append(tag);
    }
}

ImapOutcome ImapConnection::runCommand(ImapCall& call, const ImapCommand& command)
{
    endReadAhead();
    call.progressMessage = -1;
    if (!ensureUsable(call))
        return {};
    // Progress belongs to this command's answer, not to the rest of an abandoned one.
    call.progress = command.reportsProgress;
    const QByteArray tag = nextTag();
    call.note(QStringLiteral("Sent: %1 %2").arg(QString::fromLatin1(tag), command.logText));
    m_inFlightTag = tag;
    m_inFlightSent = false;
    ImapOutcome outcome;
    bool unreadable = false;
    auto untagged = [&](const ImapResponse& r) {
        if (command.onUntagged && r.tag() == "*" && !command.onUntagged(r))
            unreadable = true;
    };

    for (qsizetype i = 0; i < command.parts.size(); ++i) {
        QByteArray out = i == 0 ? tag + ' ' : command.literals[i - 1];
        out += command.parts[i];
        out += "\r\n";
        if (!send(call, out))
            return {};
        if (i >= command.literals.size())
            break;
        // The server has to ask for the literal first, or refuse the command outright.
        bool proceed = false;
        if (!waitFor(call, [&](const ImapResponse& r) {
                if (r.tag() == "+") {
                    proceed = true;
                    return true;
                }
                if (r.tag() == tag) {
                    outcome = completion(r);
                    return true;
                }
                untagged(r);
                return false;
            }))
            return {};
        if (!proceed) {
            outcome.unreadableData = unreadable;
            noteRefusal(call, outcome);
            return outcome;
        }
    }
    m_inFlightSent = true;
    if (command.afterSend && !command.afterSend())
        return {};

    bool strayContinuation = false;
    if (!waitFor(call, [&](const ImapResponse& r) {
            if (r.tag() == tag) {
                outcome = completion(r);
                return true;
            }
            if (r.tag() == "+") {
                strayContinuation = true;
                return true;
            }
            untagged(r);
            return false;
        }))
        return {};
    if (strayContinuation) {
        // The server waits for command data that this command does not have.
        call.note(QStringLiteral("The server asked for more command data; the connection is closed."));
        closeConnection();
        return {};
    }
    outcome.unreadableData = unreadable;
    noteRefusal(call, outcome);
    return outcome;
}

bool ImapConnection::announced(const QString& capability) const
{
    return m_capabilities.contains(capability, Qt::CaseInsensitive);
}

// Capabilities change with the sign-in: keep only what the server announced along with it.
void ImapConnection::signedIn(quint64 announcementsBefore)
{
    m_state = ImapClient::State::Authenticated;
    if (m_capabilitiesAnnounced == announcementsBefore) {
        m_capabilities.clear();
        m_capabilitiesKnown = false;
    }
}
