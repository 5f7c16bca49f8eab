#include "frame/SettingsStore.h"

#include "frame/VbError.h"

#include <cmath>

namespace {
double toNumber(const QString& text)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        throw VbError::typeMismatch();
    return number;
}
} // namespace

int SettingsStore::toInt(const QString& text)
{
    const double rounded = std::nearbyint(toNumber(text));
    if (rounded < -32768.0 || rounded > 32767.0)
        throw VbError::overflow();
    return int(rounded);
}

bool SettingsStore::toBool(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return toNumber(trimmed) != 0.0;
}

int SettingsStore::readInt(const QString& key, int defaultValue) const
{
    const auto stored = value(key);
    return stored ? toInt(*stored) : defaultValue;
}

bool SettingsStore::readBool(const QString& key, bool defaultValue) const
{
    const auto stored = value(key);
    return stored ? toBool(*stored) : defaultValue;
}

int SettingsStore::readInt(const SettingsKey& key) const
{
    const auto stored = value(key.key());
    return toInt(stored ? *stored : key.defaultValue());
}

bool SettingsStore::readBool(const SettingsKey& key) const
{
    const auto stored = value(key.key());
    return toBool(stored ? *stored : key.defaultValue());
}
