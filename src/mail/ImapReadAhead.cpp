#include "mail/ImapReadAhead.h"

#include "mail/ImapConnection.h"
#include "mail/ImapEventSink.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"

#include <algorithm>

namespace {

constexpr int kMaxRepliesPerMessage = 40;
constexpr int kMaxLoggedReplyChars = 300;

QByteArray fetchCommand(int number)
{
    return "FETCH " + QByteArray::number(number) + " (BODY.PEEK[] INTERNALDATE)";
}

} // namespace

void ImapReadAhead::setRange(int first, int last)
{
    m_active = first >= 0 && first <= last;
    m_stopped = false;
    m_last = last;
    m_expected = first;
    m_nextToSend = first;
    m_window = kInitialWindow;
    m_answered = 0;
    m_answeredBytes = 0;
}

void ImapReadAhead::setLimits(int maxCommands, qint64 maxBytes)
{
    m_maxCommands = qMax(1, maxCommands);
    m_maxBytes = qMax<qint64>(1, maxBytes);
    m_window = qMin(m_window, m_maxCommands);
}

bool ImapReadAhead::serves(int number, bool isUid) const
{
    if (!m_active || isUid || number != m_expected)
        return false;
    if (number < m_nextToSend)
        return true; // already asked for
    return !m_stopped && number == m_nextToSend && number <= m_last;
}

bool ImapReadAhead::abandon(const QByteArray& tag)
{
    Entry* entry = entryForTag(tag);
    if (!entry)
        return false;
    entry->abandoned = true;
    entry->data = {};
    entry->replies.clear();
    m_stopped = true;
    m_expected = entry->number + 1;
    return true;
}

QList<QByteArray> ImapReadAhead::stop()
{
    QList<QByteArray> tags;
    for (const Entry& entry : m_entries) {
        if (!entry.done)
            tags.append(entry.tag);
    }
    m_entries.clear();
    m_active = false;
    return tags;
}

void ImapReadAhead::reset()
{
    m_entries.clear();
    m_active = false;
}

// Commands in flight that the window and the byte budget allow: answers of the average size
// seen so far must fit the budget together.
int ImapReadAhead::allowedInFlight() const
{
    int allowed = qMin(m_window, m_maxCommands);
    if (m_answered > 0) {
        const qint64 average = qMax<qint64>(1, m_answeredBytes / m_answered);
        allowed = int(qMin<qint64>(allowed, qMax<qint64>(1, m_maxBytes / average)));
    }
    return allowed;
}

bool ImapReadAhead::topUp(ImapConnection& d, ImapCall& call)
{
    // A wide window is refilled in steps of a sixteenth of it, not after every answer: one
    // write (one TLS record) per step instead of one per message, while fifteen sixteenths of
    // the window stay in flight.
    const int allowed = allowedInFlight();
    const int room = allowed - int(m_entries.size());
    const int remaining = m_last - m_nextToSend + 1;
    if (room <= 0 || (room < qMax(1, allowed / 16) && room < remaining && !m_entries.empty()))
        return true;
    QByteArray batch;
    while (!m_stopped && int(m_entries.size()) < allowed && m_nextToSend <= m_last) {
        Entry entry;
        entry.number = m_nextToSend++;
        entry.tag = d.nextTag();
        batch += entry.tag + ' ' + fetchCommand(entry.number) + "\r\n";
        m_entries.push_back(std::move(entry));
    }
    // Everything in one write: the commands leave together.
    return batch.isEmpty() || d.send(call, batch);
}

ImapReadAhead::Entry* ImapReadAhead::entryForNumber(qint64 number)
{
    for (Entry& entry : m_entries) {
        if (entry.number == number && !entry.done)
            return &entry;
    }
    return nullptr;
}

ImapReadAhead::Entry* ImapReadAhead::entryForTag(const QByteArray& tag)
{
    for (Entry& entry : m_entries) {
        if (entry.tag == tag && !entry.done)
            return &entry;
    }
    return nullptr;
}

ImapReadAhead::Entry* ImapReadAhead::waitingEntry(int number)
{
    for (Entry& entry : m_entries) {
        if (entry.number == number && !entry.abandoned)
            return &entry;
    }
    return nullptr;
}

