#include "frame/StartUp.h"

#include "frame/AppTitle.h"
#include "frame/ConnectivityCheck.h"
#include "frame/ErrorTail.h"
#include "frame/FileExists.h"
#include "frame/SettingsHandlers.h"
#include "frame/SettingsStore.h"
#include "frame/VbError.h"
#include "mail/ImapClient.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "ui/Form1.h"
#include "ui/StandardColors.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeView>

namespace {

void whiteBackground(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

// An option button set from a stored value. Clearing the selected button of an exclusive
// group needs the group's exclusivity lifted for a moment.
void setOption(QRadioButton* option, bool value)
{
    if (option->isChecked() == value)
        return;
    if (value) {
        option->setChecked(true);
        return;
    }
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

// A check box value 0 (clear) or 1 (checked); anything else is an invalid property value.
void setCheckValue(QCheckBox* box, int value)
{
    if (value != 0 && value != 1)
        throw VbError(380, QStringLiteral("Invalid property value"));
    box->setChecked(value == 1);
}

} // namespace

StartUp::StartUp(Form1& form)
    : f(form)
{
}

QString StartUp::skinFile() { return QDir(applicationFolder()).filePath(QStringLiteral("x/o.cjs")); }

QString StartUp::cursorFile() { return QDir(applicationFolder()).filePath(QStringLiteral("HAND-M.CUR")); }

void StartUp::Form_Load()
{
    SettingsStore& settings = *f.services.settings;
    ErrorTail tail(*f.services.boxes, QStringLiteral("Form1"), QStringLiteral("Form_Load"));

    tail.line(100, [&] { CheckInternetConnection(*f.services.commands, *f.services.boxes); });
    tail.line(102, [&] { ApplySkin(); });
    tail.line(106, [&] {
        f.setWindowTitle(AppTitle::productName());
        const QIcon icon(QStringLiteral(":/corvanel/corvanel.png"));
        QApplication::setWindowIcon(icon);  // the dialogs take it too
        f.setWindowIcon(icon);
        AppTitle::shorten();
    });
    bool cursorFound = false;
    tail.line(108, [&] { cursorFound = FileExists(cursorFile()); });
    if (cursorFound)
        tail.line(110, [&] { f.setCustomCursorFile(cursorFile()); });

    const QStringList captions{QStringLiteral("From"),    QStringLiteral("From Name"),     QStringLiteral("From Address"),
                               QStringLiteral("Subject"), QStringLiteral("Received Date"), QStringLiteral("RecDate")};
    for (int c = 0; c < captions.size(); ++c)
        tail.line(130 + 2 * c, [&] { f.list().addColumn(captions.at(c)); });
    const int widths[] = {1300, 1300, 1600, 1600, 1600, 0};
    for (int c = 0; c < 6; ++c)
        tail.line(142 + 2 * c, [&] { f.ListView1->header()->resizeSection(c, Twips::toPx(widths[c])); });
    tail.line(154, [&] { f.list().clear(); });
    tail.line(156, [&] { f.ListView1->viewport()->update(); });

    tail.line(158, [&] { f.ImapComponent = new ImapClient(&f); });

    // The stored sign-in is loaded below; checking "Remember me" on the way must not
    // overwrite it with the still empty boxes.
    f.settingsHandlers().setLoading(true);
    if (tail.condition(160, [&] { return settings.readInt(QStringLiteral("StayConnected"), 0) != 0; })) {
        tail.line(162, [&] { f.Check1->setChecked(true); });
        tail.line(164, [&] { f.Text1->setText(settings.get(QStringLiteral("User"))); });
        tail.line(166, [&] { f.Text2->setText(settings.get(QStringLiteral("Password"))); });
    } else {
        tail.line(168, [&] {
            f.Check1->setChecked(false);
            f.Text1->setText(QString());
            f.Text2->setText(QString());
        });
    }
    f.settingsHandlers().setLoading(false);
    tail.line(170, [&] { f.counts().UpdateEmailCounts(false); });
    tail.line(172, [&] { f.RuleCheckDone = false; });
    tail.line(174, [&] { whiteBackground(f.Label1); });
    tail.line(176, [&] { whiteBackground(f.Label2); });

    if (tail.condition(178, [&] { return f.Check1->isChecked(); }))
        tail.line(180, [&] { f.Check2->setEnabled(true); });
    else
        tail.line(182, [&] { f.Check2->setEnabled(false); });
    tail.line(184, [&] { setCheckValue(f.Check2, settings.readInt(QStringLiteral("AutoConnect"), 0)); });

    tail.line(186, [&] { setOption(f.Option3, settings.readBool(QStringLiteral("Option3"), true)); });
    tail.line(188, [&] { setOption(f.Option5, settings.readBool(QStringLiteral("Option5"), false)); });
    tail.line(190, [&] { setOption(f.Option6, settings.readBool(QStringLiteral("Option6"), false)); });
    tail.line(192, [&] { setOption(f.Option7, settings.readBool(QStringLiteral("Option7"), false)); });
    tail.line(194, [&] { setOption(f.Option9, settings.readBool(QStringLiteral("Option9"), false)); });

    // Adding an entry selects nothing: the stored index chooses the entry at line 777.
    const auto addSuffix = [&](const QString& entry) {
        const QSignalBlocker quiet(f.Combo1);
        f.Combo1->addItem(entry);
        f.Combo1->setCurrentIndex(-1);
    };
    tail.line(333, [&] { addSuffix(QStringLiteral("Live!ID")); });
    tail.line(444, [&] { addSuffix(QStringLiteral("@hotmail.com")); });
    tail.line(555, [&] { addSuffix(QStringLiteral("@outlook.com")); });
    tail.line(666, [&] { addSuffix(QStringLiteral("@live.com")); });
    tail.line(777, [&] {
        const int index = settings.readInt(QStringLiteral("Combo1"), 0);
        if (index < 0 || index >= f.Combo1->count())
            throw VbError(380, QStringLiteral("Invalid property value"));
        f.Combo1->setCurrentIndex(index);
    });

    if (tail.condition(206, [&] { return f.Check2->isChecked(); }))
        tail.line(208, [&] { f.connection().PushButton1_Click(); });
}

void StartUp::ApplySkin()
{
    const QString path = skinFile();
    if (!FileExists(path))
        return;
    ApplyStandardColors(&f);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VbError(75, QStringLiteral("Path/File access error"));
    f.setStyleSheet(QString::fromUtf8(file.readAll()));
}
