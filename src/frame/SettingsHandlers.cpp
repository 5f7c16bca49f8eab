#include "frame/SettingsHandlers.h"

#include "frame/SettingsStore.h"
#include "mail/OAuthSignIn.h"
#include "ui/Form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

namespace {
QString trueFalse(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }
} // namespace

SettingsHandlers::SettingsHandlers(Form1& form)
    : f(form)
{
}

void SettingsHandlers::bind()
{
    connect(f.Check1, &QCheckBox::toggled, this, &SettingsHandlers::Check1_Click);
    connect(f.Check2, &QCheckBox::toggled, this, &SettingsHandlers::Check2_Click);
    connect(f.Text1, &QLineEdit::textChanged, this, &SettingsHandlers::Text1_Change);
    connect(f.Text2, &QLineEdit::textChanged, this, &SettingsHandlers::Text2_Change);
    for (QRadioButton* option : {f.Option3, f.Option5, f.Option6, f.Option7, f.Option9})
        connect(option, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                Option_Click();
        });
    connect(f.Combo1, &QComboBox::currentIndexChanged, this, &SettingsHandlers::Combo1_Click);
    connect(f.Combo1, &QComboBox::editTextChanged, this, &SettingsHandlers::Combo1_Change);
    f.Text1->installEventFilter(this);
    f.Text2->installEventFilter(this);
}

void SettingsHandlers::write(const QString& key, const QString& value) { f.services.settings->setValue(key, value); }

void SettingsHandlers::Check1_Click()
{
    const bool remember = f.Check1->isChecked();
    write(QStringLiteral("StayConnected"), remember ? QStringLiteral("1") : QStringLiteral("0"));
    if (remember) {
        f.Check2->setEnabled(true);
        if (!m_loading) {
            write(QStringLiteral("User"), f.Text1->text());
            write(QStringLiteral("Password"), f.Text2->text());
            f.signIn().storeRefreshToken();
        }
        return;
    }
    f.Check2->setChecked(false);
    f.Check2->setEnabled(false);
    f.Text1->setText(QString());
    f.Text2->setText(QString());
    write(QStringLiteral("User"), QString());
    write(QStringLiteral("Password"), QString());
    f.signIn().forget();
}

void SettingsHandlers::Check2_Click()
{
    write(QStringLiteral("AutoConnect"), f.Check2->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsHandlers::Text1_Change()
{
    if (f.Check1->isChecked())
        write(QStringLiteral("User"), f.Text1->text());
}

void SettingsHandlers::Text2_Change()
{
    if (f.Check1->isChecked())
        write(QStringLiteral("Password"), f.Text2->text());
}

void SettingsHandlers::Text1_GotFocus() { f.Text1->setSelection(0, int(f.Text1->text().size())); }

void SettingsHandlers::Text2_GotFocus() { f.Text2->setSelection(0, int(f.Text2->text().size())); }

void SettingsHandlers::Option_Click()
{
    write(QStringLiteral("Option3"), trueFalse(f.Option3->isChecked()));
    write(QStringLiteral("Option5"), trueFalse(f.Option5->isChecked()));
    write(QStringLiteral("Option6"), trueFalse(f.Option6->isChecked()));
    write(QStringLiteral("Option7"), trueFalse(f.Option7->isChecked()));
    write(QStringLiteral("Option9"), trueFalse(f.Option9->isChecked()));
}

void SettingsHandlers::Combo1_Click() { write(QStringLiteral("Combo1"), QString::number(f.Combo1->currentIndex())); }

void SettingsHandlers::Combo1_Change() { Combo1_Click(); }

bool SettingsHandlers::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // The line edit places its own cursor after the focus event: select afterwards.
        if (watched == f.Text1)
            QTimer::singleShot(0, this, &SettingsHandlers::Text1_GotFocus);
        else if (watched == f.Text2)
            QTimer::singleShot(0, this, &SettingsHandlers::Text2_GotFocus);
    }
    return QObject::eventFilter(watched, event);
}
