#pragma once

#include "mail/ImapClient.h"
#include "mail/ImapFetch.h"
#include "mail/ImapOutcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>

#include <deque>
#include <optional>
#include <utility>

class ImapConnection;
struct ImapCall;
struct ImapResponse;

// Read-ahead for a walk through a range of message numbers, one fetch after the other: fetch
// commands are kept in flight ahead of the number being asked for, so the walk is not held up by
// one round trip per message. Every message has its own log and the caller sees what single
// fetches give; consecutive small messages of known size share one command (kRangeNumbers), and a
// message that the shared command leaves without data is fetched on its own.
//
// Structure first: ahead of the message fetches, the size and MIME structure of the numbers to
// come are asked for in ranges (FETCH a:b (RFC822.SIZE BODYSTRUCTURE)). A message whose parts
// besides its text and HTML bodies are large (an attachment) is then fetched as its header and
// those bodies only (BODY.PEEK[HEADER], BODY.PEEK[n.MIME], BODY.PEEK[n]) and rebuilt into a
// message that reads like the whole one; every other message is fetched whole. A structure that
// cannot be read, a refused structure fetch, a refused part fetch or parts that cannot be rebuilt
// fall back to the whole message for that number, within the same call.
//
// The first ranges of a walk are not waited for: in the same write as their structure commands go
// partial fetches of their numbers, FETCH n (BODY.PEEK[]<0.16384> INTERNALDATE) for each number of
// the first range and FETCH a:b (the same items) shared by consecutive numbers past it, as many as
// half the byte budget allows, so that the first message data comes back one round trip sooner and
// the walk reads it while the fetches planned from the structures are on their way. Each partial
// fetch follows the structure command of the range after its own, whose answer then comes in time
// for the fetches of that range to leave before the walk gets there. A message no larger than
// kSmallRest is always fetched whole, so an answer shorter than kSmallRest bytes is the whole
// message and serves as it (a number of a shared command as soon as its data is in). A structure
// that shows the message larger sends, as soon as it arrives, the rest of its bytes, FETCH n
// (BODY.PEEK[]<16384.size>), when the message is to be fetched whole (the two answers together are
// the message), or its parts when it is to be fetched in parts (the partial answer is then
// skipped). An answer of exactly kSmallRest bytes without a fetch of the rest, no answer, a
// refusal, data that cannot be read, or a rest that does not come as asked fetches the number as
// its structure says once that is in (whole when it is not known), within the same call: the first
// kSmallRest bytes cross the link twice only for a message fetched in parts, or when something went
// wrong.
//
// How much is in flight: with the sizes known, the bytes of the answers expected (at most the
// byte budget; one message at least); without them, a window of commands that starts small and
// grows by one with every answer, up to a cap, and never beyond what the byte budget allows for
// answers of the average size seen so far. An abandoned fetch stops the read-ahead: nothing more
// is sent, its own answer is skipped as it comes, and the fetches already sent still serve the
// numbers after it. A fetch for another number, or any other command, ends the read-ahead;
// answers still on their way are then skipped before that command.
class ImapReadAhead {
public:
    static constexpr int kInitialWindow = 4;
    static constexpr int kDefaultMaxCommands = 256;
    static constexpr qint64 kDefaultMaxBytes = qint64(16) * 1024 * 1024;
    // Numbers per structure command (fewer in the first, which the first message waits for), how
    // many of them may be unanswered, and how far ahead of the message fetches they reach: far
    // enough that their answers come before the fetches they allow are due. A server answers in
    // order, so a structure command sent behind a full byte budget of small messages (thousands
    // of them) is answered only after all of those: the structures asked for must reach further
    // ahead than the messages in flight, or the fetches wait for them and the link runs dry.
    static constexpr int kFirstStructureChunk = 50;
    static constexpr int kStructureChunk = 250;
    static constexpr int kMaxStructureFetches = 16;
    static constexpr int kStructureAhead = 1500;
    // Parts besides the bodies up to this size are fetched with them: the whole message. Also
    // the bytes asked for of a first range's message before its structure is known.
    static constexpr qint64 kSmallRest = 16 * 1024;
    // Consecutive messages no larger than kSmallRest, fetched whole, share one command up to this
    // many: a server answers one command for many numbers with far less work than one each, and
    // the tagged answers to read are fewer. Each message is still served as soon as its own data
    // is in; one that the shared command leaves without data is fetched again on its own.
    static constexpr int kRangeNumbers = 50;
    // Beyond the first range, the numbers whose first kSmallRest bytes fit in this share of the
    // byte budget are asked for in part too, in shared commands of kRangeNumbers: the walk reads
    // them while the fetches planned from the structures are on their way, instead of waiting a
    // round trip for those after the first range.
    static constexpr int kPartialBudgetShare = 2; // half the budget

