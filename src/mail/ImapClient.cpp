#include "mail/ImapClient.h"

#include "mail/ImapEventSink.h"
#include "mail/ImapInternalDate.h"
#include "mail/ImapQuoting.h"
#include "mail/ImapResponse.h"
#include "mail/ImapResponseParser.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"
#include "mail/ModifiedUtf7.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr int kAbortCheckIntervalMs = 50;
constexpr int kLogoutWaitMs = 2000;
constexpr int kMaxLoggedReplies = 40;
constexpr int kMaxLoggedReplyChars = 300;
// Bytes one call accepts from the server before it gives up on a server that never finishes.
constexpr qint64 kMaxBytesPerCall = qint64(512) * 1024 * 1024;
// Longest explanation of a refused sign-in that the log shows.
constexpr int kMaxSaslErrorChars = 500;

using ResponseHead = ImapResponseHead;

ResponseHead readHead(ImapResponseReader& reader) { return ImapResponseHead::read(reader); }

// The capabilities a response announces: a CAPABILITY reply, or a CAPABILITY response code in
// an OK or PREAUTH (greeting or tagged answer).
std::optional<QStringList> announcedCapabilities(const ImapResponse& response)
{
    ImapResponseReader reader(response);
    const ResponseHead head = readHead(reader);
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

bool holdsUnsendableSaslByte(const QByteArray& value)
{
    // CR, LF and NUL would end or break the line; ^A separates the fields of the XOAUTH2 string.
    return ImapQuoting::hasLineBreakOrNul(value) || value.contains('\x01');
}

// What a continuation request says once base64 is taken off: the explanation a server gives
// when it refuses a token. Shown only when it decodes to readable text.
QString decodedChallenge(const QByteArray& text)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return {};
    const QByteArray& bytes = decoded.decoded;
    for (char c : bytes) {
        if ((quint8(c) < 0x20 && c != '\t') || c == 0x7f)
            return {};
    }
    QString readable = QString::fromUtf8(bytes);
    if (readable.size() > kMaxSaslErrorChars)
        readable = readable.left(kMaxSaslErrorChars) + QStringLiteral("...");
    return readable;
}

// The parts of a status response after its tag and word ("A001 NO [UNAVAILABLE] Busy."): the
// response code's name in upper case, without brackets or arguments, and the human-readable text.
void statusParts(const QByteArray& line, QByteArray& code, QString& text)
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

}  // namespace

class ImapClient::Private {
public:
    // Everything one public call needs to know about itself, and the diagnostic it leaves.
    struct Call {
        QStringList log;
        quint64 generation = 0;
        QElapsedTimer sinceAbortCheck;
        qint64 bytesReceived = 0;
        int loggedReplies = 0;
        int unloggedReplies = 0;
        bool progress = false;
        int lastPercent = -1;
        QStringList secrets;  // texts the log must never show
        ImapFailure failure;  // why the call failed; the first cause found stands

        void fail(ImapFailure::Kind kind)
        {
            if (failure.kind == ImapFailure::Kind::None)
                failure.kind = kind;
        }

        void note(const QString& line)
        {
            QString text = line;
            for (const QString& secret : secrets) {
                if (!secret.isEmpty())
                    text.replace(secret, QStringLiteral("****"));
            }
            log.append(QStringLiteral("  ") + text);
        }
    };

    // Marks one public call for its whole duration: re-entrancy bookkeeping, the abort-check
    // clock, and publishing the diagnostic when it ends.
    class CallScope {
    public:
        CallScope(Private& p, const QString& name)
            : d(p)
            , savedBusy(p.busy)
            , savedBusyGeneration(p.busyGeneration)
        {
            ++d.callDepth;
            call.log.append(name);
            call.generation = d.generation;
            call.sinceAbortCheck.start();
        }
        ~CallScope()
        {
            if (call.unloggedReplies > 0)
                call.note(QStringLiteral("(%1 more replies not shown)").arg(call.unloggedReplies));
            d.lastError = call.log.join(QLatin1Char('\n'));
            d.lastFailure = call.failure;
            d.lastFailure.host = d.host;
            d.busy = savedBusy;
            d.busyGeneration = savedBusyGeneration;
            if (--d.callDepth == 0)
                d.retired.clear();
        }
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

        // From here on this call uses the current connection; other calls are refused.
        void claim()
        {
            d.busy = true;
            d.busyGeneration = d.generation;
            call.generation = d.generation;
        }

        Call call;

    private:
        Private& d;
        bool savedBusy;
        quint64 savedBusyGeneration;
    };

    // A command to send: text pieces, each but the last ending in a literal marker "{n}", and
    // the literal data that follows each marker once the server has asked for it.
    struct Command {
        QList<QByteArray> parts;
        QList<QByteArray> literals;
        QString logText;               // what the log shows after the tag
        bool reportsProgress = false;  // raise percent-done while a literal of the answer arrives
        // Untagged responses while the command runs; false marks one it could not read.
        std::function<bool(const ImapResponse&)> onUntagged;
    };

    struct Outcome {
        bool completed = false;  // a tagged answer arrived
        QByteArray status;       // OK, NO, BAD (upper case) or whatever the server wrote
        QByteArray raw;          // the tagged line as received
        bool unreadableData = false;
    };

    ~Private() { closeConnection(); }

    // Settings
    bool ssl = false;
    int port = 0;
    QString caFile;
    int timeoutMs = 30000;
    ImapEventSink* sink = nullptr;
    bool destroyed = false;

