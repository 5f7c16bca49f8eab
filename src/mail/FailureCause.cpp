#include "mail/FailureCause.h"

namespace {

// The server's own words, when it gave any.
QString saying(const ImapFailure& failure)
{
    if (failure.text.isEmpty())
        return QString();
    return QStringLiteral(" It said: \"%1\"").arg(failure.text.left(300));
}

// "server imap.example.org", or just "server" when no host is known.
QString server(const ImapFailure& failure)
{
    return failure.host.isEmpty() ? QStringLiteral("server") : QStringLiteral("server ") + failure.host;
}

} // namespace

QString FailureCause::text(const ImapFailure& f)
{
    using Kind = ImapFailure::Kind;
    switch (f.kind) {
    case Kind::None:
        return QString();
    case Kind::Unreachable:
        return QStringLiteral("The %1 could not be reached.").arg(server(f));
    case Kind::NoGreeting:
        return QStringLiteral("The %1 closed the connection or sent no greeting.").arg(server(f)) + saying(f);
    case Kind::TlsUntrusted:
        return QStringLiteral("The certificate of the %1 is not trusted.").arg(server(f));
    case Kind::TlsExpired:
        return QStringLiteral("The certificate of the %1 has expired.").arg(server(f));
    case Kind::TlsWrongHost:
        return QStringLiteral("The certificate that the %1 presented is for another host.").arg(server(f));
    case Kind::TlsOther:
        return QStringLiteral("The secure connection to the %1 failed.").arg(server(f));
    case Kind::ConnectionLost:
        return QStringLiteral("The %1 closed the connection.").arg(server(f)) + saying(f);
    case Kind::TimedOut:
        return QStringLiteral("The %1 stopped answering.").arg(server(f));
    case Kind::NotConnected:
        return QStringLiteral("There is no connection to the %1.").arg(server(f));
    case Kind::Refused:
        return QStringLiteral("The %1 refused the request.").arg(server(f)) + saying(f);
    case Kind::NoData:
        return QStringLiteral("The %1 sent no message data.").arg(server(f));
    case Kind::Unreadable:
        return QStringLiteral("The answer of the %1 could not be read.").arg(server(f));
    case Kind::Aborted:
        return QStringLiteral("Stopped.");
    case Kind::Other:
        break;
    }
    return QStringLiteral("The request to the %1 could not be completed.").arg(server(f));
}

QString FailureCause::folderMissing(const QString& folder)
{
    return QStringLiteral("The folder \"%1\" does not exist on this server.").arg(folder);
}

QString FailureCause::signInRefused(const ImapFailure& failure)
{
    return QStringLiteral("The %1 refused the sign-in.").arg(server(failure)) + saying(failure);
}
