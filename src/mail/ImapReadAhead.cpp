#include "mail/ImapReadAhead.h"

#include "mail/ImapBodyStructure.h"
#include "mail/ImapConnection.h"
#include "mail/ImapEventSink.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"
#include "mail/MessageFromParts.h"

#include <algorithm>

namespace {

constexpr int kMaxRepliesPerMessage = 40;
constexpr int kMaxLoggedReplyChars = 300;
// What a header and the parts' MIME headers are taken to add to the bodies' bytes.
constexpr qint64 kHeaderAllowance = 4096;

QByteArray wholeCommand(int number)
{
    return "FETCH " + QByteArray::number(number) + " (BODY.PEEK[] INTERNALDATE)";
}

QByteArray rangeCommand(int first, int last)
{
    return "FETCH " + QByteArray::number(first) + ':' + QByteArray::number(last) +
           " (BODY.PEEK[] INTERNALDATE)";
}

QByteArray partialCommand(int first, int last, qint64 bytes)
{
    const QByteArray range = first == last ? QByteArray::number(first)
                                           : QByteArray::number(first) + ':' + QByteArray::number(last);
    return "FETCH " + range + " (BODY.PEEK[]<0." + QByteArray::number(bytes) + "> INTERNALDATE)";
}

// The bytes of a message from `from` on, at most `count` of them.
QByteArray restCommand(int number, qint64 from, qint64 count)
{
    return "FETCH " + QByteArray::number(number) + " (BODY.PEEK[]<" + QByteArray::number(from) + '.' +
           QByteArray::number(count) + ">)";
}

QByteArray partsCommand(int number, const QList<QByteArray>& sections)
{
    QByteArray items = "BODY.PEEK[HEADER]";
    for (const QByteArray& section : sections)
        items += " BODY.PEEK[" + section + ".MIME] BODY.PEEK[" + section + ']';
    return "FETCH " + QByteArray::number(number) + " (" + items + " INTERNALDATE)";
}

QByteArray structureCommand(int first, int last)
{
    const QByteArray range = first == last ? QByteArray::number(first)
                                           : QByteArray::number(first) + ':' + QByteArray::number(last);
    return "FETCH " + range + " (RFC822.SIZE BODYSTRUCTURE)";
}

// Tags in the order they were made: the same prefix, then a counter.
bool sentBefore(const QByteArray& a, const QByteArray& b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

} // namespace

qint64 ImapReadAhead::Plan::expectedBytes() const
{
    if (size < 0)
        return -1;
    if (!inParts)
        return size;
    return qMin(size, partBytes + kHeaderAllowance);
}

void ImapReadAhead::setRange(int first, int last)
{
    m_active = first >= 0 && first <= last;
    m_topUpDue = false;
    m_stopped = false;
    m_structureRefused = false;
    m_entries.clear();
    m_knownBytes = 0;
    m_unknownSizes = 0;
    m_structures.clear();
    m_plans.clear();
    m_last = last;
    m_expected = first;
    m_nextToSend = first;
    m_nextStructure = first;
    m_readyUpTo = first - 1;
    m_partialUpTo = first - 1;
    m_firstRangeEnd = first - 1;
    m_replan.clear();
    m_openTags.clear();
    m_first = first;
    m_structureEnd = last;
    m_window = kInitialWindow;
    m_answered = 0;
    m_answeredBytes = 0;
}

void ImapReadAhead::setLimits(int maxCommands, qint64 maxBytes)
{
    m_maxCommands = qMax(1, maxCommands);
    m_commandCapSet = true;
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
    if (structureForTag(tag)) {
        // Abandoned while the structures it waited for were coming: nothing of its own was sent.
        m_stopped = true;
        m_expected = m_waitingFor + 1;
        return true;
    }
    // A shared command's tag stands for several numbers: the one abandoned is the one awaited.
    Entry* entry = nullptr;
    for (Entry& e : m_entries) {
        if (e.tag == tag && !e.done && e.number == m_waitingFor) {
            entry = &e;
            break;
        }
    }
    if (!entry)
        entry = entryForTag(tag);
    if (!entry)
        return false;
    const int number = entry->number;
    // The number's other fetch, the rest of a partial one, goes with it.
    for (Entry& e : m_entries) {
        if (e.number == number && !e.abandoned)
            abandonEntry(e);
    }
    m_stopped = true;
    m_expected = number + 1;
    return true;
}

// The entry's answer is skipped as it comes, in no message's log, and counts for no bytes.
void ImapReadAhead::abandonEntry(Entry& entry)
{
    count(entry, -1);
    entry.abandoned = true;
    entry.data = {};
    entry.replies.clear();
}

ImapReadAhead::Entry* ImapReadAhead::restEntry(int number)
{
    for (Entry& entry : m_entries) {
        if (entry.number == number && entry.restOfPartial && !entry.abandoned)
            return &entry;
    }
    return nullptr;
}

std::optional<std::pair<int, int>> ImapReadAhead::takeUnstarted()
{
    if (!m_active || !m_entries.empty() || !m_structures.empty() || m_nextToSend != m_first ||
        m_nextStructure != m_first)
        return std::nullopt;
    m_active = false;
    return std::make_pair(m_first, m_last);
}

bool ImapReadAhead::open(ImapConnection& d, ImapCall& call, int first, int last)
{
    setRange(first, last);
    return !m_active || topUp(d, call);
}

QList<QByteArray> ImapReadAhead::stop()
{
    QList<QByteArray> tags;
    for (const Entry& entry : m_entries) {
        if (!entry.done)
            tags.append(entry.tag);
    }
    for (const StructureFetch& structure : m_structures) {
        if (!structure.done)
            tags.append(structure.tag);
    }
    tags += m_openTags;
    std::sort(tags.begin(), tags.end(), sentBefore);
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end()); // shared commands once
    m_entries.clear();
    m_knownBytes = 0;
    m_unknownSizes = 0;
    m_structures.clear();
    m_plans.clear();
    m_replan.clear();
    m_openTags.clear();
    m_active = false;
    return tags;
}

