#include "mail/ImapLogout.h"

#include "mail/ImapCallScope.h"
#include "mail/ImapConnection.h"
#include "mail/ImapTransport.h"

namespace {

constexpr int kLogoutWaitMs = 2000;

} // namespace

int ImapLogout::run(ImapConnection& d)
{
    ImapCallScope scope(d, QStringLiteral("Disconnect"));
    ImapCall& call = scope.call;
    if (d.busyElsewhere()) {
        // Called from a handler while another call waits on the connection: close at once; that
        // call notices and fails.
        call.note(QStringLiteral("Closed while another call was using the connection; that call fails."));
        d.closeConnection();
        return 1;
    }
    if (!d.connected()) {
        call.note(QStringLiteral("Not connected."));
        return 1;
    }
    if (d.state() != ImapClient::State::NotConnected && d.transportUp()) {
        scope.claim();
        const QByteArray tag = d.nextTag();
        call.note(QStringLiteral("Sent: %1 LOGOUT").arg(QString::fromLatin1(tag)));
        if (d.send(call, tag + " LOGOUT\r\n"))
            d.waitFor(
                call, [&tag](const ImapResponse& r) { return r.tag() == tag; },
                qMin(d.settings().timeoutMs, kLogoutWaitMs));
        // A handler that ran meanwhile may have closed this connection or opened a new one.
        if (!d.sameConnection(call)) {
            call.note(QStringLiteral("Disconnected."));
            return 1;
        }
    }
    d.closeConnection();
    call.note(QStringLiteral("Disconnected."));
    return 1;
}