    // Connection
    std::unique_ptr<QSslSocket> socket;
    std::vector<std::unique_ptr<QSslSocket>> retired;  // closed during a call, deleted after it
    quint64 generation = 0;  // changes whenever the connection is closed or replaced
    ImapResponseParser parser;
    ImapClient::State state = ImapClient::State::NotConnected;
    int tagCounter = 0;
    QByteArray inFlightTag;
    bool inFlightSent = false;
    QByteArray abandonedTag;  // sent, answer still to come, its caller gone
    int exists = 0;
    QStringList tlsErrors;
    QList<QSslError::SslError> tlsErrorCodes;
    QString host;              // of the last connect
    bool tcpConnected = false;  // the last connect reached the server
    bool saidBye = false;       // the server said BYE on this connection
    bool preauthenticated = false;  // greeted with PREAUTH
    QString byeText;            // and these words with it
    QStringList alerts;         // [ALERT] texts not taken yet
    ImapFailure lastFailure;
    QStringList capabilities;
    bool capabilitiesKnown = false;
    quint64 capabilitiesAnnounced = 0;  // counts announcements, so a call sees whether one came

    // Calls
    int callDepth = 0;
    bool busy = false;
    quint64 busyGeneration = 0;
    QString lastError;

    int connect(const QString& host);
    QString sendRawCommand(const QString& command);
    int login(const QString& user, const QString& password);
    int loginXOAuth2(const QString& user, const QString& accessToken);
    QStringList currentCapabilities();
    int selectMailbox(const QString& mailbox);
    std::optional<ImapClient::RawMessage> fetchRaw(int number, bool isUid);
    std::optional<QStringList> listMailboxes(const QString& reference, const QString& pattern);
    int disconnect();

    void closeConnection();
    bool refuseIfBusy(Call& call);
    bool alreadySignedIn(Call& call);
    bool stillOurs(Call& call);
    QByteArray nextTag();
    bool send(Call& call, const QByteArray& bytes);
    bool ensureUsable(Call& call);
    Outcome runCommand(Call& call, const Command& command);
    Outcome runAuthenticate(Call& call, const QByteArray& mechanism, const QByteArray& initialResponse,
                            bool initialResponseWithCommand);
    Outcome askCapabilities(Call& call);
    bool announced(const QString& capability) const;
    void noteRefusal(Call& call, const Outcome& outcome);
    void signedIn(quint64 announcementsBefore);
    Outcome completion(const ImapResponse& response);
    bool waitFor(Call& call, const std::function<bool(const ImapResponse&)>& handle, int deadlineMs = -1);
    void sleep(int ms);
    void observe(Call& call, const ImapResponse& response);
    bool reportProgress(Call& call);
    bool raisePercent(Call& call, int percent);
    void abandon(Call& call);
    void noteDrop(Call& call);
};

// ---------------------------------------------------------------------------------------------
// Connection plumbing

void ImapClient::Private::closeConnection()
{
    if (socket) {
        socket->abort();
        // A call further up the stack may still hold on to the socket: keep it until then.
        if (callDepth > 0)
            retired.push_back(std::move(socket));
        else
            socket.reset();
    }
    ++generation;
    state = ImapClient::State::NotConnected;
    parser.reset();
    inFlightTag.clear();
    inFlightSent = false;
    abandonedTag.clear();
    exists = 0;
    saidBye = false;
    byeText.clear();
    preauthenticated = false;
    capabilities.clear();
    capabilitiesKnown = false;
}

bool ImapClient::Private::refuseIfBusy(Call& call)
{
    if (busy && busyGeneration == generation && socket) {
        call.note(QStringLiteral("Refused: another call is still using the connection."));
        call.fail(ImapFailure::Kind::Other);
        return true;
    }
    return false;
}

// A PREAUTH greeting leaves nothing to sign in to: sending LOGIN or AUTHENTICATE now would be
// a protocol error, and would hand out the credentials for nothing.
bool ImapClient::Private::alreadySignedIn(Call& call)
{
    if (!socket || !preauthenticated)
        return false;
    call.note(QStringLiteral("Already signed in (the server greeted with PREAUTH); nothing was sent."));
    return true;
}

bool ImapClient::Private::stillOurs(Call& call)
{
    if (destroyed) {
        call.note(QStringLiteral("The IMAP client was destroyed during the call."));
        call.fail(ImapFailure::Kind::Other);
        return false;
    }
    if (generation != call.generation || !socket) {
        call.note(QStringLiteral("The connection was closed during the call (disconnect or new connect)."));
        call.fail(ImapFailure::Kind::Other);
        return false;
    }
    return true;
}

QByteArray ImapClient::Private::nextTag()
{
    return "A" + QByteArray::number(++tagCounter).rightJustified(3, '0');
}

bool ImapClient::Private::send(Call& call, const QByteArray& bytes)
{
    if (socket->write(bytes) != bytes.size()) {
        call.note(QStringLiteral("Could not send to the server: %1").arg(socket->errorString()));
        call.fail(ImapFailure::Kind::ConnectionLost);
        closeConnection();
        return false;
    }
    // Hand the command to the network now rather than at the next turn of the event loop.
    socket->flush();
    return true;
}

