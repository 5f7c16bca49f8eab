#include "mail/ImapList.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapQuoting.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"
#include "mail/ModifiedUtf7.h"

std::optional<std::vector<MailboxEntry>> ImapList::run(ImapConnection& d, const QString& reference,
                                                       const QString& pattern)
{
    ImapCallScope scope(d, QStringLiteral("ListMailboxes"));
    ImapCall& call = scope.call;
    if (scope.refused())
        return std::nullopt;
    scope.claim();
    std::vector<MailboxEntry> names;
    ImapCommand cmd;
    cmd.parts = {"LIST " + ImapQuoting::quoted(ModifiedUtf7::encode(reference)) + ' ' +
                 ImapQuoting::quoted(ModifiedUtf7::encode(pattern))};
    cmd.logText = QString::fromLatin1(cmd.parts.first());
    cmd.onUntagged = [&names](const ImapResponse& r) {
        ImapResponseReader reader(r);
        const ImapResponseHead head = ImapResponseHead::read(reader);
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
        MailboxEntry entry;
        // Names are modified UTF-7; a server that sends something else gets its bytes read as UTF-8.
        const std::optional<QString> decoded = ModifiedUtf7::decode(name->text);
        entry.name = decoded ? *decoded : QString::fromUtf8(name->text);
        entry.delimiter = delimiter->isNil() ? QString() : QString::fromUtf8(delimiter->text);
        for (const ImapValue& flag : flags->items)
            if (flag.isAtom())
                entry.attributes.append(QString::fromLatin1(flag.text));
        names.push_back(std::move(entry));
        return true;
    };
    const ImapOutcome outcome = d.runCommand(call, cmd);
    if (!scope.accepted(outcome, QStringLiteral("The server refused the listing.")))
        return std::nullopt;
    if (outcome.unreadableData) {
        call.note(QStringLiteral("A LIST reply could not be read; the listing is not trusted."));
        return std::nullopt;
    }
    call.note(QStringLiteral("%1 mailboxes.").arg(names.size()));
    return names;
}
