#include "mail/ImapExamine.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapQuoting.h"
#include "mail/ModifiedUtf7.h"

int ImapExamine::run(ImapConnection& d, const QString& mailbox)
{
    ImapCallScope scope(d, QStringLiteral("SelectMailbox"));
    ImapCall& call = scope.call;
    if (d.refuseIfBusy(call))
        return 0;
    scope.claim();
    const QByteArray name = ImapQuoting::quoted(ModifiedUtf7::encode(mailbox));
    ImapCommand cmd;
    cmd.parts = {"EXAMINE " + name};
    cmd.logText = QStringLiteral("EXAMINE ") + QString::fromLatin1(name);
    if (d.state == ImapClient::State::Selected)
        d.state = ImapClient::State::Authenticated; // a failed EXAMINE leaves nothing selected
    d.exists = 0;
    const ImapOutcome outcome = d.runCommand(call, cmd);
    if (!outcome.completed)
        return 0;
    if (outcome.status != "OK") {
        call.note(QStringLiteral("The mailbox could not be selected."));
        return 0;
    }
    d.state = ImapClient::State::Selected;
    call.note(QStringLiteral("Selected read-only; %1 messages.").arg(d.exists));
    return 1;
}