void ImapReadAhead::reset()
{
    m_entries.clear();
    m_knownBytes = 0;
    m_unknownSizes = 0;
    m_structures.clear();
    m_plans.clear();
    m_replan.clear();
    m_openTags.clear();
    m_active = false;
}

// Commands in flight that the window and the byte budget allow while sizes are not known:
// answers of the average size seen so far must fit the budget together.
int ImapReadAhead::allowedInFlight() const
{
    int allowed = qMin(m_window, m_maxCommands);
    if (m_answered > 0) {
        const qint64 average = qMax<qint64>(1, m_answeredBytes / m_answered);
        allowed = int(qMin<qint64>(allowed, qMax<qint64>(1, m_maxBytes / average)));
    }
    return allowed;
}

// Bytes of the answers in flight or waiting to be taken: as expected where the size is known,
// otherwise at the average size seen so far.
qint64 ImapReadAhead::bytesInFlight() const
{
    const qint64 average = m_answered > 0 ? m_answeredBytes / m_answered : 0;
    // Kept up to date as entries come and go: thousands may be in flight, and this is asked
    // for every command sent.
    const qint64 bytes = m_knownBytes + m_unknownSizes * average;
#ifndef QT_NO_DEBUG
    qint64 counted = 0;
    for (const Entry& entry : m_entries) {
        if (!entry.abandoned)
            counted += entry.expected >= 0 ? entry.expected : average;
    }
    Q_ASSERT(counted == bytes);
#endif
    return bytes;
}

// Adds an entry's expected bytes to the ones in flight (sign 1) or takes them away (sign -1);
// abandoned entries count for nothing.
void ImapReadAhead::count(const Entry& entry, int sign)
{
    if (entry.abandoned)
        return;
    if (entry.expected >= 0)
        m_knownBytes += sign * entry.expected;
    else
        m_unknownSizes += sign;
}

bool ImapReadAhead::ready(int number) const
{
    return !m_structureFirst || m_structureRefused || number <= m_readyUpTo || number > m_structureEnd ||
           m_plans.contains(number);
}

ImapReadAhead::Entry ImapReadAhead::makeEntry(ImapConnection& d, int number, bool whole)
{
    const Plan plan = m_plans.take(number);
    Entry entry;
    entry.number = number;
    entry.tag = d.nextTag();
    if (!whole)
        entry.inParts = !whole && plan.inParts;
    if (entry.inParts)
        entry.sections = plan.sections;
    entry.command = entry.inParts ? partsCommand(number, entry.sections) : wholeCommand(number);
    entry.expected = whole ? plan.size : plan.expectedBytes();
    return entry;
}

