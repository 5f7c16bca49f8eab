#include "frame/StartUp.h"

#include "frame/AppTitle.h"
#include "frame/ConnectivityCheck.h"
#include "frame/ErrorTail.h"
#include "frame/FileExists.h"
#include "frame/FolderOptions.h"
#include "frame/MessageListColumns.h"
#include "frame/SettingsHandlers.h"
#include "frame/SettingsKeys.h"
#include "frame/SettingsStore.h"
#include "frame/SignInFields.h"
#include "frame/StandardColors.h"
#include "frame/StartUpView.h"
#include "frame/VbError.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QWidget>

namespace {

void whiteBackground(QWidget* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

// A check box value 0 (clear) or 1 (checked); anything else is an invalid property value.
bool checkValue(int value)
{
    if (value != 0 && value != 1)
        throw VbError(380, QStringLiteral("Invalid property value"));
    return value == 1;
}

} // namespace

StartUp::StartUp(Services services, StartUpView& window, SignInFields& signIn, FolderOptions& folders,
                 SettingsHandlers& settingsHandlers)
    : m_services(services)
    , m_window(window)
    , m_signIn(signIn)
    , m_folders(folders)
    , m_settingsHandlers(settingsHandlers)
{
}

QString StartUp::skinFile() { return QDir(applicationFolder()).filePath(QStringLiteral("x/o.cjs")); }

QString StartUp::cursorFile() { return QDir(applicationFolder()).filePath(QStringLiteral("HAND-M.CUR")); }

void StartUp::Form_Load()
{
    SettingsStore& settings = *m_services.settings;
    ErrorTail tail(*m_services.boxes, QStringLiteral("Form1"), QStringLiteral("Form_Load"));

    tail.line(100, [&] { CheckInternetConnection(*m_services.commands, *m_services.boxes); });
    tail.line(102, [&] { ApplySkin(); });
    tail.line(106, [&] {
        m_window.mainWindow()->setWindowTitle(AppTitle::productName());
        const QIcon icon(QStringLiteral(":/corvanel/corvanel.png"));
        QApplication::setWindowIcon(icon);  // the dialogs take it too
        m_window.mainWindow()->setWindowIcon(icon);
        AppTitle::shorten();
    });
    bool cursorFound = false;
    tail.line(108, [&] { cursorFound = FileExists(cursorFile()); });
    if (cursorFound)
        tail.line(110, [&] { m_window.setCustomCursorFile(cursorFile()); });

    const QStringList captions = MessageListColumns::captions();
    for (int c = 0; c < captions.size(); ++c)
        tail.line(130 + 2 * c, [&] { m_window.addListColumn(captions.at(c)); });
    const int widths[] = {1300, 1300, 1600, 1600, 1600, 0};
    for (int c = 0; c < 6; ++c)
        tail.line(142 + 2 * c, [&] { m_window.setListColumnWidthTwips(c, widths[c]); });
    tail.line(154, [&] { m_window.clearList(); });
    tail.line(156, [&] { m_window.repaintList(); });

    tail.line(158, [&] { m_window.createImapComponent(); });

    // The stored sign-in is loaded below; checking "Remember me" on the way must not
    // overwrite it with the still empty boxes.
    m_settingsHandlers.setLoading(true);
    if (tail.condition(160, [&] { return settings.readInt(SettingsKeys::StayConnected) != 0; })) {
        tail.line(162, [&] { m_signIn.setCheck1(true); });
        tail.line(164, [&] { m_signIn.setText1(settings.get(SettingsKeys::User)); });
        tail.line(166, [&] { m_signIn.setText2(settings.get(SettingsKeys::Password)); });
    } else {
        tail.line(168, [&] {
            m_signIn.setCheck1(false);
            m_signIn.setText1(QString());
            m_signIn.setText2(QString());
        });
    }
    m_settingsHandlers.setLoading(false);
    tail.line(170, [&] { m_window.updateEmailCounts(false); });
    tail.line(172, [&] { m_window.setRuleCheckDone(false); });
    tail.line(174, [&] { whiteBackground(m_window.countLabel(1)); });
    tail.line(176, [&] { whiteBackground(m_window.countLabel(2)); });

    if (tail.condition(178, [&] { return m_signIn.check1(); }))
        tail.line(180, [&] { m_signIn.setCheck2Enabled(true); });
    else
        tail.line(182, [&] { m_signIn.setCheck2Enabled(false); });
    tail.line(184, [&] { m_signIn.setCheck2(checkValue(settings.readInt(SettingsKeys::AutoConnect))); });

    tail.line(186, [&] { m_folders.setOption(3, settings.readBool(SettingsKeys::Option3)); });
    tail.line(188, [&] { m_folders.setOption(5, settings.readBool(SettingsKeys::Option5)); });
    tail.line(190, [&] { m_folders.setOption(6, settings.readBool(SettingsKeys::Option6)); });
    tail.line(192, [&] { m_folders.setOption(7, settings.readBool(SettingsKeys::Option7)); });
    tail.line(194, [&] { m_folders.setOption(9, settings.readBool(SettingsKeys::Option9)); });

    // Adding an entry selects nothing: the stored index chooses the entry at line 777.
    const auto addSuffix = [&](const QString& entry) { m_signIn.addCombo1Entry(entry); };
    tail.line(333, [&] { addSuffix(QStringLiteral("Live!ID")); });
    tail.line(444, [&] { addSuffix(QStringLiteral("@hotmail.com")); });
    tail.line(555, [&] { addSuffix(QStringLiteral("@outlook.com")); });
    tail.line(666, [&] { addSuffix(QStringLiteral("@live.com")); });
    tail.line(777, [&] {
        const int index = settings.readInt(SettingsKeys::Combo1);
        if (index < 0 || index >= m_signIn.combo1Count())
            throw VbError(380, QStringLiteral("Invalid property value"));
        m_signIn.setCombo1Index(index);
    });

    if (tail.condition(206, [&] { return m_signIn.check2(); }))
        tail.line(208, [&] { m_window.clickConnect(); });
}

void StartUp::ApplySkin()
{
    const QString path = skinFile();
    if (!FileExists(path))
        return;
    ApplyStandardColors(m_window.mainWindow());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VbError(75, QStringLiteral("Path/File access error"));
    m_window.mainWindow()->setStyleSheet(QString::fromUtf8(file.readAll()));
}
