#include "support/AccessibleView.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QWidget>

AccessibleView AccessibleView::of(QObject* object)
{
    AccessibleView view;
    QAccessibleInterface* iface = object ? QAccessible::queryAccessibleInterface(object) : nullptr;
    if (!iface || !iface->isValid())
        return view;
    view.exists = true;
    view.name = iface->text(QAccessible::Name);
    view.role = iface->role();
    view.state = iface->state();
    view.description = iface->text(QAccessible::Description);
    view.value = iface->text(QAccessible::Value);
    if (view.value.isEmpty())
        if (QAccessibleValueInterface* numeric = iface->valueInterface())
            view.value = numeric->currentValue().toString();
    return view;
}

QString AccessibleView::roleName(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
        return QStringLiteral("button");
    case QAccessible::CheckBox:
        return QStringLiteral("check box");
    case QAccessible::RadioButton:
        return QStringLiteral("radio button");
    case QAccessible::EditableText:
        return QStringLiteral("text");
    case QAccessible::ComboBox:
        return QStringLiteral("combo box");
    case QAccessible::Grouping:
        return QStringLiteral("group");
    case QAccessible::StaticText:
        return QStringLiteral("label");
    case QAccessible::ProgressBar:
        return QStringLiteral("progress bar");
    case QAccessible::Tree:
        return QStringLiteral("tree");
    case QAccessible::List:
        return QStringLiteral("list");
    case QAccessible::Table:
        return QStringLiteral("table");
    case QAccessible::Dialog:
        return QStringLiteral("dialog");
    case QAccessible::AlertMessage:
        return QStringLiteral("alert");
    case QAccessible::Window:
        return QStringLiteral("window");
    case QAccessible::Client:
        return QStringLiteral("window");
    case QAccessible::TreeItem:
        return QStringLiteral("tree item");
    case QAccessible::Row:
        return QStringLiteral("row");
    case QAccessible::Cell:
        return QStringLiteral("cell");
    default:
        return QStringLiteral("role %1").arg(int(role));
    }
}

QString AccessibleView::announcement() const
{
    QStringList parts{roleName(role) + QStringLiteral(" \"") + name + QLatin1Char('"')};
    if (state.checkable)
        parts << (state.checked ? QStringLiteral("checked") : QStringLiteral("not checked"));
    if (state.disabled)
        parts << QStringLiteral("unavailable");
    if (!value.isEmpty() && value != name)
        parts << QLatin1Char('"') + value + QLatin1Char('"');
    if (!description.isEmpty())
        parts << QLatin1Char('"') + description + QLatin1Char('"');
    return parts.join(QStringLiteral(", "));
}

QStringList AccessibleView::mismatches(QWidget* window)
{
    QStringList wrong;
    QList<QWidget*> controls = window->findChildren<QWidget*>();
    controls.prepend(window);
    for (QWidget* w : controls) {
        const AccessibleView view = of(w);
        const QString who =
            QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->objectName();
        // Parts of composite controls (scroll bars, viewports, the list header) speak for
        // their owner.
        if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLabel*>(w) && !qobject_cast<QGroupBox*>(w) &&
            !qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w) &&
            !qobject_cast<QAbstractItemView*>(w) && !qobject_cast<QProgressBar*>(w) && w != window)
            continue;
        // Other windows (dialogs owned by this one, a drop-down's popup) are walked on their own.
        if (w->window() != window)
            continue;
        if ((qobject_cast<QLineEdit*>(w) && qobject_cast<QComboBox*>(w->parentWidget())) ||
            qobject_cast<QHeaderView*>(w))
            continue;
        if (!view.exists || view.role == QAccessible::NoRole) {
            wrong << who + QStringLiteral(": no role");
            continue;
        }
        QString caption;
        bool captioned = true;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            caption = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            caption = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            caption = g->title();
        else if (w == window)
            caption = w->windowTitle();
        else
            captioned = false;
        caption.remove(QLatin1Char('&'));
        if (captioned && view.name != caption)
            wrong << who + QStringLiteral(": named \"") + view.name + QStringLiteral("\", caption \"") +
                         caption + QLatin1Char('"');
        else if (!captioned && view.name.trimmed().isEmpty())
            wrong << who + QStringLiteral(": no name");
    }
    return wrong;
}
