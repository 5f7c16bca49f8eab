#include "mail/ImapExamine.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapQuoting.h"
#include "mail/ModifiedUtf7.h"

int ImapExamine::run(ImapConnection& d, const QString& mailbox)
{
    ImapCallScope scope(d, QStringLiteral("SelectMailbox"));
    ImapCall& call = scope.call;
    if (scope.refused())
        return 0;
    scope.claim();
    const QByteArray name = ImapQuoting::quoted(ModifiedUtf7::encode(mailbox));
    ImapCommand cmd;
    cmd.parts = {"EXAMINE " + name};
    cmd.logText = QStringLiteral("EXAMINE ") + QString::fromLatin1(name);
    d.leaveMailbox(); // a failed EXAMINE leaves nothing selected
    if (!scope.accepted(d.runCommand(call, cmd), QStringLiteral("The mailbox could not be selected.")))
        return 0;
    d.mailboxSelected();
    call.note(QStringLiteral("Selected read-only; %1 messages.").arg(d.exists()));
    return 1;
}