// Sorts one response to the message it belongs to.
void ImapReadAhead::handle(ImapConnection& d, ImapCall& call, const ImapResponse& response, bool& stray)
{
    const QByteArray tag = response.tag();
    if (tag == "+") {
        stray = true;
        return;
    }
    Entry* entry = nullptr;
    if (tag == "*") {
        ImapResponseReader reader(response);
        const ImapResponseHead head = ImapResponseHead::read(reader);
        if (head.word == "FETCH" && head.number >= 0)
            entry = entryForNumber(head.number);
        if (entry && !entry->abandoned && !ImapFetch::read(response, entry->number, false, entry->data))
            entry->unreadable = true;
    } else {
        entry = entryForTag(tag);
        if (!entry)
            d.abandonedTags.removeAll(tag); // an answer skipped already needs no skipping later
        if (entry) {
            ImapResponseReader reader(response);
            entry->status = ImapResponseHead::read(reader).word;
            entry->tagged = response.raw();
            entry->done = true;
        }
    }
    if (!entry || entry->abandoned) {
        // Not a waiting message's own: mailbox news (EXISTS, EXPUNGE), notices, unknown tags,
        // the skipped answer of an abandoned fetch.
        call.log.noteReply(response);
    } else if (entry->replies.size() < kMaxRepliesPerMessage) {
        entry->replies.append(response.summary(kMaxLoggedReplyChars));
    }
}

std::optional<ImapClient::RawMessage> ImapReadAhead::fetch(ImapConnection& d, ImapCall& call, int number)
{
    if (!d.transport || d.state == ImapClient::State::NotConnected || !d.abandonedTags.isEmpty()) {
        if (!d.ensureUsable(call))
            return std::nullopt;
    }
    // A server that has gone may still have answered: what came before it went is served.
    if (d.transport->state() == QAbstractSocket::ConnectedState && !topUp(d, call))
        return std::nullopt;
    Entry* waiting = waitingEntry(number);
    if (!waiting) {
        call.note(QStringLiteral("No read-ahead fetch for %1.").arg(number)); // cannot happen
        return std::nullopt;
    }
    const QByteArray tag = waiting->tag;
    call.note(QStringLiteral("Sent: %1 %2")
                  .arg(QString::fromLatin1(tag), QString::fromLatin1(fetchCommand(number))));
    call.progress = true;
    call.progressMessage = number;
    d.inFlightTag = tag;
    d.inFlightSent = true;
    bool stray = false;
    const auto answered = [&] {
        const Entry* entry = waitingEntry(number);
        return !entry || entry->done;
    };
    if (!answered() && !d.waitFor(
                           call,
                           [&](const ImapResponse& r) {
                               handle(d, call, r, stray);
                               return stray || answered();
                           },
                           -1, false))
        return std::nullopt; // closed, timed out or abandoned: dealt with already
    if (stray) {
        call.note(QStringLiteral("The server asked for more command data; the connection is closed."));
        d.closeConnection();
        return std::nullopt;
    }
    d.inFlightTag.clear();
    d.inFlightSent = false;

    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry& e) { return e.number == number && !e.abandoned; });
    if (it == m_entries.end()) {
        // A handler that ran meanwhile ended the read-ahead; the answer is skipped with the rest.
        call.note(QStringLiteral("The read-ahead was ended during the call."));
        return std::nullopt;
    }
    Entry entry = std::move(*it);
    m_entries.erase(it);
    // Abandoned fetches whose answers have passed are done with.
    while (!m_entries.empty() && m_entries.front().abandoned && m_entries.front().done)
        m_entries.pop_front();
    m_expected = number + 1;
    ++m_answered;
    m_answeredBytes += entry.data.body ? entry.data.body->size() : 0;
    m_window = qMin(m_window + 1, m_maxCommands);
    if (m_stopped && m_entries.empty())
        m_active = false;
    for (const QByteArray& reply : entry.replies)
        call.log.noteReceived(reply);

    if (entry.status != "OK") {
        call.note(QStringLiteral("The server refused the fetch."));
        d.noteRefusal(call, ImapOutcome{true, entry.status, entry.tagged, entry.unreadable});
        return std::nullopt;
    }
    return ImapFetch::finish(d, call, entry.data, entry.unreadable);
}
