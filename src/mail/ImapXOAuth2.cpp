#include "mail/ImapXOAuth2.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapGreeting.h"
#include "mail/ImapQuoting.h"

namespace {

// Longest explanation of a refused sign-in that the log shows.
constexpr int kMaxSaslErrorChars = 500;

bool holdsUnsendableSaslByte(const QByteArray& value)
{
    // CR, LF and NUL would end or break the line; ^A separates the fields of the XOAUTH2 string.
    return ImapQuoting::hasLineBreakOrNul(value) || value.contains('\x01');
}

// What a continuation request says once base64 is taken off: the explanation a server gives
// when it refuses a token. Shown only when it decodes to readable text.
QString decodedChallenge(const QByteArray& text)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return {};
    const QByteArray& bytes = decoded.decoded;
    for (char c : bytes) {
        if ((quint8(c) < 0x20 && c != '\t') || c == 0x7f)
            return {};
    }
    QString readable = QString::fromUtf8(bytes);
    if (readable.size() > kMaxSaslErrorChars)
        readable = readable.left(kMaxSaslErrorChars) + QStringLiteral("...");
    return readable;
}

} // namespace

int ImapXOAuth2::run(ImapConnection& d, const QString& user, const QString& accessToken)
{
    ImapCallScope scope(d, QStringLiteral("LoginXOAuth2"));
    ImapCall& call = scope.call;
    if (const std::optional<int> settled = scope.settledBeforeSignIn())
        return *settled;
    const QByteArray userBytes = user.toUtf8();
    const QByteArray tokenBytes = accessToken.toUtf8();
    if (userBytes.isEmpty() || tokenBytes.isEmpty()) {
        call.note(QStringLiteral("Refused: the user name or the access token is empty; nothing was sent."));
        return 0;
    }
    if (holdsUnsendableSaslByte(userBytes) || holdsUnsendableSaslByte(tokenBytes)) {
        call.note(QStringLiteral("Refused: the user name or the access token holds a line break, NUL or ^A "
                                 "character, which cannot be sent; nothing was sent."));
        return 0;
    }
    // user=<name> ^A auth=Bearer <token> ^A ^A
    const QByteArray initialResponse =
        ("user=" + userBytes + '\x01' + "auth=Bearer " + tokenBytes + "\x01\x01").toBase64();
    call.log.setSecrets({accessToken, QString::fromLatin1(initialResponse), user});

    scope.claim();
    if (!d.capabilitiesKnown()) {
        // Whether the credentials may go with the command depends on SASL-IR.
        if (!ImapGreeting::ask(d, call).completed)
            return 0;
    }
    if (!d.announced(QStringLiteral("AUTH=XOAUTH2")))
        call.note(QStringLiteral("The server does not announce AUTH=XOAUTH2; trying it all the same."));
    const quint64 announcementsBefore = d.capabilitiesAnnounced();
    const ImapOutcome outcome =
        authenticate(d, call, "XOAUTH2", initialResponse, d.announced(QStringLiteral("SASL-IR")));
    return scope.signInEnded(outcome, announcementsBefore);
}

// A SASL exchange: AUTHENTICATE with the mechanism, the initial response with the command or
// after the server's first continuation request, and an empty response to a continuation that
// follows the credentials (the server's way of explaining a refusal before its tagged NO).
// Nothing of the exchange can be taken back half-way, so an abandoned exchange closes the
// connection.
ImapOutcome ImapXOAuth2::authenticate(ImapConnection& d, ImapCall& call, const QByteArray& mechanism,
                                      const QByteArray& initialResponse, bool initialResponseWithCommand)
{
    d.endReadAhead();
    if (!d.ensureUsable(call))
        return {};
    call.progress = false;
    const QByteArray tag = d.nextTag();
    call.note(QStringLiteral("Sent: %1 AUTHENTICATE %2%3")
                  .arg(QString::fromLatin1(tag), QString::fromLatin1(mechanism),
                       initialResponseWithCommand ? QStringLiteral(" <credentials withheld>") : QString()));
    d.setInFlight(tag, false);
    QByteArray line = tag + " AUTHENTICATE " + mechanism;
    if (initialResponseWithCommand)
        line += ' ' + initialResponse;
    if (!d.send(call, line + "\r\n"))
        return {};

    enum class Next { InitialResponse, EmptyResponse, Cancel, GiveUp };
    Next next = initialResponseWithCommand ? Next::EmptyResponse : Next::InitialResponse;
    for (;;) {
        ImapOutcome outcome;
        QByteArray challenge;
        if (!d.waitFor(call, [&](const ImapResponse& r) {
                if (r.tag() == tag) {
                    outcome = d.completion(r);
                    return true;
                }
                if (r.tag() == "+") {
                    challenge = r.lines.first().mid(1);
                    return true;
                }
                return false;
            }))
            return {};
        if (outcome.completed) {
            d.noteRefusal(call, outcome);
            return outcome;
        }
        switch (next) {
        case Next::InitialResponse:
            call.note(QStringLiteral("Sent: <credentials withheld>"));
            if (!d.send(call, initialResponse + "\r\n"))
                return {};
            next = Next::EmptyResponse;
            break;
        case Next::EmptyResponse: {
            const QString reason = decodedChallenge(challenge);
            if (!reason.isEmpty())
                call.note(QStringLiteral("The server refused the credentials: %1").arg(reason));
            call.note(QStringLiteral("Sent: (empty response)"));
            if (!d.send(call, "\r\n"))
                return {};
            next = Next::Cancel;
            break;
        }
        case Next::Cancel:
            // The mechanism has nothing more to say: cancel the exchange.
            call.note(QStringLiteral("Sent: * (the exchange is cancelled)"));
            if (!d.send(call, "*\r\n"))
                return {};
            next = Next::GiveUp;
            break;
        case Next::GiveUp:
            call.note(QStringLiteral("The server keeps asking for more; the connection is closed."));
            d.closeConnection();
            return {};
        }
    }
}