    void setRange(int first, int last);
    // The range of a walk that has sent nothing yet, which then ends: a selection about to be
    // made takes it and opens it again right behind its EXAMINE.
    std::optional<std::pair<int, int>> takeUnstarted();
    // Starts the walk and sends its first commands (before the mailbox's size is known, the
    // walk's own end bounds them); false when sending failed.
    bool open(ImapConnection& d, ImapCall& call, int first, int last);
    // Commands in flight while sizes are unknown, and bytes of answers in flight; a command cap
    // set here also bounds the fetches of known size.
    void setLimits(int maxCommands, qint64 maxBytes);
    // Whether sizes and structures are asked for first (default: yes).
    void setStructureFirst(bool on) { m_structureFirst = on; }

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
    // What is known of a number's message before it is fetched.
    struct Plan {
        qint64 size = -1;           // RFC822.SIZE, -1 when not known
        bool inParts = false;       // the header and these sections instead of the whole message
        QList<QByteArray> sections; // the bodies' sections (none when the message has no body)
        qint64 partBytes = 0;       // their bytes
        qint64 expectedBytes() const;
    };
    struct Entry {
        int number = 0;
        QByteArray tag;
        QByteArray command; // without the tag
        bool inParts = false;
        bool partial = false;         // the first kSmallRest bytes, asked before the structure was known
        bool superseded = false;      // a partial fetch whose number is fetched as planned instead
        bool replacesPartial = false; // the planned fetch that took over from a partial one
        bool inRange = false;         // its command and tag are shared with the numbers next to it
        bool restOfPartial = false;   // the bytes after a partial answer, asked for up to `restAsked`
        qint64 restAsked = 0;
        QByteArray head;    // for the rest: the partial answer's bytes, once in
        QDateTime headDate; // and its INTERNALDATE
        QList<QByteArray> sections;
        qint64 expected = -1; // bytes of the answer expected, -1 when not known
        ImapFetch::Data data;
        bool unreadable = false;
        bool done = false;
        bool abandoned = false;
        QByteArray status;
        QByteArray tagged;         // the tagged answer's line, for the reason of a refusal
        QList<QByteArray> replies; // summaries for the message's own log
    };
    struct StructureFetch {
        int first = 0;
        int last = 0;
        QByteArray tag;
        bool done = false;
    };

    bool topUp(ImapConnection& d, ImapCall& call);
    void sendStructures(ImapConnection& d, QByteArray& batch);
    void sendPartials(ImapConnection& d, QByteArray& batch, int until);
    void sendReplanned(ImapConnection& d, QByteArray& batch);
    bool ready(int number) const;
    void handle(ImapConnection& d, ImapCall& call, const ImapResponse& response, bool& stray);
    bool handleStructure(const ImapResponse& response, qint64 number);
    Entry* entryForNumber(qint64 number);
    Entry* entryForTag(const QByteArray& tag);
    Entry* waitingEntry(int number);
    StructureFetch* structureForTag(const QByteArray& tag);
    int allowedInFlight() const;
    qint64 bytesInFlight() const;
    void count(const Entry& entry, int sign);
    Entry makeEntry(ImapConnection& d, int number, bool whole);
    bool fetchAgain(ImapConnection& d, ImapCall& call, int number, bool whole);
    bool fetchWholeInstead(ImapConnection& d, ImapCall& call, int number, const QString& why);
    Entry makePartialEntry(ImapConnection& d, int number);
    Entry* restEntry(int number);
    void abandonEntry(Entry& entry);
    bool waitForStructure(ImapConnection& d, ImapCall& call, int number, bool& stray);
    static std::optional<QByteArray> fromParts(const Entry& entry);

    std::deque<Entry> m_entries;
    qint64 m_knownBytes = 0; // expected bytes of the entries in flight whose size is known
    int m_unknownSizes = 0;  // entries in flight whose size is not known
    std::deque<StructureFetch> m_structures;
    QHash<int, Plan> m_plans;
    bool m_active = false;
    bool m_stopped = false; // nothing more is sent ahead
    bool m_structureFirst = true;
    bool m_structureRefused = false; // the server refused one: the rest of the walk goes whole
    bool m_topUpDue = false;         // structures have been answered since the last top-up
    int m_readyUpTo = -1;            // the structures of the numbers up to here have been answered
    int m_partialUpTo = -1;          // the numbers up to here are asked for in part before that
    int m_firstRangeEnd = -1;        // the first range's partial fetches are one per number
    QList<int> m_replan;             // asked for in part, known larger than that: fetched as planned
    QList<QByteArray> m_openTags;    // shared commands whose numbers were all served before their answer
    int m_first = 0;
    int m_nextStructure = 0;
    int m_structureEnd = -1; // the last number whose structure is asked for
    int m_last = -1;
    int m_expected = 0;
    int m_waitingFor = -1; // the number of the fetch now waiting
    int m_nextToSend = 0;
    int m_window = kInitialWindow;
    int m_maxCommands = kDefaultMaxCommands;
    bool m_commandCapSet = false;
    qint64 m_maxBytes = kDefaultMaxBytes;
    qint64 m_answeredBytes = 0;
    int m_answered = 0;
};
