#include "mail/ImapExamine.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapQuoting.h"
#include "mail/ModifiedUtf7.h"

int ImapExamine::run(ImapConnection& d, const QString& mailbox)
{
    ImapCallScope scope(d, QStringLiteral("SelectMailbox"));
    ImapCall& call = scope.call;
    const std::optional<std::pair<int, int>> walk = d.readAhead().takeUnstarted();
    if (scope.refused())
        return 0;
    scope.claim();
    const QByteArray name = ImapQuoting::quoted(ModifiedUtf7::encode(mailbox));
    ImapCommand cmd;
    cmd.parts = {"EXAMINE " + name};
    cmd.logText = QStringLiteral("EXAMINE ") + QString::fromLatin1(name);
    // A walk set up before the selection, and not started, starts right behind the EXAMINE: its
    // first commands cross with the answer instead of waiting a round trip for it.
    if (walk)
        cmd.afterSend = [&d, &call, walk] { return d.readAhead().open(d, call, walk->first, walk->second); };
    d.leaveMailbox(); // a failed EXAMINE leaves nothing selected
    if (!scope.accepted(d.runCommand(call, cmd), QStringLiteral("The mailbox could not be selected."))) {
        d.endReadAhead(); // the answers of what went out behind it are skipped
        return 0;
    }
    d.mailboxSelected();
    call.note(QStringLiteral("Selected read-only; %1 messages.").arg(d.exists()));
    return 1;
}
