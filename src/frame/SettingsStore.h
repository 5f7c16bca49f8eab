#pragma once

#include "frame/SettingsKeys.h"

#include <QString>

#include <optional>

// The per-user settings store: application "Wenlowe", section "Corvanel", string values.
// Reads never create keys; every write reaches the store before the call returns.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual std::optional<QString> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QString& value) = 0;
    // Takes the key out of the store; a store that cannot remove keys keeps it empty.
    virtual void remove(const QString& key) { setValue(key, QString()); }

    QString get(const QString& key, const QString& defaultValue = QString()) const
    {
        return value(key).value_or(defaultValue);
    }

    // Typed readings. A text that is not of the type raises a type mismatch (13), a number
    // outside the 16-bit range an overflow (6), as the classic conversions do.
    int readInt(const QString& key, int defaultValue) const;
    bool readBool(const QString& key, bool defaultValue) const;

    // The same readings of a key of the table, with the table's default, and a write to it.
    QString get(const SettingsKey& key) const { return get(key.key(), key.defaultValue()); }
    int readInt(const SettingsKey& key) const;
    bool readBool(const SettingsKey& key) const;
    void write(const SettingsKey& key, const QString& text) { setValue(key.key(), text); }

    static int toInt(const QString& text);
    static bool toBool(const QString& text);
};
