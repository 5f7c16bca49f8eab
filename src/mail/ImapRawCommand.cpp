#include "mail/ImapRawCommand.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapQuoting.h"

QString ImapRawCommand::run(ImapConnection& d, const QString& command)
{
    ImapCallScope scope(d, QStringLiteral("SendRawCommand"));
    ImapCall& call = scope.call;
    if (scope.refused())
        return {};
    const QByteArray text = command.toUtf8();
    if (text.isEmpty() || ImapQuoting::hasLineBreakOrNul(text)) {
        call.note(QStringLiteral("Refused: a command must be one non-empty line; nothing was sent."));
        return {};
    }
    scope.claim();
    QList<QByteArray> replies;
    ImapCommand cmd;
    cmd.parts = {text};
    cmd.logText = command;
    cmd.onUntagged = [&replies](const ImapResponse& r) {
        replies.append(r.raw());
        return true;
    };
    const ImapOutcome outcome = d.runCommand(call, cmd);
    if (!outcome.completed)
        return {};
    replies.append(outcome.raw);
    call.note(QStringLiteral("Completed with %1.").arg(QString::fromLatin1(outcome.status)));
    return QString::fromUtf8(replies.join("\r\n"));
}
