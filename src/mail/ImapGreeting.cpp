#include "mail/ImapGreeting.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"

#include <QSslCertificate>

namespace {

// The port a connect uses: the one set, or the protocol's own.
int usedPort(const ImapConnection::Settings& settings)
{
    return settings.port > 0 ? settings.port : (settings.ssl ? 993 : 143);
}

// The CA certificates trusted beside the system's store; nothing when the file set holds none.
std::optional<QList<QSslCertificate>> extraAuthorities(const ImapConnection::Settings& settings)
{
    if (!settings.ssl || settings.caFile.isEmpty())
        return QList<QSslCertificate>();
    QList<QSslCertificate> authorities = QSslCertificate::fromPath(settings.caFile, QSsl::Pem);
    if (authorities.isEmpty())
        return std::nullopt;
    return authorities;
}

// Waits for the greeting of the connection just opened: Connected or Authenticated, NotConnected
// when it refused, closed, was silent or said something else (the call's failure says which;
// `refused` tells a BYE or a close by the server from the rest).
ImapClient::State waitForGreeting(ImapConnection& d, ImapCall& call, bool& refused)
{
    refused = false;
    ImapClient::State greeted = ImapClient::State::NotConnected;
    if (!d.waitFor(call, [&](const ImapResponse& r) {
            ImapResponseReader reader(r);
            const ImapResponseHead head = ImapResponseHead::read(reader);
            if (head.tag == "*" && head.number < 0 && head.word == "OK")
                greeted = ImapClient::State::Connected;
            else if (head.tag == "*" && head.number < 0 && head.word == "PREAUTH")
                greeted = ImapClient::State::Authenticated;
            else if (head.tag == "*" && head.word == "BYE")
                call.note(QStringLiteral("The server refused the connection."));
            else
                call.note(QStringLiteral("The server's greeting is not an IMAP greeting."));
            if (greeted == ImapClient::State::NotConnected) {
                call.fail(ImapFailure::Kind::NoGreeting);
                if (head.word == "BYE") {
                    call.failure.status = "BYE";
                    QByteArray code;
                    ImapConnection::statusParts(r.lines.first(), code, call.failure.text);
                }
            }
            return true;
        })) {
        refused = d.reachedServer() && call.failure.kind == ImapFailure::Kind::ConnectionLost;
        // Reached the server, then nothing usable: it closed or stayed silent before greeting.
        if (d.reachedServer() && (call.failure.kind == ImapFailure::Kind::ConnectionLost ||
                                  call.failure.kind == ImapFailure::Kind::TimedOut))
            call.failure.kind = ImapFailure::Kind::NoGreeting;
        else if (!d.reachedServer() && call.failure.kind == ImapFailure::Kind::TimedOut)
            call.failure.kind = ImapFailure::Kind::Unreachable;
        if (d.sameConnection(call))
            d.closeConnection();
        return ImapClient::State::NotConnected;
    }
    if (greeted == ImapClient::State::NotConnected) {
        refused = call.failure.status == "BYE";
        d.closeConnection();
    }
    return greeted;
}

} // namespace

