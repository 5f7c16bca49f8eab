#pragma once

#include <QByteArray>
#include <QString>

// Why the IMAP component's last call failed, in a form a caller can act on: whether the
// connection is gone, what the server answered, which certificate check failed. The wording for
// people is lastErrorText()'s business (and FailureCause's, for the message boxes).
struct ImapFailure {
    enum class Kind {
        None,           // the call succeeded
        Unreachable,    // no connection could be made: refused, unknown host, no route
        NoGreeting,     // connected, but the server closed, said BYE or stayed silent instead of greeting
        TlsUntrusted,   // the certificate is not signed by a trusted authority
        TlsExpired,     // the certificate has expired or is not valid yet
        TlsWrongHost,   // the certificate is for another host name
        TlsOther,       // any other failure of the TLS handshake
        ConnectionLost, // the server closed the connection (a BYE, a reset, half way through a message)
        TimedOut,       // nothing came from the server for longer than the time-out
        NotConnected,   // the call needs a connection and there is none
        Refused,        // the server answered NO or BAD (status, code and text below)
        NoData,         // the server answered OK but sent no message (expunged, BODY[] NIL)
        Unreadable,     // the server's response could not be read; the connection is closed
        Aborted,        // the application abandoned the call through the abort check
        Other           // refused before anything was sent, or closed by the application meanwhile
    };

    Kind kind = Kind::None;
    QString host;      // the host of the connection
    QByteArray status; // NO or BAD for Refused, BYE when the server said goodbye
    QByteArray code;   // the response code without brackets, upper case: "UNAVAILABLE", "LIMIT"...
    QString text;      // the server's own words after status and code

    // The call failed because the connection broke: a new connection may succeed.
    bool connectionGone() const
    {
        return kind == Kind::ConnectionLost || kind == Kind::TimedOut || kind == Kind::Unreadable ||
               kind == Kind::TlsOther;
    }
};
