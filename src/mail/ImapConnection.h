#pragma once

#include "mail/ImapCall.h"
#include "mail/ImapClient.h"
#include "mail/ImapCommand.h"
#include "mail/ImapFailure.h"
#include "mail/ImapOutcome.h"
#include "mail/ImapReadAhead.h"
#include "mail/ImapResponseParser.h"
#include "mail/ImapTransport.h"

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Clock;
class ImapEventSink;

// The IMAP client's connection: the transport and its reader, the tags, the waits (time-out,
// abort checks, progress), the skipping of abandoned answers, the limits on what a server may
// send, and the state the server's untagged data keeps up to date. The command units drive it;
// ImapClient shares it with every running call. Its state is its own: the units read it and
// change it only through the operations below (the settings, the server's state, the commands
// and their answers); ImapCallScope keeps the bookkeeping of the calls.
class ImapConnection {
public:
    ImapConnection();
    ~ImapConnection();

    // Chosen by ImapClient's owner before the calls; the units and the waits read them.
    struct Settings {
        bool ssl = false;
        int port = 0;
        QString caFile;
        int timeoutMs = 30000;
        ImapClient::TransportFactory transportFactory;
        std::shared_ptr<Clock> clock;
    };
    Settings& settings() { return m_settings; }
    const Settings& settings() const { return m_settings; }
    void bindSink(ImapEventSink* sink) { m_sink = sink; }
    ImapEventSink* sink() const { return m_sink; }
    // The client is going away: no sink any more, the connection closed, and every call still
    // running fails without touching the client.
    void clientDestroyed();

    // What the server and the connection's history say, read by the units.
    ImapClient::State state() const { return m_state; }
    bool connected() const { return bool(m_transport); }
    // Connected, and the socket not closed by the server yet.
    bool transportUp() const;
    int exists() const { return m_exists; }
    const QStringList& capabilities() const { return m_capabilities; }
    bool capabilitiesKnown() const { return m_capabilitiesKnown; }
    quint64 capabilitiesAnnounced() const { return m_capabilitiesAnnounced; }
    bool announced(const QString& capability) const;
    bool reachedServer() const { return m_reachedServer; }
    // Whether the connection the call started on is still the current one.
    bool sameConnection(const ImapCall& call) const { return m_generation == call.generation; }
    QStringList takeAlerts();
    ImapReadAhead& readAhead() { return m_readAhead; }
    // How the last call went.
    const QString& lastError() const { return m_lastError; }
    const ImapFailure& lastFailure() const { return m_lastFailure; }

    // What the units' commands change. The host is that of the connect under way; a failure
    // names it.
    void setHost(const QString& host) { m_host = host; }
    // A new transport, started towards host:port; the old connection is gone by then. True when
    // it is the one opened ahead for this connect (openAhead), already under way.
    bool open(const QString& host, quint16 port, const QList<QSslCertificate>& extraAuthorities);
    // Starts the transport of a connect about to come, beside the present connection: the next
    // open with the same host, port, TLS and CA file within kAheadMs takes it, if it has not been
    // closed meanwhile. Replaces one opened ahead before, unless that one is the same and young.
    void openAhead(const QString& host, quint16 port, const QList<QSslCertificate>& extraAuthorities);
    static constexpr qint64 kAheadMs = 10000;
    void dropAhead() { m_ahead.reset(); }
    void closeConnection();
    // The server's greeting was accepted: Connected, or Authenticated after PREAUTH.
    void greeted(ImapClient::State state);
    // Before EXAMINE: a failed one leaves nothing selected.
    void leaveMailbox();
    void mailboxSelected() { m_state = ImapClient::State::Selected; }
    void signedIn(quint64 announcementsBefore);

    // Whether another call uses the connection (ImapCallScope keeps that bookkeeping).
    bool busyElsewhere() const;