int ImapGreeting::connect(ImapConnection& d, const QString& host)
{
    ImapCallScope scope(d, QStringLiteral("Connect"));
    ImapCall& call = scope.call;
    if (d.connected()) {
        call.note(QStringLiteral("Closing the previous connection."));
        d.closeConnection();
    }
    d.setHost(host);
    const ImapConnection::Settings& settings = d.settings();
    const int port = usedPort(settings);
    call.note(QStringLiteral("Connecting to %1, port %2, %3.")
                  .arg(host)
                  .arg(port)
                  .arg(settings.ssl ? QStringLiteral("TLS") : QStringLiteral("without TLS")));
    if (host.trimmed().isEmpty()) {
        call.note(QStringLiteral("No host name was given."));
        call.fail(ImapFailure::Kind::Unreachable);
        return 0;
    }
    if (port > 65535) {
        call.note(QStringLiteral("%1 is not a port number.").arg(port));
        call.fail(ImapFailure::Kind::Unreachable);
        return 0;
    }
    const std::optional<QList<QSslCertificate>> authorities = extraAuthorities(settings);
    if (!authorities) {
        call.note(QStringLiteral("No CA certificate could be read from %1.").arg(settings.caFile));
        call.fail(ImapFailure::Kind::TlsOther);
        return 0;
    }
    const bool tookAhead = d.open(host, quint16(port), *authorities);
    if (tookAhead)
        call.note(QStringLiteral("Taking the connection opened ahead for this connect."));
    scope.claim();

    bool refused = false;
    ImapClient::State greeted = waitForGreeting(d, call, refused);
    if (greeted == ImapClient::State::NotConnected && tookAhead && refused) {
        // Opened while the previous connection was still there, it may have met a limit on
        // connections that this one no longer does: once more, on a connection of its own.
        call.note(QStringLiteral("The connection opened ahead was refused; connecting again."));
        call.failure = ImapFailure();
        d.open(host, quint16(port), *authorities);
        scope.claim();
        greeted = waitForGreeting(d, call, refused);
    }
    if (greeted == ImapClient::State::NotConnected)
        return 0;
    d.greeted(greeted);
    call.note(greeted == ImapClient::State::Authenticated
                  ? QStringLiteral("Connected, already authenticated.")
                  : QStringLiteral("Connected."));
    return 1;
}

void ImapGreeting::prepare(ImapConnection& d, const QString& host)
{
    const ImapConnection::Settings& settings = d.settings();
    const int port = usedPort(settings);
    const std::optional<QList<QSslCertificate>> authorities = extraAuthorities(settings);
    if (host.trimmed().isEmpty() || port > 65535 || !authorities)
        return; // the connect finds out and says so
    d.openAhead(host, quint16(port), *authorities);
}

std::optional<QStringList> ImapGreeting::announcedCapabilities(const ImapResponse& response)
{
    ImapResponseReader reader(response);
    const ImapResponseHead head = ImapResponseHead::read(reader);
    QByteArray list;
    if (head.tag == "*" && head.number < 0 && head.word == "CAPABILITY") {
        list = reader.readRestOfLine();
    } else if (head.tag != "+" && head.number < 0 && (head.word == "OK" || head.word == "PREAUTH")) {
        const QByteArray code = reader.readAtom();
        if (!code.startsWith('[') || !code.endsWith(']'))
            return std::nullopt;
        const QByteArray inner = code.mid(1, code.size() - 2);
        const qsizetype space = inner.indexOf(' ');
        if (inner.left(space < 0 ? inner.size() : space).toUpper() != "CAPABILITY")
            return std::nullopt;
        list = space < 0 ? QByteArray() : inner.mid(space + 1);
    } else {
        return std::nullopt;
    }
    QStringList names;
    for (const QByteArray& name : list.split(' ')) {
        if (!name.isEmpty())
            names.append(QString::fromLatin1(name));
    }
    return names;
}

ImapOutcome ImapGreeting::ask(ImapConnection& d, ImapCall& call)
{
    ImapCommand cmd;
    cmd.parts = {"CAPABILITY"};
    cmd.logText = QStringLiteral("CAPABILITY");
    return d.runCommand(call, cmd);
}

QStringList ImapGreeting::current(ImapConnection& d)
{
    if (d.capabilitiesKnown() || !d.connected() || d.state() == ImapClient::State::NotConnected ||
        d.busyElsewhere())
        return d.capabilities();
    ImapCallScope scope(d, QStringLiteral("Capability"));
    scope.claim();
    const ImapOutcome outcome = ask(d, scope.call);
    if (outcome.completed && !d.capabilitiesKnown())
        scope.call.note(QStringLiteral("The server announced no capabilities."));
    return d.capabilities();
}