ImapReadAhead::Entry ImapReadAhead::makePartialEntry(ImapConnection& d, int number)
{
    Entry entry;
    entry.number = number;
    entry.tag = d.nextTag();
    entry.partial = true;
    entry.command = partialCommand(number, number, kSmallRest);
    entry.expected = kSmallRest; // until the size is known
    return entry;
}

// Asks for the structures of the numbers ahead: at most two ranges unanswered at a time, none
// further than kStructureAhead past the message fetches.
void ImapReadAhead::sendStructures(ImapConnection& d, QByteArray& batch)
{
    if (!m_structureFirst || m_structureRefused || m_stopped)
        return;
    // Numbers past the mailbox's end are not asked for: servers refuse the whole range for them.
    m_structureEnd = d.exists() > 0 ? qMin(m_last, d.exists()) : m_last;
    // The partial fetches go out between the structure commands, not behind all of them: a
    // server works through a pipeline in order, so the first message data does not wait for all
    // the structures.
    while (m_nextStructure <= m_structureEnd && m_nextStructure < m_nextToSend + kStructureAhead) {
        const auto unanswered = std::count_if(m_structures.begin(), m_structures.end(),
                                              [](const StructureFetch& s) { return !s.done; });
        if (unanswered >= kMaxStructureFetches)
            break;
        // The first range is short: the first messages that need their structures wait for it.
        const bool firstRange = m_nextStructure == m_first;
        const int chunk = firstRange ? kFirstStructureChunk : kStructureChunk;
        StructureFetch structure;
        structure.first = m_nextStructure;
        structure.last = qMin(m_structureEnd, m_nextStructure + chunk - 1);
        if (firstRange) {
            m_firstRangeEnd = structure.last;
            const qint64 reach =
                qMax<qint64>(structure.last - m_first + 1, m_maxBytes / kPartialBudgetShare / kSmallRest);
            m_partialUpTo = int(qMin<qint64>(m_structureEnd, m_first + reach - 1));
        }
        structure.tag = d.nextTag();
        m_nextStructure = structure.last + 1;
        batch += structure.tag + ' ' + structureCommand(structure.first, structure.last) + "\r\n";
        m_structures.push_back(std::move(structure));
        // Partial fetches follow the structure command of the range after theirs, whose answer
        // then comes before their data, in time for the fetches after them to leave while they
        // are read.
        sendPartials(d, batch,
                     m_nextStructure > m_structureEnd ? m_structureEnd
                                                      : m_nextStructure - 1 - kStructureChunk);
    }
}

// The numbers of the first ranges leave with their structure commands, asked for in part: at most
// kSmallRest bytes of each cross the link before its structure says what the message needs. The
// first range's numbers have a command each, the later ones share commands.
void ImapReadAhead::sendPartials(ImapConnection& d, QByteArray& batch, int until)
{
    const int upTo = qMin(m_partialUpTo, until);
    while (!m_stopped && m_nextToSend <= upTo && m_nextToSend < m_nextStructure && !ready(m_nextToSend)) {
        if (!m_entries.empty() && (bytesInFlight() + kSmallRest > m_maxBytes ||
                                   (m_commandCapSet && int(m_entries.size()) >= m_maxCommands)))
            break;
        Entry entry = makePartialEntry(d, m_nextToSend++);
        count(entry, 1);
        m_entries.push_back(std::move(entry));
        if (m_entries.back().number <= m_firstRangeEnd) {
            batch += m_entries.back().tag + ' ' + m_entries.back().command + "\r\n";
            continue;
        }
        // Consecutive numbers past the first range share the command.
        const int first = m_entries.back().number;
        int last = first;
        while (last - first + 1 < kRangeNumbers && m_nextToSend <= upTo && m_nextToSend < m_nextStructure &&
               !ready(m_nextToSend) && bytesInFlight() + kSmallRest <= m_maxBytes &&
               !(m_commandCapSet && int(m_entries.size()) >= m_maxCommands)) {
            Entry member;
            member.number = m_nextToSend++;
            member.partial = true;
            member.expected = kSmallRest;
            member.tag = m_entries.back().tag;
            count(member, 1);
            m_entries.push_back(std::move(member));
            last = m_entries.back().number;
        }
        const QByteArray command = partialCommand(first, last, kSmallRest);
        for (auto it = m_entries.end() - (last - first + 1); it != m_entries.end(); ++it) {
            it->inRange = first != last;
            it->command = command;
        }
        batch += m_entries.back().tag + ' ' + command + "\r\n";
    }
}

