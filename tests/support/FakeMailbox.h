#pragma once

#include "support/ScriptedImapServer.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// An IMAP account served through ScriptedImapServer's responder mode, for tests whose client talks
// for an unknown length: it greets every connection and answers ID, LOGIN, LIST, EXAMINE,
// FETCH n (BODY.PEEK[] INTERNALDATE) (also a partial BODY.PEEK[]<origin.length>) and LOGOUT the way Dovecot
// does, on any number of connections and as often as asked. Each folder holds generated messages
// (MessageGenerator::plain(n)); the answer to a FETCH can be sent slowly, in chunks, so that every fetch
// takes a while and the client keeps waiting (and yielding) inside it.
class FakeMailbox {
public:
    // A folder as the client selects it ("Inbox", "Drafts"...), holding messages 1..count.
    // A folder that was never added cannot be selected (EXAMINE answers NO). LIST shows each
    // with \HasNoChildren and `attributes` ("\Sent"), its name in modified UTF-7.
    void addFolder(const QString& name, int count, const QString& attributes = QString());
    // FETCH answers go out chunkSize bytes every intervalMs (0: at once).
    void setSlowFetch(int chunkSize, int intervalMs);
    // The same for every other answer and the greeting (connect, login, count, listing).
    void setSlowAnswers(int chunkSize, int intervalMs);

    // Starts answering on `server` (which must be new: the responder replaces its script).
    void serve(ScriptedImapServer& server);

    // Runs as each client line arrives, before it is answered: the moment to act while the client
    // waits for that answer.
    std::function<void(const QString& line)> onCommand;
    // Runs after onCommand with the connection's number and the line: an answer it gives replaces
    // the mailbox's own (a refusal, a BYE, a dropped connection).
    std::function<std::optional<ScriptedImapServer::Reply>(int connection, const QString& line)>
        answerInstead;

    // What the clients sent, over all connections (the LOGIN arguments included).
    const QStringList& commands() const { return m_commands; }
    int count(const QString& verb) const; // commands with this verb (upper case), e.g. "FETCH"
    // Lines the mailbox could not make sense of (a client speaking out of turn, say).
    const QStringList& protocolErrors() const { return m_errors; }

private:
    struct Connection {
        bool authenticated = false;
        QString selected; // empty while nothing is selected
    };
    ScriptedImapServer::Reply answer(int connection, const QByteArray& line);
    ScriptedImapServer::Reply slowly(ScriptedImapServer::Reply reply) const;

    QMap<QString, int> m_folders;
    QMap<QString, QString> m_attributes;
    QHash<int, Connection> m_connections;
    int m_chunkSize = 0;
    int m_intervalMs = 0;
    int m_answerChunkSize = 0;
    int m_answerIntervalMs = 0;
    QStringList m_commands;
    QStringList m_errors;
};
