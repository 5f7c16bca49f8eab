#pragma once

#include "mail/ImapFailure.h"
#include "mail/MailMessage.h"
#include "mail/MailboxEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Clock;
class ImapConnection;
class ImapEventSink;
class ImapTransport;

// Our IMAP component: a read-only IMAP4rev1 client, on QSslSocket unless told otherwise. Calls block their
// caller while the event loop keeps running underneath (socket and timer events; user input is handed over
// only through the abort-check notification), so everything stays on the one user-interface thread. Status
// results: 1 = success, anything else failure.
//
// Read-only: mailboxes are opened with EXAMINE and messages read with BODY.PEEK[], so nothing
// on the server changes, not even the \Seen flag. Every wait is bounded by the time-out
// (silence), and about every 50 ms of waiting the bound sink's abortCheck may abandon the call;
// an abandoned command's answer is skipped before the next command, so the connection stays
// usable. lastErrorText() describes the last call: commands (never the login arguments), the
// server's replies (literal data shown only by its size), TLS errors, time-outs.
//
// Handlers that run during a call (through the notifications or any other event) may call
// disconnect() or connect(): the running call then fails cleanly. Any other call made while one
// is already using the connection is refused. Even destroying the client during a call is safe:
// the call returns its failure without touching the destroyed object.
class ImapClient : public QObject {
    Q_OBJECT
public:
    enum class State { NotConnected, Connected, Authenticated, Selected };

    // A fetched message as the server sent it.
    struct RawMessage {
        QByteArray bytes;
        QDateTime internalDate; // invalid when the server gave none or an unreadable one
    };

    explicit ImapClient(QObject* parent = nullptr);
    ~ImapClient() override;

    // Makes the transport of every later connect; unset (the default) is a QSslSocket that
    // verifies the server's certificate.
    using TransportFactory = std::function<std::unique_ptr<ImapTransport>()>;
    void setTransportFactory(TransportFactory factory);
    // The clock for time-outs, abort checks and waiting; null restores the system's clock.
    void setClock(std::shared_ptr<Clock> clock);

    void setSsl(bool ssl);
    void setPort(int port);
    // Extra trusted CA certificates (PEM file) beside the system's store; empty for none.
    void setCaCertificatesFile(const QString& pemPath);
    // Longest silence accepted while connecting or waiting for data (default 30 s).
    void setTimeoutMs(int ms);

    // After a PREAUTH greeting the connection is already signed in (state Authenticated): login
    // and loginXOAuth2 then send nothing and succeed.
    int connect(const QString& host);
    // A connect to `host` is about to come (a retrieval reconnects right after counting the
    // folder): its connection starts now, with the present TLS, port and CA settings, so that its
    // TCP and TLS handshakes run meanwhile. Nothing is sent on it; the next connect to the same
    // host with the same settings within a few seconds takes it, every other connect opens its
    // own. Silent: no log, no last error.
    void prepareConnect(const QString& host);
    QString sendRawCommand(const QString& command);
    int login(const QString& user, const QString& password);
    // Signs in with an OAuth 2.0 access token (SASL mechanism XOAUTH2). The credentials go with
    // the command when the server offers SASL-IR, otherwise after its continuation request. A
    // refusal that the server explains in a continuation (base64 of a JSON text) is answered with
    // an empty line; lastErrorText() then shows the explanation decoded, never the token. User
    // names or tokens holding CR, LF, NUL or ^A are refused without sending anything.
    int loginXOAuth2(const QString& user, const QString& accessToken);
    int selectMailbox(const QString& mailbox); // read-only (EXAMINE)
    int numMessages() const;                   // EXISTS of the selected mailbox
    std::optional<MailMessage> fetchSingle(int number, bool isUid = false);
    // The same fetch, giving the message's bytes unread.
    std::optional<RawMessage> fetchRaw(int number, bool isUid = false);
    std::optional<QStringList> listMailboxes(const QString& reference, const QString& pattern);
    // The same listing with each mailbox's hierarchy delimiter and attributes (\Noselect, \Sent...).
    std::optional<std::vector<MailboxEntry>> listMailboxEntries(const QString& reference,
                                                                const QString& pattern);
    QString lastErrorText() const;
    // Why the last call failed (kind None after a success).
    ImapFailure lastFailure() const;
    // The texts of [ALERT] responses received since the last take, oldest first, each once.
    QStringList takeAlerts();

    // A hint before a walk through message numbers first..last, one fetchSingle after the other:
    // fetches are then sent ahead of the number asked for, several in flight, each still with
    // its own command, answer and lastErrorText(). Any other call ends the read-ahead first.
    // Given before selectMailbox(), the walk is for the mailbox selected then: its first
    // commands go out right behind the EXAMINE, without waiting for its answer.
    void setReadAhead(int first, int last);
    void clearReadAhead();
    //
    // The read-ahead asks for the sizes and MIME structures of the numbers ahead first; a message
    // with large parts besides its text and HTML bodies (attachments) is then fetched as its
    // header and those bodies only, and what fetchRaw() gives for it is a message rebuilt from
    // them that reads like the whole one. Anything unusual (a structure that cannot be read, a
    // refused part) fetches the whole message instead.
    // How far read-ahead may go: bytes of answers held at once (as the sizes tell, or at the
    // average size seen so far while they are unknown), and commands in flight. Defaults: 16 MB,
    // and 256 commands while sizes are unknown, no command limit while they are known; setting
    // the limits here bounds both.
    void setReadAheadLimits(int maxCommands, qint64 maxBytes);
    // Whether the read-ahead asks for sizes and structures first (default: yes); without, every
    // message is fetched whole.
    void setStructureFirst(bool on);

    // The server's capabilities as it last announced them: in its greeting, in a CAPABILITY
    // response code (servers add one to the answer of a sign-in) or in a CAPABILITY reply. A
    // sign-in makes the earlier announcement void. When nothing is known for the present state,
    // the server is asked with CAPABILITY, a call of its own that lastErrorText() describes.
    // Empty when not connected, while another call uses the connection, or when asking failed.
    QStringList capabilities();
    bool hasCapability(const QString& name); // case-insensitive
    int disconnect();

    void bindEvents(ImapEventSink* sink);
    void unbindEvents(ImapEventSink* sink); // only when it is the bound one

    // NotConnected until a greeting was accepted; Selected after a successful selectMailbox.
    State state() const;

private:
    // Shared with every running call, which keeps it alive until it has unwound.
    std::shared_ptr<ImapConnection> d;
};