// The numbers asked for in part whose structures show them larger than that, as far as the byte
// budget allows: a message to be fetched whole has the rest of its bytes asked for, to follow its
// partial answer; for one to be fetched in parts the partial answer is skipped and its parts are
// asked for. Those left over are fetched as planned when the walk gets to them.
void ImapReadAhead::sendReplanned(ImapConnection& d, QByteArray& batch)
{
    while (!m_stopped && !m_replan.isEmpty()) {
        const int number = m_replan.first();
        const auto partial = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
            return e.number == number && e.partial && !e.abandoned;
        });
        if (partial == m_entries.end() || !m_plans.contains(number)) {
            m_replan.removeFirst(); // taken by the walk already
            continue;
        }
        const Plan plan = m_plans.value(number);
        if (!plan.inParts) {
            const qint64 rest = plan.size - kSmallRest;
            if (bytesInFlight() + rest > m_maxBytes)
                return;
            m_replan.removeFirst();
            m_plans.remove(number);
            Entry entry;
            entry.number = number;
            entry.tag = d.nextTag();
            entry.restOfPartial = true;
            // Asked for up to the whole size: an answer that fills it shows a message larger
            // than its size said, which is then fetched whole.
            entry.restAsked = qMax<qint64>(1, plan.size);
            entry.command = restCommand(number, kSmallRest, entry.restAsked);
            entry.expected = rest;
            batch += entry.tag + ' ' + entry.command + "\r\n";
            count(entry, 1);
            m_entries.push_back(std::move(entry));
            continue;
        }
        if (bytesInFlight() - partial->expected + plan.expectedBytes() > m_maxBytes)
            return;
        abandonEntry(*partial);
        partial->superseded = true;
        m_replan.removeFirst();
        Entry entry = makeEntry(d, number, false);
        entry.replacesPartial = true;
        batch += entry.tag + ' ' + entry.command + "\r\n";
        count(entry, 1);
        m_entries.push_back(std::move(entry));
    }
}