void ImapClient::Private::sleep(int ms)
{
    QEventLoop loop;
    QSslSocket* s = socket.get();
    QObject::connect(s, &QIODevice::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(s, &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
    QObject::connect(s, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(s, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    QTimer::singleShot(qMax(1, ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ImapClient::Private::noteDrop(Call& call)
{
    if (!tlsErrors.isEmpty()) {
        call.note(QStringLiteral("The server's certificate was not accepted: %1")
                      .arg(tlsErrors.join(QStringLiteral("; "))));
    }
    QString where;
    if (parser.inLiteral()) {
        where = QStringLiteral(" in the middle of a literal (%1 of %2 bytes had arrived)")
                    .arg(parser.literalReceived())
                    .arg(parser.literalSize());
    } else if (parser.midResponse()) {
        where = QStringLiteral(" in the middle of a response");
    }
    call.note(QStringLiteral("The connection was closed%1: %2").arg(where, socket->errorString()));
    if (!tlsErrorCodes.isEmpty()) {
        call.fail(tlsFailureKind(tlsErrorCodes));
    } else if (!tcpConnected) {
        call.fail(ImapFailure::Kind::Unreachable);
    } else if (socket->error() == QAbstractSocket::SslHandshakeFailedError ||
               socket->error() == QAbstractSocket::SslInternalError) {
        call.fail(ImapFailure::Kind::TlsOther);
    } else {
        call.fail(ImapFailure::Kind::ConnectionLost);
        if (saidBye) {
            call.failure.status = "BYE";
            call.failure.text = byeText;
        }
    }
}

// Untagged data that matters whatever command is running, and the log of every reply.
void ImapClient::Private::observe(Call& call, const ImapResponse& response)
{
    if (call.loggedReplies < kMaxLoggedReplies) {
        ++call.loggedReplies;
        call.note(QStringLiteral("Received: ") + QString::fromUtf8(response.summary(kMaxLoggedReplyChars)));
    } else {
        ++call.unloggedReplies;
    }
    if (std::optional<QStringList> names = announcedCapabilities(response)) {
        capabilities = std::move(*names);
        capabilitiesKnown = true;
        ++capabilitiesAnnounced;
    }
    ImapResponseReader reader(response);
    const ResponseHead head = readHead(reader);
    if (response.tag() != "+" && head.number < 0 &&
        (head.word == "OK" || head.word == "NO" || head.word == "BAD" || head.word == "BYE" ||
         head.word == "PREAUTH")) {
        QByteArray code;
        QString text;
        statusParts(response.lines.first(), code, text);
        if (code == "ALERT" && !text.isEmpty() && !alerts.contains(text))
            alerts.append(text);
        if (head.word == "BYE" && response.tag() == "*") {
            saidBye = true;
            byeText = text;
        }
    }
    if (response.tag() != "*")
        return;
    if (head.number >= 0 && head.word == "EXISTS")
        exists = int(qMin<qint64>(head.number, std::numeric_limits<int>::max()));
    else if (head.number >= 0 && head.word == "EXPUNGE" && exists > 0)
        --exists;
}

bool ImapClient::Private::raisePercent(Call& call, int percent)
{
    call.lastPercent = percent;
    bool abort = false;
    if (ImapEventSink* s = sink)
        s->percentDone(percent, abort);
    if (!stillOurs(call))
        return false;
    if (abort) {
        abandon(call);
        return false;
    }
    return true;
}

bool ImapClient::Private::reportProgress(Call& call)
{
    if (!call.progress || !parser.inLiteral() || parser.literalSize() <= 0)
        return true;
    const int percent = int(parser.literalReceived() * 100 / parser.literalSize());
    if (percent <= call.lastPercent)
        return true;
    return raisePercent(call, percent);
}

void ImapClient::Private::abandon(Call& call)
{
    call.note(QStringLiteral("Abandoned at the application's request."));
    call.fail(ImapFailure::Kind::Aborted);
    if (!inFlightTag.isEmpty() && inFlightSent) {
        // The command went out whole: the connection stays usable once its answer has passed.
        abandonedTag = inFlightTag;
        inFlightTag.clear();
        call.note(QStringLiteral("The rest of the answer to %1 will be skipped before the next command.")
                      .arg(QString::fromLatin1(abandonedTag)));
    } else {
        // Half a command or half a connect cannot be taken back: start afresh.
        call.note(QStringLiteral("The connection is closed."));
        closeConnection();
    }
}

// Runs the event loop (socket and timer events only) until `handle` accepts a response. Every
// ~50 ms of waiting the bound sink is asked whether to abort. Fails on silence longer than the
// time-out, on a closed connection, on an unreadable stream, on abort, and when a handler that
// ran meanwhile closed or replaced the connection.
bool ImapClient::Private::waitFor(Call& call, const std::function<bool(const ImapResponse&)>& handle,
                                  int deadlineMs)
{
    QElapsedTimer silence;
    silence.start();
    QElapsedTimer total;
    total.start();
    if (!stillOurs(call))
        return false;
    QAbstractSocket::SocketState lastState = socket->state();
    for (;;) {
        const QByteArray chunk = socket->readAll();
        if (!chunk.isEmpty()) {
            silence.restart();
            call.bytesReceived += chunk.size();
            if (call.bytesReceived > kMaxBytesPerCall) {
                call.note(QStringLiteral(
                              "The server sent more than %1 bytes for one call; the connection is closed.")
                              .arg(kMaxBytesPerCall));
                call.fail(ImapFailure::Kind::Unreadable);
                closeConnection();
                return false;
            }
            parser.feed(chunk);
        }
        while (std::optional<ImapResponse> response = parser.take()) {
            observe(call, *response);
            if (handle(*response))
                return true;
            if (!stillOurs(call))
                return false;
        }
        if (parser.failed()) {
            call.note(QStringLiteral("The server's response could not be read: %1 The connection is closed.")
                          .arg(parser.errorText()));
            call.fail(ImapFailure::Kind::Unreadable);
            closeConnection();
            return false;
        }
        if (!reportProgress(call))
            return false;
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            noteDrop(call);
            closeConnection();
            return false;
        }
        if (socket->state() != lastState) {
            lastState = socket->state();
            silence.restart();
        }
        if (silence.elapsed() >= timeoutMs) {
            call.note(
                QStringLiteral("Timed out: nothing came from the server for %1 ms. The connection is closed.")
                    .arg(timeoutMs));
            call.fail(ImapFailure::Kind::TimedOut);
            closeConnection();
            return false;
        }
        if (deadlineMs >= 0 && total.elapsed() >= deadlineMs) {
            call.note(QStringLiteral("No answer within %1 ms.").arg(deadlineMs));
            return false;
        }
        if (call.sinceAbortCheck.elapsed() >= kAbortCheckIntervalMs) {
            call.sinceAbortCheck.restart();
            bool abort = false;
            if (ImapEventSink* s = sink)
                s->abortCheck(abort);
            if (!stillOurs(call))
                return false;
            if (abort) {
                abandon(call);
                return false;
            }
            continue;  // data may have arrived while the sink ran
        }
        if (socket->bytesAvailable() > 0)
            continue;
        sleep(int(kAbortCheckIntervalMs - call.sinceAbortCheck.elapsed()));
        if (!stillOurs(call))
            return false;
    }
}

// The connection is there, and nothing of an abandoned command is still on its way.
bool ImapClient::Private::ensureUsable(Call& call)
{
    if (!socket || state == ImapClient::State::NotConnected) {
        call.note(QStringLiteral("Not connected."));
        call.fail(ImapFailure::Kind::NotConnected);
        return false;
    }
    if (socket->state() != QAbstractSocket::ConnectedState) {
        // Whatever the server said before it went (a BYE, say) belongs in the log.
        parser.feed(socket->readAll());
        while (std::optional<ImapResponse> response = parser.take())
            observe(call, *response);
        call.note(QStringLiteral("The server has closed the connection."));
        call.fail(ImapFailure::Kind::ConnectionLost);
        if (saidBye) {
            call.failure.status = "BYE";
            call.failure.text = byeText;
        }
        closeConnection();
        return false;
    }
    if (!abandonedTag.isEmpty()) {
        call.note(QStringLiteral("Skipping the rest of the answer to the abandoned command %1.")
                      .arg(QString::fromLatin1(abandonedTag)));
        inFlightTag = abandonedTag;
        inFlightSent = true;
        const QByteArray tag = abandonedTag;
        if (!waitFor(call, [&tag](const ImapResponse& r) { return r.tag() == tag; }))
            return false;
        abandonedTag.clear();
        inFlightTag.clear();
    }
    return true;
}

ImapClient::Private::Outcome ImapClient::Private::completion(const ImapResponse& response)
{
    ImapResponseReader reader(response);
    const ResponseHead head = readHead(reader);
    Outcome outcome;
    outcome.completed = true;
    outcome.status = head.word;
    outcome.raw = response.raw();
    inFlightTag.clear();
    inFlightSent = false;
    return outcome;
}

// A NO or BAD answer: what the server said, for the caller to tell "busy" from "not there".
void ImapClient::Private::noteRefusal(Call& call, const Outcome& outcome)
{
    if (!outcome.completed || outcome.status == "OK" || call.failure.kind != ImapFailure::Kind::None)
        return;
    call.failure.kind = ImapFailure::Kind::Refused;
    call.failure.status = outcome.status;
    statusParts(outcome.raw.left(outcome.raw.indexOf('\r') < 0 ? outcome.raw.size() : outcome.raw.indexOf('\r')),
                call.failure.code, call.failure.text);
}

ImapClient::Private::Outcome ImapClient::Private::runCommand(Call& call, const Command& command)
{
    if (!ensureUsable(call))
        return {};
    // Progress belongs to this command's answer, not to the rest of an abandoned one.
    call.progress = command.reportsProgress;
    const QByteArray tag = nextTag();
    call.note(QStringLiteral("Sent: %1 %2").arg(QString::fromLatin1(tag), command.logText));
    inFlightTag = tag;
    inFlightSent = false;
    Outcome outcome;
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
    inFlightSent = true;

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

// A SASL exchange: AUTHENTICATE with the mechanism, the initial response with the command or
// after the server's first continuation request, and an empty response to a continuation that
// follows the credentials (the server's way of explaining a refusal before its tagged NO).
// Nothing of the exchange can be taken back half-way, so an abandoned exchange closes the
// connection.
ImapClient::Private::Outcome ImapClient::Private::runAuthenticate(Call& call, const QByteArray& mechanism,
                                                                  const QByteArray& initialResponse,
                                                                  bool initialResponseWithCommand)
{
    if (!ensureUsable(call))
        return {};
    call.progress = false;
    const QByteArray tag = nextTag();
    call.note(QStringLiteral("Sent: %1 AUTHENTICATE %2%3")
                  .arg(QString::fromLatin1(tag), QString::fromLatin1(mechanism),
                       initialResponseWithCommand ? QStringLiteral(" <credentials withheld>") : QString()));
    inFlightTag = tag;
    inFlightSent = false;
    QByteArray line = tag + " AUTHENTICATE " + mechanism;
    if (initialResponseWithCommand)
        line += ' ' + initialResponse;
    if (!send(call, line + "\r\n"))
        return {};

    enum class Next { InitialResponse, EmptyResponse, Cancel, GiveUp };
    Next next = initialResponseWithCommand ? Next::EmptyResponse : Next::InitialResponse;
    for (;;) {
        Outcome outcome;
        QByteArray challenge;
        if (!waitFor(call, [&](const ImapResponse& r) {
                if (r.tag() == tag) {
                    outcome = completion(r);
                    return true;
                }
                if (r.tag() == "+") {
                    challenge = r.lines.first().mid(1);
                    return true;
                }
                return false;
            }))
            return {};
        if (outcome.completed) {
            noteRefusal(call, outcome);
            return outcome;
        }
        switch (next) {
        case Next::InitialResponse:
            call.note(QStringLiteral("Sent: <credentials withheld>"));
            if (!send(call, initialResponse + "\r\n"))
                return {};
            next = Next::EmptyResponse;
            break;
        case Next::EmptyResponse: {
            const QString reason = decodedChallenge(challenge);
            if (!reason.isEmpty())
                call.note(QStringLiteral("The server refused the credentials: %1").arg(reason));
            call.note(QStringLiteral("Sent: (empty response)"));
            if (!send(call, "\r\n"))
                return {};
            next = Next::Cancel;
            break;
        }
        case Next::Cancel:
            // The mechanism has nothing more to say: cancel the exchange.
            call.note(QStringLiteral("Sent: * (the exchange is cancelled)"));
            if (!send(call, "*\r\n"))
                return {};
            next = Next::GiveUp;
            break;
        case Next::GiveUp:
            call.note(QStringLiteral("The server keeps asking for more; the connection is closed."));
            closeConnection();
            return {};
        }
    }
}

ImapClient::Private::Outcome ImapClient::Private::askCapabilities(Call& call)
{
    Command cmd;
    cmd.parts = {"CAPABILITY"};
    cmd.logText = QStringLiteral("CAPABILITY");
    return runCommand(call, cmd);
}

bool ImapClient::Private::announced(const QString& capability) const
{
    return capabilities.contains(capability, Qt::CaseInsensitive);
}

// Capabilities change with the sign-in: keep only what the server announced along with it.
void ImapClient::Private::signedIn(quint64 announcementsBefore)
{
    state = ImapClient::State::Authenticated;
    if (capabilitiesAnnounced == announcementsBefore) {
        capabilities.clear();
        capabilitiesKnown = false;
    }
}

// ---------------------------------------------------------------------------------------------
// Operations

int ImapClient::Private::connect(const QString& host)
{
    CallScope scope(*this, QStringLiteral("Connect"));
    Call& call = scope.call;
    if (socket) {
        call.note(QStringLiteral("Closing the previous connection."));
        closeConnection();
    }
    this->host = host;
    const int usedPort = port > 0 ? port : (ssl ? 993 : 143);
    call.note(QStringLiteral("Connecting to %1, port %2, %3.")
                  .arg(host)
                  .arg(usedPort)
                  .arg(ssl ? QStringLiteral("TLS") : QStringLiteral("without TLS")));
    if (host.trimmed().isEmpty()) {
        call.note(QStringLiteral("No host name was given."));
        call.fail(ImapFailure::Kind::Unreachable);
        return 0;
    }
    if (usedPort > 65535) {
        call.note(QStringLiteral("%1 is not a port number.").arg(usedPort));
        call.fail(ImapFailure::Kind::Unreachable);
        return 0;
    }

    auto newSocket = std::make_unique<QSslSocket>();
    if (ssl) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        // The system's store is read once; every connect verifies against the same list.
        static const QList<QSslCertificate> systemAuthorities = QSslConfiguration::systemCaCertificates();
        QList<QSslCertificate> authorities = systemAuthorities;
        if (!caFile.isEmpty()) {
            const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile, QSsl::Pem);
            if (extra.isEmpty()) {
                call.note(QStringLiteral("No CA certificate could be read from %1.").arg(caFile));
                call.fail(ImapFailure::Kind::TlsOther);
                return 0;
            }
            authorities += extra;
        }
        configuration.setCaCertificates(authorities);
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
        newSocket->setSslConfiguration(configuration);
    }
    tlsErrors.clear();
    tlsErrorCodes.clear();
    tcpConnected = false;
    QObject::connect(newSocket.get(), &QSslSocket::sslErrors, [this](const QList<QSslError>& errors) {
        for (const QSslError& error : errors) {
            tlsErrors.append(error.errorString());
            tlsErrorCodes.append(error.error());
        }
    });
    QObject::connect(newSocket.get(), &QAbstractSocket::connected, [this] { tcpConnected = true; });
    socket = std::move(newSocket);
    ++generation;
    tagCounter = 0;
    parser.reset();
    scope.claim();
    if (ssl)
        socket->connectToHostEncrypted(host, quint16(usedPort));
    else
        socket->connectToHost(host, quint16(usedPort));

    ImapClient::State greeted = ImapClient::State::NotConnected;
    if (!waitFor(call, [&](const ImapResponse& r) {
            ImapResponseReader reader(r);
            const ResponseHead head = readHead(reader);
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
                    statusParts(r.lines.first(), code, call.failure.text);
                }
            }
            return true;
        })) {
        // Reached the server, then nothing usable: it closed or stayed silent before greeting.
        if (tcpConnected && (call.failure.kind == ImapFailure::Kind::ConnectionLost ||
                             call.failure.kind == ImapFailure::Kind::TimedOut))
            call.failure.kind = ImapFailure::Kind::NoGreeting;
        else if (!tcpConnected && call.failure.kind == ImapFailure::Kind::TimedOut)
            call.failure.kind = ImapFailure::Kind::Unreachable;
        if (generation == call.generation)
            closeConnection();
        return 0;
    }
    if (greeted == ImapClient::State::NotConnected) {
        closeConnection();
        return 0;
    }
    state = greeted;
    preauthenticated = greeted == ImapClient::State::Authenticated;
    call.note(greeted == ImapClient::State::Authenticated
                  ? QStringLiteral("Connected, already authenticated.")
                  : QStringLiteral("Connected."));
    return 1;
}

QString ImapClient::Private::sendRawCommand(const QString& command)
{
    CallScope scope(*this, QStringLiteral("SendRawCommand"));
    Call& call = scope.call;
    if (refuseIfBusy(call))
        return {};
    const QByteArray text = command.toUtf8();
    if (text.isEmpty() || ImapQuoting::hasLineBreakOrNul(text)) {
        call.note(QStringLiteral("Refused: a command must be one non-empty line; nothing was sent."));
        return {};
    }
    scope.claim();
    QList<QByteArray> replies;
    Command cmd;
    cmd.parts = {text};
    cmd.logText = command;
    cmd.onUntagged = [&replies](const ImapResponse& r) {
        replies.append(r.raw());
        return true;
    };
    const Outcome outcome = runCommand(call, cmd);
    if (!outcome.completed)
        return {};
    replies.append(outcome.raw);
    call.note(QStringLiteral("Completed with %1.").arg(QString::fromLatin1(outcome.status)));
    return QString::fromUtf8(replies.join("\r\n"));
}

int ImapClient::Private::login(const QString& user, const QString& password)
{
    CallScope scope(*this, QStringLiteral("Login"));
    Call& call = scope.call;
    if (refuseIfBusy(call))
        return 0;
    if (alreadySignedIn(call))
        return 1;
    const QByteArray userBytes = user.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    call.secrets = {password, user, QString::fromUtf8(ImapQuoting::quoted(passwordBytes)),
                    QString::fromUtf8(ImapQuoting::quoted(userBytes))};
    const ImapQuoting::Form userForm = ImapQuoting::formFor(userBytes);
    const ImapQuoting::Form passwordForm = ImapQuoting::formFor(passwordBytes);
    if (userForm == ImapQuoting::Form::Impossible || passwordForm == ImapQuoting::Form::Impossible) {
        call.secrets.clear();  // nothing to hide in this one line, and nothing is sent
        call.note(QStringLiteral("Refused: the user name or password holds a line break or NUL "
                                 "character, which cannot be sent; nothing was sent."));
        return 0;
    }

    Command cmd;
    cmd.logText = QStringLiteral("LOGIN <user name and password withheld>");
    QByteArray piece = "LOGIN";
    for (const auto& [value, form] :
         {std::pair{userBytes, userForm}, std::pair{passwordBytes, passwordForm}}) {
        piece += ' ';
        if (form == ImapQuoting::Form::Quoted) {
            piece += ImapQuoting::quoted(value);
        } else {
            piece += '{' + QByteArray::number(value.size()) + '}';
            cmd.parts.append(piece);
            cmd.literals.append(value);
            piece.clear();
        }
    }
    cmd.parts.append(piece);

    scope.claim();
    const quint64 announcementsBefore = capabilitiesAnnounced;
    const Outcome outcome = runCommand(call, cmd);
    if (!outcome.completed)
        return 0;
    if (outcome.status != "OK") {
        call.note(QStringLiteral("Login refused."));
        return 0;
    }
    signedIn(announcementsBefore);
    call.note(QStringLiteral("Logged in."));
    return 1;
}

int ImapClient::Private::loginXOAuth2(const QString& user, const QString& accessToken)
{
    CallScope scope(*this, QStringLiteral("LoginXOAuth2"));
    Call& call = scope.call;
    if (refuseIfBusy(call))
        return 0;
    if (alreadySignedIn(call))
        return 1;
    const QByteArray userBytes = user.toUtf8();
    const QByteArray tokenBytes = accessToken.toUtf8();
    if (userBytes.isEmpty() || tokenBytes.isEmpty()) {
        call.note(QStringLiteral("Refused: the user name or the access token is empty; nothing was sent."));
        return 0;
    }
    if (holdsUnsendableSaslByte(userBytes) || holdsUnsendableSaslByte(tokenBytes)) {
        call.note(QStringLiteral("Refused: the user name or the access token holds a line break, NUL or ^A "
                                 "character, which cannot be sent; nothing was sent."));
        return 0;
    }
    // user=<name> ^A auth=Bearer <token> ^A ^A
    const QByteArray initialResponse =
        ("user=" + userBytes + '\x01' + "auth=Bearer " + tokenBytes + "\x01\x01").toBase64();
    call.secrets = {accessToken, QString::fromLatin1(initialResponse), user};

    scope.claim();
    if (!capabilitiesKnown) {
        // Whether the credentials may go with the command depends on SASL-IR.
        if (!askCapabilities(call).completed)
            return 0;
    }
    if (!announced(QStringLiteral("AUTH=XOAUTH2")))
        call.note(QStringLiteral("The server does not announce AUTH=XOAUTH2; trying it all the same."));
    const quint64 announcementsBefore = capabilitiesAnnounced;
    const Outcome outcome =
        runAuthenticate(call, "XOAUTH2", initialResponse, announced(QStringLiteral("SASL-IR")));
    if (!outcome.completed)
        return 0;
    if (outcome.status != "OK") {
        call.note(QStringLiteral("Login refused."));
        return 0;
    }
    signedIn(announcementsBefore);
    call.note(QStringLiteral("Logged in."));
    return 1;
}

QStringList ImapClient::Private::currentCapabilities()
{
    if (capabilitiesKnown || !socket || state == ImapClient::State::NotConnected ||
        (busy && busyGeneration == generation))
        return capabilities;
    CallScope scope(*this, QStringLiteral("Capability"));
    scope.claim();
    const Outcome outcome = askCapabilities(scope.call);
    if (outcome.completed && !capabilitiesKnown)
        scope.call.note(QStringLiteral("The server announced no capabilities."));
    return capabilities;
}

int ImapClient::Private::selectMailbox(const QString& mailbox)
{
    CallScope scope(*this, QStringLiteral("SelectMailbox"));
    Call& call = scope.call;
    if (refuseIfBusy(call))
        return 0;
    scope.claim();
    const QByteArray name = ImapQuoting::quoted(ModifiedUtf7::encode(mailbox));
    Command cmd;
    cmd.parts = {"EXAMINE " + name};
    cmd.logText = QStringLiteral("EXAMINE ") + QString::fromLatin1(name);
    if (state == ImapClient::State::Selected)
        state = ImapClient::State::Authenticated;  // a failed EXAMINE leaves nothing selected
    exists = 0;
    const Outcome outcome = runCommand(call, cmd);
    if (!outcome.completed)
        return 0;
    if (outcome.status != "OK") {
        call.note(QStringLiteral("The mailbox could not be selected."));
        return 0;
    }
    state = ImapClient::State::Selected;
    call.note(QStringLiteral("Selected read-only; %1 messages.").arg(exists));
    return 1;
}

std::optional<ImapClient::RawMessage> ImapClient::Private::fetchRaw(int number, bool isUid)
{
    CallScope scope(*this, QStringLiteral("FetchSingle"));
    Call& call = scope.call;
    if (refuseIfBusy(call))
        return std::nullopt;
    if (number < 0) {
        call.note(QStringLiteral("Refused: %1 is not a message number; nothing was sent.").arg(number));
        return std::nullopt;
    }
    scope.claim();
    std::optional<QByteArray> body;
    QDateTime internalDate;
    Command cmd;
    cmd.parts = {(isUid ? "UID FETCH " : "FETCH ") + QByteArray::number(number) +
                 " (BODY.PEEK[] INTERNALDATE)"};
    cmd.logText = QString::fromLatin1(cmd.parts.first());
    cmd.onUntagged = [&](const ImapResponse& r) {
        ImapResponseReader reader(r);
        const ResponseHead head = readHead(reader);
        if (head.word != "FETCH")
            return true;  // other untagged data is not ours to read
        const std::optional<ImapValue> items = reader.readValue();
        if (head.number < 0 || !items || !items->isList() || items->items.size() % 2 != 0)
            return false;
        std::optional<QByteArray> data;
        QDateTime date;
        qint64 uid = -1;
        for (qsizetype i = 0; i + 1 < items->items.size(); i += 2) {
            const ImapValue& name = items->items[i];
            const ImapValue& value = items->items[i + 1];
            if (!name.isAtom())
                return false;
            const QByteArray key = name.text.toUpper();
            if (key == "BODY[]" && value.isString())
                data = value.text;
            else if (key == "INTERNALDATE" && value.isString())
                date = parseImapInternalDate(value.text);
            else if (key == "UID")
                uid = value.number();
        }
        if ((isUid ? uid : head.number) != number)
            return true;  // another message's data (flags changed, say)
        if (data)
            body = std::move(data);
        if (date.isValid())
            internalDate = date;
        return true;
    };
    cmd.reportsProgress = true;
    const Outcome outcome = runCommand(call, cmd);
    if (!outcome.completed)
        return std::nullopt;
    if (outcome.status != "OK") {
        call.note(QStringLiteral("The server refused the fetch."));
        return std::nullopt;
    }
    if (!body) {
        call.note(outcome.unreadableData ? QStringLiteral("The server's FETCH data could not be read.")
                                         : QStringLiteral("The server sent no message data."));
        call.fail(outcome.unreadableData ? ImapFailure::Kind::Other : ImapFailure::Kind::NoData);
        return std::nullopt;
    }
    if (call.lastPercent < 100) {
        // The message is whole: an abort asked for now has nothing left to abandon.
        call.lastPercent = 100;
        bool ignored = false;
        if (ImapEventSink* s = sink)
            s->percentDone(100, ignored);
    }
    call.note(QStringLiteral("Fetched %1 bytes.").arg(body->size()));
    return ImapClient::RawMessage{std::move(*body), internalDate};
}

std::optional<QStringList> ImapClient::Private::listMailboxes(const QString& reference,
                                                              const QString& pattern)
{
    CallScope scope(*this, QStringLiteral("ListMailboxes"));
    Call& call = scope.call;
    if (refuseIfBusy(call))
        return std::nullopt;
    scope.claim();
    QStringList names;
    Command cmd;
    cmd.parts = {"LIST " + ImapQuoting::quoted(ModifiedUtf7::encode(reference)) + ' ' +
                 ImapQuoting::quoted(ModifiedUtf7::encode(pattern))};
    cmd.logText = QString::fromLatin1(cmd.parts.first());
    cmd.onUntagged = [&names](const ImapResponse& r) {
        ImapResponseReader reader(r);
        const ResponseHead head = readHead(reader);
        if (head.word != "LIST")
            return true;
        const std::optional<ImapValue> flags = reader.readValue();
        reader.skipSpaces();
        const std::optional<ImapValue> delimiter = reader.readValue();
        reader.skipSpaces();
        const std::optional<ImapValue> name = reader.readValue();
        if (!flags || !flags->isList() || !delimiter || !(delimiter->isString() || delimiter->isNil()) ||
            !name || !name->isAString())
            return false;
        // Names are modified UTF-7; a server that sends something else gets its bytes read as UTF-8.
        const std::optional<QString> decoded = ModifiedUtf7::decode(name->text);
        names.append(decoded ? *decoded : QString::fromUtf8(name->text));
        return true;
    };
    const Outcome outcome = runCommand(call, cmd);
    if (!outcome.completed)
        return std::nullopt;
    if (outcome.status != "OK") {
        call.note(QStringLiteral("The server refused the listing."));
        return std::nullopt;
    }
    if (outcome.unreadableData) {
        call.note(QStringLiteral("A LIST reply could not be read; the listing is not trusted."));
        return std::nullopt;
    }
    call.note(QStringLiteral("%1 mailboxes.").arg(names.size()));
    return names;
}

int ImapClient::Private::disconnect()
{
    CallScope scope(*this, QStringLiteral("Disconnect"));
    Call& call = scope.call;
    if (busy && busyGeneration == generation && socket) {
        // Called from a handler while another call waits on the connection: close at once; that
        // call notices and fails.
        call.note(QStringLiteral("Closed while another call was using the connection; that call fails."));
        closeConnection();
        return 1;
    }
    if (!socket) {
        call.note(QStringLiteral("Not connected."));
        return 1;
    }
    if (state != ImapClient::State::NotConnected && socket->state() == QAbstractSocket::ConnectedState) {
        scope.claim();
        const QByteArray tag = nextTag();
        call.note(QStringLiteral("Sent: %1 LOGOUT").arg(QString::fromLatin1(tag)));
        if (send(call, tag + " LOGOUT\r\n"))
            waitFor(
                call, [&tag](const ImapResponse& r) { return r.tag() == tag; },
                qMin(timeoutMs, kLogoutWaitMs));
        // A handler that ran meanwhile may have closed this connection or opened a new one.
        if (generation != call.generation) {
            call.note(QStringLiteral("Disconnected."));
            return 1;
        }
    }
    closeConnection();
    call.note(QStringLiteral("Disconnected."));
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Public face: every call holds the private part, so it outlives this object if need be.

ImapClient::ImapClient(QObject* parent)
    : QObject(parent)
    , d(std::make_shared<Private>())
{
}

ImapClient::~ImapClient()
{
    d->destroyed = true;
    d->sink = nullptr;
    d->closeConnection();
}

void ImapClient::setSsl(bool ssl) { d->ssl = ssl; }
void ImapClient::setPort(int port) { d->port = port; }
void ImapClient::setCaCertificatesFile(const QString& pemPath) { d->caFile = pemPath; }
void ImapClient::setTimeoutMs(int ms) { d->timeoutMs = qMax(1, ms); }

int ImapClient::connect(const QString& host)
{
    const std::shared_ptr<Private> keep = d;
    return keep->connect(host);
}

QString ImapClient::sendRawCommand(const QString& command)
{
    const std::shared_ptr<Private> keep = d;
    return keep->sendRawCommand(command);
}

int ImapClient::login(const QString& user, const QString& password)
{
    const std::shared_ptr<Private> keep = d;
    return keep->login(user, password);
}

int ImapClient::selectMailbox(const QString& mailbox)
{
    const std::shared_ptr<Private> keep = d;
    return keep->selectMailbox(mailbox);
}

int ImapClient::numMessages() const { return d->state == State::Selected ? d->exists : 0; }

std::optional<ImapClient::RawMessage> ImapClient::fetchRaw(int number, bool isUid)
{
    const std::shared_ptr<Private> keep = d;
    return keep->fetchRaw(number, isUid);
}

std::optional<MailMessage> ImapClient::fetchSingle(int number, bool isUid)
{
    const std::shared_ptr<Private> keep = d;
    std::optional<RawMessage> raw = keep->fetchRaw(number, isUid);
    if (!raw)
        return std::nullopt;
    return MailMessage::fromBytes(raw->bytes, raw->internalDate);
}

std::optional<QStringList> ImapClient::listMailboxes(const QString& reference, const QString& pattern)
{
    const std::shared_ptr<Private> keep = d;
    return keep->listMailboxes(reference, pattern);
}

QString ImapClient::lastErrorText() const { return d->lastError; }

ImapFailure ImapClient::lastFailure() const { return d->lastFailure; }

QStringList ImapClient::takeAlerts() { return std::exchange(d->alerts, {}); }

int ImapClient::loginXOAuth2(const QString& user, const QString& accessToken)
{
    const std::shared_ptr<Private> keep = d;
    return keep->loginXOAuth2(user, accessToken);
}

QStringList ImapClient::capabilities()
{
    const std::shared_ptr<Private> keep = d;
    return keep->currentCapabilities();
}

bool ImapClient::hasCapability(const QString& name)
{
    return capabilities().contains(name, Qt::CaseInsensitive);
}

int ImapClient::disconnect()
{
    const std::shared_ptr<Private> keep = d;
    return keep->disconnect();
}

void ImapClient::bindEvents(ImapEventSink* sink) { d->sink = sink; }

void ImapClient::unbindEvents(ImapEventSink* sink)
{
    if (d->sink == sink)
        d->sink = nullptr;
}

ImapClient::State ImapClient::state() const { return d->state; }
