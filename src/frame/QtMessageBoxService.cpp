#include "frame/QtMessageBoxService.h"

#include "frame/AppTitle.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

void QtMessageBoxService::msgBox(const QString& text, Icon icon, const std::optional<QString>& title)
{
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::None: qtIcon = QMessageBox::NoIcon; break;
    case Icon::Information: qtIcon = QMessageBox::Information; break;
    case Icon::Exclamation: qtIcon = QMessageBox::Warning; break;
    case Icon::Critical: qtIcon = QMessageBox::Critical; break;
    }
    QMessageBox box(qtIcon, title.value_or(AppTitle::current()), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // A screen reader announces the title and then the text; Enter and Escape both answer OK.
    box.setAccessibleName(box.windowTitle());
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

QString QtMessageBoxService::inputBox(const QString& prompt, const std::optional<QString>& title,
                                      const QString& defaultText)
{
    bool ok = false;
    QString answer = QInputDialog::getText(QApplication::activeWindow(), title.value_or(AppTitle::current()),
                                           prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}
