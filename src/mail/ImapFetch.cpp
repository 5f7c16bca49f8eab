#include "mail/ImapFetch.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapEventSink.h"
#include "mail/ImapInternalDate.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"

bool ImapFetch::read(const ImapResponse& response, qint64 number, bool isUid, Data& data)
{
    ImapResponseReader reader(response);
    const ImapResponseHead head = ImapResponseHead::read(reader);
    if (head.word != "FETCH")
        return true; // other untagged data is not ours to read
    const std::optional<ImapValue> items = reader.readValue();
    if (head.number < 0 || !items || !items->isList() || items->items.size() % 2 != 0)
        return false;
    std::optional<QByteArray> body;
    QMap<QByteArray, QByteArray> sections;
    QDateTime date;
    qint64 uid = -1;
    for (qsizetype i = 0; i + 1 < items->items.size(); i += 2) {
        const ImapValue& name = items->items[i];
        const ImapValue& value = items->items[i + 1];
        if (!name.isAtom())
            return false;
        const QByteArray key = name.text.toUpper();
        if (key == "BODY[]" && value.isString())
            body = value.text;
        else if (key.startsWith("BODY[") && key.endsWith(']') && (value.isString() || value.isNil()))
            sections.insert(key.mid(5, key.size() - 6), value.text);
        else if (const qsizetype close = key.indexOf("]<"); key.startsWith("BODY[") && close > 0 &&
                                                            key.endsWith('>') &&
                                                            (value.isString() || value.isNil()))
            sections.insert(key.mid(5, close - 5) + key.mid(close + 1), value.text); // BODY[]<0> as "<0>"
        else if (key == "INTERNALDATE" && value.isString())
            date = parseImapInternalDate(value.text);
        else if (key == "UID")
            uid = value.number();
    }
    if ((isUid ? uid : head.number) != number)
        return true; // another message's data (flags changed, say)
    if (body)
        data.body = std::move(body);
    for (auto it = sections.begin(); it != sections.end(); ++it)
        data.sections.insert(it.key(), it.value());
    if (date.isValid())
        data.internalDate = date;
    return true;
}

std::optional<ImapClient::RawMessage> ImapFetch::run(ImapConnection& d, int number, bool isUid)
{
    ImapCallScope scope(d, QStringLiteral("FetchSingle"));
    ImapCall& call = scope.call;
    if (scope.refused())
        return std::nullopt;
    if (number < 0) {
        call.note(QStringLiteral("Refused: %1 is not a message number; nothing was sent.").arg(number));
        return std::nullopt;
    }
    scope.claim();
    if (d.readAhead().serves(number, isUid))
        return d.readAhead().fetch(d, call, number);
    Data data;
    ImapCommand cmd;
    cmd.parts = {(isUid ? "UID FETCH " : "FETCH ") + QByteArray::number(number) +
                 " (BODY.PEEK[] INTERNALDATE)"};
    cmd.logText = QString::fromLatin1(cmd.parts.first());
    cmd.onUntagged = [&](const ImapResponse& r) { return read(r, number, isUid, data); };
    cmd.reportsProgress = true;
    const ImapOutcome outcome = d.runCommand(call, cmd);
    if (!scope.accepted(outcome, QStringLiteral("The server refused the fetch.")))
        return std::nullopt;
    return finish(d, call, data, outcome.unreadableData);
}

std::optional<ImapClient::RawMessage> ImapFetch::finish(ImapConnection& d, ImapCall& call, Data& data,
                                                        bool unreadable)
{
    if (!data.body) {
        call.note(unreadable ? QStringLiteral("The server's FETCH data could not be read.")
                             : QStringLiteral("The server sent no message data."));
        call.fail(unreadable ? ImapFailure::Kind::Other : ImapFailure::Kind::NoData);
        return std::nullopt;
    }
    if (call.lastPercent < 100) {
        // The message is whole: an abort asked for now has nothing left to abandon.
        call.lastPercent = 100;
        bool ignored = false;
        if (ImapEventSink* s = d.sink())
            s->percentDone(100, ignored);
    }
    call.note(QStringLiteral("Fetched %1 bytes.").arg(data.body->size()));
    return ImapClient::RawMessage{std::move(*data.body), data.internalDate};
}
