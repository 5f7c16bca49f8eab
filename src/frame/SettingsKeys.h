#pragma once

#include <QString>

// One key of the per-user settings store and the value a reading gets while the key is absent.
struct SettingsKey {
    const char* name;
    const char* fallback;

    QString key() const { return QString::fromLatin1(name); }
    QString defaultValue() const { return QString::fromLatin1(fallback); }
};

// Every key the program reads or writes, with its default. Readers and writers name a key
// from here, never by a literal of their own.
namespace SettingsKeys {
// The sign-in group, remembered the moment its control changes.
inline constexpr SettingsKey StayConnected{"StayConnected", "0"}; // "Remember me": 0 or 1
inline constexpr SettingsKey AutoConnect{"AutoConnect", "0"};     // "Autoconnect when software loads"
inline constexpr SettingsKey User{"User", ""};                    // kept only while remembered
inline constexpr SettingsKey Password{"Password", ""};            // kept only while remembered
inline constexpr SettingsKey Combo1{"Combo1", "0"};               // the account suffix's index
// The folder options, "True" or "False"; the Inbox is chosen until the user picks another.
inline constexpr SettingsKey Option3{"Option3", "True"};
inline constexpr SettingsKey Option5{"Option5", "False"};
inline constexpr SettingsKey Option6{"Option6", "False"};
inline constexpr SettingsKey Option7{"Option7", "False"};
inline constexpr SettingsKey Option9{"Option9", "False"};
// Where the IMAP connection goes; only ever set by hand. Empty means the webmail service on
// 993 with the system's certificate authorities.
inline constexpr SettingsKey Server{"Server", ""};
inline constexpr SettingsKey Port{"Port", ""};
inline constexpr SettingsKey CACertificates{"CACertificates", ""};
// Microsoft sign-in (OAuth). The client ID has no default; the authority and scopes fall back
// to Microsoft's consumer accounts and IMAP access with a refresh token.
inline constexpr SettingsKey OAuthClientId{"OAuthClientId", ""};
inline constexpr SettingsKey OAuthAuthority{"OAuthAuthority", "https://login.microsoftonline.com/consumers"};
inline constexpr SettingsKey OAuthScopes{"OAuthScopes",
                                         "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"};
inline constexpr SettingsKey OAuthRefreshToken{"OAuthRefreshToken", ""}; // kept only while remembered

inline constexpr SettingsKey all[] = {
    StayConnected,  AutoConnect,   User,           Password,    Combo1,           Option3,
    Option5,        Option6,       Option7,        Option9,     Server,           Port,
    CACertificates, OAuthClientId, OAuthAuthority, OAuthScopes, OAuthRefreshToken};
} // namespace SettingsKeys
