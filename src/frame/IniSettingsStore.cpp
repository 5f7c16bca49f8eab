#include "frame/IniSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString kSection = QStringLiteral("Corvanel");

QString fullKey(const QString& key) { return kSection + QLatin1Char('/') + key; }
} // namespace

QString IniSettingsStore::defaultIniPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(QStringLiteral("Wenlowe/Wenlowe.ini"));
}

IniSettingsStore::IniSettingsStore()
#ifdef Q_OS_WIN
    : m_settings(std::make_unique<QSettings>(
          QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Wenlowe"),
          QSettings::NativeFormat))
{
}
#else
    : IniSettingsStore(defaultIniPath())
{
}
#endif

IniSettingsStore::IniSettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::location() const { return m_settings->fileName(); }

std::optional<QString> IniSettingsStore::value(const QString& key) const
{
    const QVariant stored = m_settings->value(fullKey(key));
    if (!stored.isValid())
        return std::nullopt;
    return stored.toString();
}

void IniSettingsStore::setValue(const QString& key, const QString& value)
{
#ifndef Q_OS_WIN
    // The file may hold a password: it is created for its owner only before anything is
    // written, and the atomic rewrite of each sync keeps those permissions.
    const QString path = m_settings->fileName();
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
#endif
    m_settings->setValue(fullKey(key), value);
    m_settings->sync();
}

void IniSettingsStore::remove(const QString& key)
{
    if (!m_settings->contains(fullKey(key)))
        return;
    m_settings->remove(fullKey(key));
    m_settings->sync();
}
