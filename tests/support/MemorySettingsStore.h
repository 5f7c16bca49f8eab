#pragma once

#include "frame/SettingsStore.h"

#include <QList>
#include <QMap>
#include <QPair>

// A settings store in memory that records every write in order.
class MemorySettingsStore : public SettingsStore {
public:
    std::optional<QString> value(const QString& key) const override
    {
        const auto it = m_values.find(key);
        if (it == m_values.end())
            return std::nullopt;
        return *it;
    }
    void setValue(const QString& key, const QString& value) override
    {
        m_values[key] = value;
        m_writes.append({key, value});
    }

    void preset(const QString& key, const QString& value) { m_values[key] = value; }
    const QList<QPair<QString, QString>>& writes() const { return m_writes; }
    QStringList writtenKeys() const
    {
        QStringList keys;
        for (const auto& w : m_writes)
            keys << w.first;
        return keys;
    }
    void clearWrites() { m_writes.clear(); }
    bool has(const QString& key) const { return m_values.contains(key); }

private:
    QMap<QString, QString> m_values;
    QList<QPair<QString, QString>> m_writes;
};
