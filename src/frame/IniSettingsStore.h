#pragma once

#include "frame/SettingsStore.h"

#include <memory>

class QSettings;

// The settings store on disk. On Windows: the registry key that classic Windows programs
// used (HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Wenlowe\Corvanel). Elsewhere:
// Wenlowe/Wenlowe.ini in the user's configuration folder (XDG_CONFIG_HOME is honoured),
// section [Corvanel], readable by its owner only since it may hold a password when no keyring
// takes it.
class IniSettingsStore : public SettingsStore {
public:
    IniSettingsStore();
    explicit IniSettingsStore(const QString& iniPath);
    ~IniSettingsStore() override;

    std::optional<QString> value(const QString& key) const override;
    void setValue(const QString& key, const QString& value) override;
    void remove(const QString& key) override;

    QString location() const;
    static QString defaultIniPath();

private:
    std::unique_ptr<QSettings> m_settings;
};
