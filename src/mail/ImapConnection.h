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
#include <vector>

class Clock;
class ImapEventSink;

// The IMAP client's connection: the transport and its reader, the tags, the waits (time-out,
// abort checks, progress), the skipping of abandoned answers, the limits on what a server may
// send, and the state the server's untagged data keeps up to date. The command units drive it;
// ImapClient shares it with every running call.
class ImapConnection {
public:
    ImapConnection();
    ~ImapConnection();

    // Settings
    bool ssl = false;
    int port = 0;
    QString caFile;
    int timeoutMs = 30000;
    ImapEventSink* sink = nullptr;
    bool destroyed = false;
    ImapClient::TransportFactory transportFactory;
    std::shared_ptr<Clock> clock;

    // Connection
    std::unique_ptr<ImapTransport> transport;
    std::vector<std::unique_ptr<ImapTransport>> retired; // closed during a call, deleted after it
    quint64 generation = 0; // changes whenever the connection is closed or replaced
    ImapResponseParser parser;
    ImapClient::State state = ImapClient::State::NotConnected;
    int tagCounter = 0;
    QByteArray inFlightTag;
    bool inFlightSent = false;
    QList<QByteArray> abandonedTags; // sent, answers still to come, their callers gone
    ImapReadAhead readAhead;
    int exists = 0;
    QStringList capabilities;
    bool capabilitiesKnown = false;
    quint64 capabilitiesAnnounced = 0; // counts announcements, so a call sees whether one came
    QString host;                      // of the last connect
    bool reachedServer = false;        // the last connect got as far as a connection
    bool preauthenticated = false;     // greeted with PREAUTH
    bool saidBye = false;              // the server said BYE on this connection
    QString byeText;                   // and these words with it
    QStringList alerts;                // [ALERT] texts not taken yet
    ImapFailure lastFailure;

    // Calls
    int callDepth = 0;
    bool busy = false;
    quint64 busyGeneration = 0;
    QString lastError;

    // A new transport, started towards host:port; the old connection is gone by then.
    void open(const QString& host, quint16 port, const QList<QSslCertificate>& extraAuthorities);
    void closeConnection();
    bool busyElsewhere() const;
    bool refuseIfBusy(ImapCall& call);
    bool stillOurs(ImapCall& call);
    QByteArray nextTag();
    bool send(ImapCall& call, const QByteArray& bytes);
    bool ensureUsable(ImapCall& call);
    ImapOutcome runCommand(ImapCall& call, const ImapCommand& command);
    // Ends a read-ahead before another command: its answers still to come are skipped.
    void endReadAhead();
    ImapOutcome completion(const ImapResponse& response);
    bool announced(const QString& capability) const;
    void signedIn(quint64 announcementsBefore);
    // Runs the event loop until `handle` accepts a response; see the .cpp.    // `logReplies` false leaves
    // the log of replies to `handle`.
    bool waitFor(ImapCall& call, const std::function<bool(const ImapResponse&)>& handle, int deadlineMs = -1,
                 bool logReplies = true);
    void abandon(ImapCall& call);
    void noteDrop(ImapCall& call);
    bool raisePercent(ImapCall& call, int percent);
    // A NO or BAD answer: what the server said, for the caller to tell "busy" from "not there".
    void noteRefusal(ImapCall& call, const ImapOutcome& outcome);
    // After a PREAUTH greeting a sign-in sends nothing (it would be a protocol error).
    bool alreadySignedIn(ImapCall& call);
    // The code and the text of a status response's line ("A001 NO [UNAVAILABLE] Busy.").
    static void statusParts(const QByteArray& line, QByteArray& code, QString& text);

private:
    void observe(ImapCall& call, const ImapResponse& response, bool logReply = true);
    bool reportProgress(ImapCall& call);
    bool abortRequested(ImapCall& call, bool& failed);
};