bool ImapReadAhead::topUp(ImapConnection& d, ImapCall& call)
{
    QByteArray batch;
    sendStructures(d, batch);
    sendPartials(d, batch, m_nextStructure - 1); // those held back before
    sendReplanned(d, batch);
    const int allowed = allowedInFlight();
    const bool sized = m_nextToSend <= m_last && ready(m_nextToSend) && m_plans.value(m_nextToSend).size >= 0;
    bool refill = true;
    if (sized) {
        // Sizes known: refilled once a sixteenth of the budget is free, so that the commands
        // leave in few writes while the link stays full.
        refill = m_entries.empty() || m_maxBytes - bytesInFlight() >= m_maxBytes / 16;
    } else {
        // A wide window is refilled in steps of a sixteenth of it, not after every answer: one
        // write (one TLS record) per step instead of one per message, while fifteen sixteenths of
        // the window stay in flight.
        const int room = allowed - int(m_entries.size());
        const int remaining = m_last - m_nextToSend + 1;
        refill = !(room <= 0 || (room < qMax(1, allowed / 16) && room < remaining && !m_entries.empty()));
    }
    while (refill && !m_stopped && m_nextToSend <= m_last && ready(m_nextToSend)) {
        if (!m_entries.empty()) {
            const Plan plan = m_plans.value(m_nextToSend);
            if (plan.size >= 0) {
                if (bytesInFlight() + plan.expectedBytes() > m_maxBytes)
                    break;
                if (m_commandCapSet && int(m_entries.size()) >= m_maxCommands)
                    break;
            } else if (int(m_entries.size()) >= allowed) {
                break;
            }
        }
        Entry entry = makeEntry(d, m_nextToSend++, false);
        batch += entry.tag + ' ';
        const int first = entry.number;
        const bool small = !entry.inParts && entry.expected >= 0 && entry.expected <= kSmallRest;
        count(entry, 1);
        m_entries.push_back(std::move(entry));
        // The small messages fetched whole that follow share its command.
        int last = first;
        while (small && last - first + 1 < kRangeNumbers && m_nextToSend <= m_last && ready(m_nextToSend)) {
            const Plan next = m_plans.value(m_nextToSend);
            if (next.size < 0 || next.inParts || next.size > kSmallRest ||
                bytesInFlight() + next.size > m_maxBytes ||
                (m_commandCapSet && int(m_entries.size()) >= m_maxCommands))
                break;
            Entry member;
            member.number = m_nextToSend++;
            member.expected = m_plans.take(member.number).size;
            member.tag = m_entries.back().tag;
            count(member, 1);
            m_entries.push_back(std::move(member));
            last = m_entries.back().number;
        }
        if (last == first) {
            batch += m_entries.back().command + "\r\n";
            continue;
        }
        const QByteArray command = rangeCommand(first, last);
        for (auto it = m_entries.end() - (last - first + 1); it != m_entries.end(); ++it) {
            it->inRange = true;
            it->command = command;
        }
        batch += command + "\r\n";
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

ImapReadAhead::StructureFetch* ImapReadAhead::structureForTag(const QByteArray& tag)
{
    for (StructureFetch& structure : m_structures) {
        if (structure.tag == tag && !structure.done)
            return &structure;
    }
    return nullptr;
}

// Takes one message's size and structure when the response is that; false for anything else.
bool ImapReadAhead::handleStructure(const ImapResponse& response, qint64 number)
{
    const bool asked = std::any_of(m_structures.begin(), m_structures.end(), [&](const StructureFetch& s) {
        return !s.done && number >= s.first && number <= s.last;
    });
    if (!asked)
        return false;
    // Item by item: the structure of a message no larger than kSmallRest is stepped over unread,
    // since such a message is fetched whole whatever its parts are (when its size comes first,
    // as servers send the items in the order asked).
    ImapResponseReader reader(response);
    ImapResponseHead::read(reader);
    if (!reader.enterList())
        return false;
    std::optional<ImapValue> structureValue;
    qint64 size = -1;
    bool isStructure = false;
    while (!reader.leaveList()) {
        const QByteArray key = reader.readAtom().toUpper();
        reader.skipSpaces();
        if (key == "RFC822.SIZE") {
            const std::optional<ImapValue> value = reader.readValue();
            if (!value)
                return false;
            size = value->number();
            isStructure = true;
        } else if (key == "BODYSTRUCTURE") {
            isStructure = true;
            if (size >= 0 && size <= kSmallRest) {
                if (!reader.skipValue())
                    return false;
            } else if (!(structureValue = reader.readValue())) {
                return false;
            }
        } else if (key.isEmpty() || !reader.skipValue()) {
            return false;
        }
    }
    if (!isStructure)
        return false;
    Plan plan;
    plan.size = size;
    if (structureValue) {
        // What cannot be read is fetched whole.
        if (const std::optional<ImapBodyStructure> structure = ImapBodyStructure::read(*structureValue)) {
            if (const std::optional<QList<QByteArray>> sections =
                    structure->sectionsToFetch(size, kSmallRest);
                sections && size >= 0) {
                plan.inParts = true;
                plan.sections = *sections;
                plan.partBytes = structure->bytesOf(*sections);
            }
        }
    }
    // A number served already by its first bytes needs no plan.
    if (number < m_expected)
        return true;
    // Only the first range is asked for in part.
    for (Entry& entry : m_entries) {
        if (number > m_partialUpTo)
            break;
        if (entry.number != number || !entry.partial || entry.abandoned || size < 0)
            continue;
        count(entry, -1);
        entry.expected = qMin(kSmallRest, size);
        count(entry, 1);
        // Its first bytes cannot be the whole message: the fetch it needs leaves with the next
        // top-up, not a round trip after the walk gets to it.
        if (size >= kSmallRest && !m_replan.contains(int(number)))
            m_replan.append(int(number));
    }
    m_plans.insert(int(number), plan);
    return true;
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
        if (head.word == "FETCH" && head.number >= 0) {
            if (handleStructure(response, head.number))
                return; // kept for the fetch of that number; no message's log shows it
            entry = entryForNumber(head.number);
        }
        if (entry && !entry->abandoned && !ImapFetch::read(response, entry->number, false, entry->data))
            entry->unreadable = true;
    } else if (StructureFetch* structure = structureForTag(tag)) {
        structure->done = true;
        ImapResponseReader reader(response);
        if (ImapResponseHead::read(reader).word != "OK") {
            // The rest of the walk is fetched whole, the numbers of this range included.
            call.log.noteReply(response);
            call.note(QStringLiteral("The server refused the structure fetch; messages are fetched whole."));
            m_structureRefused = true;
        }
        while (!m_structures.empty() && m_structures.front().done) {
            m_readyUpTo = qMax(m_readyUpTo, m_structures.front().last);
            m_structures.pop_front();
        }
        m_topUpDue = true; // fetches may leave now, before the answer waited for is in
        return;
    } else {
        entry = entryForTag(tag);
        if (!entry) {
            d.answerPassed(tag); // an answer skipped already needs no skipping later
            m_openTags.removeAll(tag);
        }
        if (entry) {
            ImapResponseReader reader(response);
            const QByteArray status = ImapResponseHead::read(reader).word;
            const QByteArray tagged = response.raw();
            // Every number of a shared command has its answer now.
            for (Entry& e : m_entries) {
                if (e.tag == tag && !e.done) {
                    e.status = status;
                    e.tagged = tagged;
                    e.done = true;
                }
            }
        }
    }
    if (entry && entry->superseded) {
        // A partial answer that is not needed: no message's log shows it.
    } else if (!entry || entry->abandoned) {
        // Not a waiting message's own: mailbox news (EXISTS, EXPUNGE), notices, unknown tags,
        // the skipped answer of an abandoned fetch.
        call.log.noteReply(response);
    } else if (entry->replies.size() < kMaxRepliesPerMessage) {
        entry->replies.append(response.summary(kMaxLoggedReplyChars));
    }
}

// Waits for the answer of the structure range that holds `number`; false when the wait ended
// otherwise (closed, timed out, abandoned, or a stray continuation request: `stray`).
bool ImapReadAhead::waitForStructure(ImapConnection& d, ImapCall& call, int number, bool& stray)
{
    const auto rangeDone = [&] { return m_structureRefused || number <= m_readyUpTo; };
    d.setInFlight(m_structures.front().tag, true);
    if (!d.waitFor(
            call,
            [&](const ImapResponse& r) {
                handle(d, call, r, stray);
                return stray || rangeDone();
            },
            -1, false))
        return false;
    if (stray)
        return false;
    d.clearInFlight();
    m_topUpDue = false;
    return true;
}

// The message rebuilt from the fetched header and parts; nothing when a section is missing or
// the parts cannot be put together.
std::optional<QByteArray> ImapReadAhead::fromParts(const Entry& entry)
{
    const auto header = entry.data.sections.constFind("HEADER");
    if (header == entry.data.sections.constEnd() || header->isEmpty())
        return std::nullopt;
    QList<MessageFromParts::Part> parts;
    for (const QByteArray& section : entry.sections) {
        const auto mime = entry.data.sections.constFind(section + ".MIME");
        const auto body = entry.data.sections.constFind(section);
        if (mime == entry.data.sections.constEnd() || body == entry.data.sections.constEnd())
            return std::nullopt;
        parts.append({*mime, *body});
    }
    return MessageFromParts::assemble(*header, parts);
}

// Sends the fetch of a number once more, as planned or whole, ahead of the other entries: the
// call goes on waiting for it.
bool ImapReadAhead::fetchAgain(ImapConnection& d, ImapCall& call, int number, bool whole)
{
    Entry entry = makeEntry(d, number, whole);
    const QByteArray line = entry.tag + ' ' + entry.command + "\r\n";
    count(entry, 1);
    m_entries.push_front(std::move(entry));
    return d.send(call, line);
}

// Notes why and sends the whole message's fetch instead; false when the connection is gone or
// the command could not be sent.
bool ImapReadAhead::fetchWholeInstead(ImapConnection& d, ImapCall& call, int number, const QString& why)
{
    call.note(why);
    return d.transportUp() && fetchAgain(d, call, number, true);
}

std::optional<ImapClient::RawMessage> ImapReadAhead::fetch(ImapConnection& d, ImapCall& call, int number)
{
    if (!d.connected() || d.state() == ImapClient::State::NotConnected || d.skippingAnswers()) {
        if (!d.ensureUsable(call))
            return std::nullopt;
    }
    m_waitingFor = number;
    // A server that has gone may still have answered: what came before it went is served.
    if (d.transportUp() && !topUp(d, call))
        return std::nullopt;
    call.progress = true;
    call.progressMessage = number;
    bool stray = false;
    // A continuation request during a read-ahead asks for command data nobody is sending.
    const auto closeAfterStray = [&] {
        call.note(QStringLiteral("The server asked for more command data; the connection is closed."));
        d.closeConnection();
    };
    if (!waitingEntry(number) && !ready(number) && !m_structures.empty()) {
        // The number's structure is still on its way: wait for the answer of its whole range, so
        // that the fetches of all its numbers can leave together, then send them.
        if (!waitForStructure(d, call, number, stray)) {
            if (stray)
                closeAfterStray();
            return std::nullopt;
        }
        if (d.transportUp() && !topUp(d, call))
            return std::nullopt;
    }
    for (;;) {
        Entry* waiting = waitingEntry(number);
        if (!waiting) {
            call.note(QStringLiteral("No read-ahead fetch for %1.").arg(number)); // cannot happen
            return std::nullopt;
        }
        const QByteArray tag = waiting->tag;
        if (waiting->replacesPartial)
            call.note(QStringLiteral("The first %1 bytes are not the whole message; fetched as planned.")
                          .arg(kSmallRest));
        call.note(QStringLiteral("Sent: %1 %2")
                      .arg(QString::fromLatin1(tag), QString::fromLatin1(waiting->command)));
        d.setInFlight(tag, true);
        // The first bytes of a larger message say nothing of how far its fetch has come: no
        // progress while a partial answer for the number may be arriving.
        const bool partialAhead = waiting->partial || waiting->replacesPartial || waiting->restOfPartial;
        const auto partialPending = [&] {
            return std::any_of(m_entries.begin(), m_entries.end(),
                               [&](const Entry& e) { return e.number == number && e.partial && !e.done; });
        };
        call.progress = !partialAhead || !partialPending();
        // A number of a shared command is served as soon as its own data is in.
        const auto answered = [&] {
            const Entry* entry = waitingEntry(number);
            return !entry || entry->done ||
                   (entry->inRange && (entry->data.body.has_value() || entry->data.sections.contains("<0>")));
        };
        bool replaced = false; // the partial fetch waited for gave way to the planned one
        while (!answered()) {
            // Structures that arrive meanwhile let more fetches leave at once, not after this
            // answer: the link stays full.
            if (!d.waitFor(
                    call,
                    [&](const ImapResponse& r) {
                        handle(d, call, r, stray);
                        if (partialAhead && !call.progress)
                            call.progress = !partialPending();
                        return stray || answered() || m_topUpDue;
                    },
                    -1, false))
                return std::nullopt; // closed, timed out or abandoned: dealt with already
            if (stray)
                break;
            if (m_topUpDue && !answered()) {
                m_topUpDue = false;
                if (d.transportUp() && !topUp(d, call))
                    return std::nullopt;
                const Entry* now = waitingEntry(number);
                if (now && now->tag != tag) {
                    replaced = true;
                    break;
                }
            }
        }
        if (stray) {
            closeAfterStray();
            return std::nullopt;
        }
        if (replaced)
            continue;
        d.clearInFlight();

        const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                     [&](const Entry& e) { return e.number == number && !e.abandoned; });
        if (it == m_entries.end()) {
            // A handler that ran meanwhile ended the read-ahead; the answer is skipped with the rest.
            call.note(QStringLiteral("The read-ahead was ended during the call."));
            return std::nullopt;
        }
        const auto at = it - m_entries.begin();
        Entry entry = std::move(*it);
        m_entries.erase(it);
        count(entry, -1);
        // Served before the shared answer came: the answer is still due, and skipped if the walk
        // ends before it comes. The numbers of a shared command stay next to each other.
        const auto sharesTag = [&](qsizetype i) {
            return i >= 0 && i < qsizetype(m_entries.size()) && m_entries[size_t(i)].tag == entry.tag;
        };
        if (!entry.done && !sharesTag(at - 1) && !sharesTag(at) && !m_openTags.contains(entry.tag))
            m_openTags.append(entry.tag);
        // Abandoned fetches whose answers have passed are done with.
        while (!m_entries.empty() && m_entries.front().abandoned && m_entries.front().done)
            m_entries.pop_front();
        for (const QByteArray& reply : entry.replies)
            call.log.noteReceived(reply);

        if (entry.partial) {
            m_replan.removeOne(number);
            const auto first = entry.data.sections.constFind("<0>");
            // A number of a shared command whose data came is answered, whatever the shared answer.
            const bool refused =
                entry.status != "OK" && !(entry.inRange && first != entry.data.sections.constEnd());
            const bool readable = !refused && !entry.unreadable && first != entry.data.sections.constEnd();
            Entry* rest = restEntry(number);
            if (rest && readable && first->size() == kSmallRest) {
                // The rest of the message is on its way: the two answers together are it.
                rest->head = *first;
                rest->headDate = entry.data.internalDate;
                continue;
            }
            if (rest)
                abandonEntry(*rest); // of no use without all of the first bytes
            if (!rest && readable && first->size() < kSmallRest) {
                // Shorter than asked for: the message ends there, and a message this small is
                // fetched whole anyway.
                entry.data.body = *first;
                m_plans.remove(number);
            } else {
                const QString why = refused ? QStringLiteral("The fetch of the first %1 bytes was refused")
                                    : entry.unreadable
                                        ? QStringLiteral("The first %1 bytes could not be read")
                                        : QStringLiteral("The first %1 bytes were not the whole message");
                call.note(why.arg(kSmallRest) + QStringLiteral("; fetched as planned."));
                if (!d.transportUp())
                    return std::nullopt;
                const bool waited = !ready(number) && !m_structures.empty();
                if (waited && !waitForStructure(d, call, number, stray)) {
                    if (stray)
                        closeAfterStray();
                    return std::nullopt;
                }
                if (!d.transportUp())
                    return std::nullopt;
                if (!fetchAgain(d, call, number, false))
                    return std::nullopt;
                // The structures that came meanwhile let their fetches leave now.
                if (waited && !topUp(d, call))
                    return std::nullopt;
                continue;
            }
        }

        if (entry.inRange) {
            if (entry.data.body) {
                entry.status = "OK"; // its data came whole, whatever the shared answer says
            } else if (entry.status != "OK") {
                if (!fetchWholeInstead(
                        d, call, number,
                        QStringLiteral("The shared fetch was refused; the message is fetched on "
                                       "its own.")))
                    return std::nullopt;
                continue;
            }
        }

        if (entry.restOfPartial) {
            const auto rest = entry.data.sections.constFind("<" + QByteArray::number(kSmallRest) + '>');
            if (entry.status == "OK" && !entry.unreadable && !entry.head.isEmpty() &&
                rest != entry.data.sections.constEnd() && rest->size() < entry.restAsked) {
                call.note(
                    QStringLiteral("Put together from its first %1 bytes and the rest.").arg(kSmallRest));
                entry.data.body = entry.head + *rest;
                if (!entry.data.internalDate.isValid())
                    entry.data.internalDate = entry.headDate;
            } else {
                if (!fetchWholeInstead(
                        d, call, number,
                        QStringLiteral(
                            "The rest of the message did not come as asked; the whole message is fetched.")))
                    return std::nullopt;
                continue;
            }
        }

        if (entry.inParts) {
            std::optional<QByteArray> rebuilt;
            if (entry.status == "OK")
                rebuilt = fromParts(entry);
            if (rebuilt) {
                call.note(entry.sections.isEmpty()
                              ? QStringLiteral("Rebuilt from its header: it has no text body.")
                              : QStringLiteral("Rebuilt from its header and the parts %1.")
                                    .arg(QString::fromLatin1(entry.sections.join(", "))));
                entry.data.body = std::move(rebuilt);
            } else {
                // Whatever went wrong with the parts, the whole message is the answer.
                if (!fetchWholeInstead(d, call, number,
                                       QStringLiteral("The parts could not be fetched or put together; the "
                                                      "whole message is fetched.")))
                    return std::nullopt;
                continue;
            }
        }
        m_expected = number + 1;
        ++m_answered;
        m_answeredBytes += entry.data.body ? entry.data.body->size() : 0;
        m_window = qMin(m_window + 1, m_maxCommands);
        if (m_stopped && m_entries.empty())
            m_active = false;

        if (entry.status != "OK") {
            call.note(QStringLiteral("The server refused the fetch."));
            d.noteRefusal(call, ImapOutcome{true, entry.status, entry.tagged, entry.unreadable});
            return std::nullopt;
        }
        return ImapFetch::finish(d, call, entry.data, entry.unreadable);
    }
}
