#include "mail/FailureCause.h"

namespace {

// The server's own words, when it gave any.
QString saying(const ImapFailure& failure)
{
    if (failure.text.isEmpty())
        return QString();
    return QStringLiteral(" It said: \"%1\"").arg(failure.text.left(300));
}

} // namespace

QString FailureCause::text(const ImapFailure& f)
{
    using Kind = ImapFailure::Kind;
    switch (f.kind) {
    case Kind::None:
        return QString();
    case Kind::Unreachable:
        return QStringLiteral("The server %1 could not be reached.").arg(f.host);
    case Kind::NoGreeting:
        return QStringLiteral("The server %1 closed the connection or sent no greeting.").arg(f.host) +
               saying(f);
    case Kind::TlsUntrusted:
        return QStringLiteral("The certificate of the server %1 is not trusted.").arg(f.host);
    case Kind::TlsExpired:
        return QStringLiteral("The certificate of the server %1 has expired.").arg(f.host);
    case Kind::TlsWrongHost:
        return QStringLiteral("The certificate that the server %1 presented is for another host.")
            .arg(f.host);
    case Kind::TlsOther:
        return QStringLiteral("The secure connection to the server %1 failed.").arg(f.host);
    case Kind::ConnectionLost:
        return QStringLiteral("The server %1 closed the connection.").arg(f.host) + saying(f);
    case Kind::TimedOut:
        return QStringLiteral("The server %1 stopped answering.").arg(f.host);
    case Kind::NotConnected:
        return QStringLiteral("There is no connection to the server %1.").arg(f.host);
    case Kind::Refused:
        return QStringLiteral("The server %1 refused the request.").arg(f.host) + saying(f);
    case Kind::NoData:
        return QStringLiteral("The server %1 sent no message data.").arg(f.host);
    case Kind::Unreadable:
        return QStringLiteral("The answer of the server %1 could not be read.").arg(f.host);
    case Kind::Aborted:
        return QStringLiteral("Stopped.");
    case Kind::Other:
        break;
    }
    return QStringLiteral("The request to the server %1 could not be completed.").arg(f.host);
}

QString FailureCause::folderMissing(const QString& folder)
{
    return QStringLiteral("The folder \"%1\" does not exist on this server.").arg(folder);
}

QString FailureCause::signInRefused(const ImapFailure& failure)
{
    return QStringLiteral("The server %1 refused the sign-in.").arg(failure.host) + saying(failure);
}
