#pragma once

#include "mail/ImapClient.h"
#include "mail/ImapFetch.h"
#include "mail/ImapOutcome.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <optional>

class ImapConnection;
struct ImapCall;
struct ImapResponse;

// Read-ahead for a walk through a range of message numbers, one fetch after the other: several
// single-message FETCH commands are kept in flight ahead of the number being asked for, so the
// walk is not held up by one round trip per message. Every message still has its own command,
// its own tagged answer and its own log; the caller sees exactly what single fetches give.
//
// The number of commands ahead (the window) starts small and grows by one with every answer,
// up to a cap, and never beyond what the byte budget allows for answers of the average size
// seen so far. An abandoned fetch stops the read-ahead: nothing more is sent, its own answer is
// skipped as it comes, and the fetches already sent still serve the numbers after it. A fetch
// for another number, or any other command, ends the read-ahead; answers still on their way
// are then skipped before that command.
class ImapReadAhead {
public:
    static constexpr int kInitialWindow = 4;
    static constexpr int kDefaultMaxCommands = 256;
    static constexpr qint64 kDefaultMaxBytes = qint64(16) * 1024 * 1024;

    void setRange(int first, int last);
    void setLimits(int maxCommands, qint64 maxBytes);

    // True when `number` is the one the walk expects next.
    bool serves(int number, bool isUid) const;
    std::optional<ImapClient::RawMessage> fetch(ImapConnection& d, ImapCall& call, int number);

    // Marks the fetch with this tag abandoned and sends nothing more ahead; false when the tag
    // is not one of the read-ahead's.
    bool abandon(const QByteArray& tag);
    // Ends the read-ahead; the tags of the commands still unanswered, oldest first.
    QList<QByteArray> stop();
    // Forgets everything (the connection is gone).
    void reset();

    int window() const { return m_window; }
    int inFlightCount() const { return int(m_entries.size()); }

private:
    struct Entry {
        int number = 0;
        QByteArray tag;
        ImapFetch::Data data;
        bool unreadable = false;
        bool done = false;
        bool abandoned = false;
        QByteArray status;
        QByteArray tagged; // the tagged answer's line, for the reason of a refusal
        QList<QByteArray> replies; // summaries for the message's own log
    };

    bool topUp(ImapConnection& d, ImapCall& call);
    void handle(ImapConnection& d, ImapCall& call, const ImapResponse& response, bool& stray);
    Entry* entryForNumber(qint64 number);
    Entry* entryForTag(const QByteArray& tag);
    Entry* waitingEntry(int number);
    int allowedInFlight() const;

    std::deque<Entry> m_entries;
    bool m_active = false;
    bool m_stopped = false; // nothing more is sent ahead
    int m_last = -1;
    int m_expected = 0;
    int m_nextToSend = 0;
    int m_window = kInitialWindow;
    int m_maxCommands = kDefaultMaxCommands;
    qint64 m_maxBytes = kDefaultMaxBytes;
    qint64 m_answeredBytes = 0;
    int m_answered = 0;
};
