#pragma once

#include <QString>

#include <optional>

// The IMAP hosts of well-known mail services, found from an address's domain, for accounts
// whose settings name no server. Every one of them takes TLS on port 993. An address of a
// domain that is not in the table goes to Microsoft's host, the program's own service.
class KnownProviders {
public:
    struct Provider {
        QString name;     // "Gmail"
        QString imapHost; // "imap.gmail.com"
    };

    static QString microsoftHost() { return QStringLiteral("outlook.office365.com"); }

    // The part after the last "@", in small letters, without a trailing dot; empty without "@".
    static QString domainOf(const QString& address);

    // hotmail.*, outlook.*, live.*, msn.* and passport.* in their ".com" and country forms
    // ("hotmail.co.uk", "outlook.com.br", "live.fr"): Microsoft's personal accounts.
    static bool isMicrosoftConsumerDomain(const QString& domain);

    static std::optional<Provider> forDomain(const QString& domain);
    // The host for the account `address`: its provider's, or Microsoft's.
    static QString imapHost(const QString& address);

private:
    // "com", "de", "co.uk", "com.au": what may follow a service's name in its country forms.
    static bool isCountryForm(const QString& rest);
};
