#include "mail/KnownProviders.h"

#include <QStringList>

namespace {

// The service's name (the first label of its domain) and the rest, "yahoo" and "co.uk".
std::pair<QString, QString> splitName(const QString& domain)
{
    const qsizetype dot = domain.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {QString(), QString()};
    return {domain.left(dot), domain.mid(dot + 1)};
}

bool isLetters(const QString& label, qsizetype from, qsizetype to)
{
    if (label.size() < from || label.size() > to)
        return false;
    for (const QChar ch : label)
        if (ch < u'a' || ch > u'z')
            return false;
    return true;
}

} // namespace

QString KnownProviders::domainOf(const QString& address)
{
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return QString();
    QString domain = address.mid(at + 1).trimmed().toLower();
    while (domain.endsWith(QLatin1Char('.')))
        domain.chop(1);
    return domain;
}

bool KnownProviders::isCountryForm(const QString& rest)
{
    const QStringList labels = rest.split(QLatin1Char('.'));
    if (labels.size() == 1)
        return isLetters(labels[0], 2, 3); // com, net, de, fr
    if (labels.size() == 2)                // co.uk, com.au, co.jp, ne.jp
        return isLetters(labels[0], 2, 3) && isLetters(labels[1], 2, 2);
    return false;
}

bool KnownProviders::isMicrosoftConsumerDomain(const QString& domain)
{
    const auto [name, rest] = splitName(domain);
    static const QStringList names = {QStringLiteral("hotmail"), QStringLiteral("outlook"),
                                      QStringLiteral("live"), QStringLiteral("msn"),
                                      QStringLiteral("passport")};
    return names.contains(name) && isCountryForm(rest);
}

std::optional<KnownProviders::Provider> KnownProviders::forDomain(const QString& domain)
{
    if (isMicrosoftConsumerDomain(domain))
        return Provider{QStringLiteral("Outlook.com"), microsoftHost()};

    static const struct {
        const char* domain;
        const char* name;
        const char* host;
    } exact[] = {
        {"gmail.com", "Gmail", "imap.gmail.com"},      {"googlemail.com", "Gmail", "imap.gmail.com"},
        {"aol.com", "AOL Mail", "imap.aol.com"},       {"icloud.com", "iCloud Mail", "imap.mail.me.com"},
        {"me.com", "iCloud Mail", "imap.mail.me.com"}, {"mac.com", "iCloud Mail", "imap.mail.me.com"},
        {"web.de", "WEB.DE", "imap.web.de"},           {"mail.ru", "Mail.ru", "imap.mail.ru"},
        {"zoho.com", "Zoho Mail", "imap.zoho.com"},    {"fastmail.com", "Fastmail", "imap.fastmail.com"},
    };
    for (const auto& entry : exact)
        if (domain == QLatin1String(entry.domain))
            return Provider{QString::fromLatin1(entry.name), QString::fromLatin1(entry.host)};

    // Services known under their name with any country form.
    const auto [name, rest] = splitName(domain);
    if (!isCountryForm(rest))
        return std::nullopt;
    if (name == QLatin1String("yahoo"))
        return Provider{QStringLiteral("Yahoo Mail"), QStringLiteral("imap.mail.yahoo.com")};
    if (name == QLatin1String("yandex"))
        return Provider{QStringLiteral("Yandex Mail"), QStringLiteral("imap.yandex.com")};
    if (name == QLatin1String("gmx")) {
        // GMX of Germany, Austria and Switzerland has its own host; the international one another.
        static const QStringList german = {QStringLiteral("net"), QStringLiteral("de"), QStringLiteral("at"),
                                           QStringLiteral("ch")};
        return Provider{QStringLiteral("GMX"), german.contains(rest) ? QStringLiteral("imap.gmx.net")
                                                                     : QStringLiteral("imap.gmx.com")};
    }
    return std::nullopt;
}

QString KnownProviders::imapHost(const QString& address)
{
    const std::optional<Provider> provider = forDomain(domainOf(address));
    return provider ? provider->imapHost : microsoftHost();
}
