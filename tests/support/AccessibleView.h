#pragma once

#include <QAccessible>
#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// What assistive technology learns about an object through Qt's accessibility interfaces, the
// same interfaces the bridge to a screen reader's bus reads: no bus is needed.
struct AccessibleView {
    bool exists = false; // the object has an accessible interface
    QString name;
    QAccessible::Role role = QAccessible::NoRole;
    QAccessible::State state;
    QString description;
    QString value;

    static AccessibleView of(QObject* object);
    // What a screen reader says when the object takes focus: role, name, value and
    // description, for instance `button "Disconnect"` or `progress bar "Progress", "Done."`.
    QString announcement() const;
    static QString roleName(QAccessible::Role role);

    // Walks every control of a window and lists those a screen reader would get wrong: a
    // captioned control (button, check box, option, label, group) whose accessible name is not
    // its caption, a control without a caption of its own that has no name, a control without
    // a role. Empty when all is well.
    static QStringList mismatches(QWidget* window);
};
