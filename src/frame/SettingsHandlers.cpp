#include "frame/SettingsHandlers.h"

#include "frame/FolderOptions.h"
#include "frame/SettingsKeys.h"
#include "frame/SettingsStore.h"
#include "frame/SignInFields.h"

namespace {
QString trueFalse(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }
QString zeroOne(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }
} // namespace

SettingsHandlers::SettingsHandlers(SettingsStore& settings, SignInFields& fields, FolderOptions& folders,
                                   SignInMemory memory)
    : m_settings(settings)
    , m_fields(fields)
    , m_folders(folders)
    , m_memory(std::move(memory))
{
}

void SettingsHandlers::Check1_Click()
{
    const bool remember = m_fields.check1();
    m_settings.write(SettingsKeys::StayConnected, zeroOne(remember));
    if (remember) {
        m_fields.setCheck2Enabled(true);
        if (!m_loading) {
            m_settings.write(SettingsKeys::User, m_fields.text1());
            m_settings.write(SettingsKeys::Password, m_fields.text2());
            m_memory.storeRefreshToken();
        }
        return;
    }
    m_fields.setCheck2(false);
    m_fields.setCheck2Enabled(false);
    m_fields.setText1(QString());
    m_fields.setText2(QString());
    m_settings.write(SettingsKeys::User, QString());
    m_settings.write(SettingsKeys::Password, QString());
    m_memory.forget();
}

void SettingsHandlers::Check2_Click() { m_settings.write(SettingsKeys::AutoConnect, zeroOne(m_fields.check2())); }

void SettingsHandlers::Text1_Change()
{
    if (m_fields.check1())
        m_settings.write(SettingsKeys::User, m_fields.text1());
}

void SettingsHandlers::Text2_Change()
{
    if (m_fields.check1())
        m_settings.write(SettingsKeys::Password, m_fields.text2());
}

void SettingsHandlers::Text1_GotFocus() { m_fields.selectAllText1(); }

void SettingsHandlers::Text2_GotFocus() { m_fields.selectAllText2(); }

void SettingsHandlers::Option_Click()
{
    m_settings.write(SettingsKeys::Option3, trueFalse(m_folders.option(3)));
    m_settings.write(SettingsKeys::Option5, trueFalse(m_folders.option(5)));
    m_settings.write(SettingsKeys::Option6, trueFalse(m_folders.option(6)));
    m_settings.write(SettingsKeys::Option7, trueFalse(m_folders.option(7)));
    m_settings.write(SettingsKeys::Option9, trueFalse(m_folders.option(9)));
}

void SettingsHandlers::Combo1_Click() { m_settings.write(SettingsKeys::Combo1, QString::number(m_fields.combo1Index())); }

void SettingsHandlers::Combo1_Change() { Combo1_Click(); }
