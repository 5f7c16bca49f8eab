#include "mail/ImapLogin.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapQuoting.h"

int ImapLogin::run(ImapConnection& d, const QString& user, const QString& password)
{
    ImapCallScope scope(d, QStringLiteral("Login"));
    ImapCall& call = scope.call;
    if (const std::optional<int> settled = scope.settledBeforeSignIn())
        return *settled;
    const QByteArray userBytes = user.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const ImapQuoting::Form userForm = ImapQuoting::formFor(userBytes);
    const ImapQuoting::Form passwordForm = ImapQuoting::formFor(passwordBytes);
    if (userForm == ImapQuoting::Form::Impossible || passwordForm == ImapQuoting::Form::Impossible) {
        // Nothing to hide in this one line, and nothing is sent.
        call.note(QStringLiteral("Refused: the user name or password holds a line break or NUL "
                                 "character, which cannot be sent; nothing was sent."));
        return 0;
    }
    call.log.setSecrets({password, user, QString::fromUtf8(ImapQuoting::quoted(passwordBytes)),
                         QString::fromUtf8(ImapQuoting::quoted(userBytes))});

    ImapCommand cmd;
    cmd.logText = QStringLiteral("LOGIN <user name and password withheld>");
    QByteArray piece = "LOGIN";
    for (const auto& [value, form] :
         {std::pair{userBytes, userForm}, std::pair{passwordBytes, passwordForm}}) {
        piece += ' ';
        if (form == ImapQuoting::Form::Quoted) {
            piece += ImapQuoting::quoted(value);
        } else {
            piece += '{' + QByteArray::number(value.size()) + '}';
            cmd.parts.append(piece);
            cmd.literals.append(value);
            piece.clear();
        }
    }
    cmd.parts.append(piece);

    scope.claim();
    const quint64 announcementsBefore = d.capabilitiesAnnounced();
    return scope.signInEnded(d.runCommand(call, cmd), announcementsBefore);
}