    // Commands and their answers.
    QByteArray nextTag();
    bool send(ImapCall& call, const QByteArray& bytes);
    bool ensureUsable(ImapCall& call);
    ImapOutcome runCommand(ImapCall& call, const ImapCommand& command);
    // The command whose answer is awaited, for an abandoned call to skip its rest; `sent` once it
    // went out whole.
    void setInFlight(const QByteArray& tag, bool sent);
    void clearInFlight() { setInFlight({}, false); }
    // Answers of abandoned commands still to be skipped before the next command.
    bool skippingAnswers() const { return !m_abandonedTags.isEmpty(); }
    // An answer that has passed needs no skipping later.
    void answerPassed(const QByteArray& tag) { m_abandonedTags.removeAll(tag); }
    // Ends a read-ahead before another command: its answers still to come are skipped.
    void endReadAhead();
    ImapOutcome completion(const ImapResponse& response);
    // Runs the event loop until `handle` accepts a response; see the .cpp. `logReplies` false leaves
    // the log of replies to `handle`.
    bool waitFor(ImapCall& call, const std::function<bool(const ImapResponse&)>& handle, int deadlineMs = -1,
                 bool logReplies = true);
    // A NO or BAD answer: what the server said, for the caller to tell "busy" from "not there".
    void noteRefusal(ImapCall& call, const ImapOutcome& outcome);
    // The code and the text of a status response's line ("A001 NO [UNAVAILABLE] Busy.").
    static void statusParts(const QByteArray& line, QByteArray& code, QString& text);

private:
    friend class ImapCallScope; // the call bookkeeping below

    bool stillOurs(ImapCall& call);
    void abandon(ImapCall& call);
    void noteDrop(ImapCall& call);
    bool raisePercent(ImapCall& call, int percent);
    void observe(ImapCall& call, const ImapResponse& response, bool logReply = true);
    bool reportProgress(ImapCall& call);
    bool abortRequested(ImapCall& call, bool& failed);

    Settings m_settings;
    ImapEventSink* m_sink = nullptr;
    bool m_destroyed = false;

    // Connection
    std::unique_ptr<ImapTransport> m_transport;
    std::vector<std::unique_ptr<ImapTransport>> m_retired; // closed during a call, deleted after it
    // The transport opened ahead of a connect, and what it was opened for.
    struct Ahead {
        std::unique_ptr<ImapTransport> transport;
        QString host;
        quint16 port = 0;
        bool ssl = false;
        QString caFile;
        qint64 openedAt = 0;
    };
    std::optional<Ahead> m_ahead;
    // The transport opened ahead when it fits a connect to host:port now; nothing otherwise.
    std::unique_ptr<ImapTransport> takeAhead(const QString& host, quint16 port);
    // Opened for host:port with the present settings, no older than maxAgeMs, and not closed.
    bool aheadFits(const Ahead& ahead, const QString& host, quint16 port, qint64 maxAgeMs) const;
    // From the factory tests set, or a QSslSocket.
    std::unique_ptr<ImapTransport> newTransport() const;
    quint64 m_generation = 0; // changes whenever the connection is closed or replaced
    ImapResponseParser m_parser;
    ImapClient::State m_state = ImapClient::State::NotConnected;
    int m_tagCounter = 0;
    QByteArray m_inFlightTag;
    bool m_inFlightSent = false;
    QList<QByteArray> m_abandonedTags; // sent, answers still to come, their callers gone
    ImapReadAhead m_readAhead;
    int m_exists = 0;
    QStringList m_capabilities;
    bool m_capabilitiesKnown = false;
    quint64 m_capabilitiesAnnounced = 0; // counts announcements, so a call sees whether one came
    QString m_host;                      // of the last connect
    bool m_reachedServer = false;        // the last connect got as far as a connection
    bool m_preauthenticated = false;     // greeted with PREAUTH
    bool m_saidBye = false;              // the server said BYE on this connection
    QString m_byeText;                   // and these words with it
    QStringList m_alerts;                // [ALERT] texts not taken yet
    ImapFailure m_lastFailure;

    // Calls
    int m_callDepth = 0;
    bool m_busy = false;
    quint64 m_busyGeneration = 0;
    QString m_lastError;
};
