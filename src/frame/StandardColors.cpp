#include "frame/StandardColors.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace {
void paintButtonFace(QWidget* w, const QColor& face)
{
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, face);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
}
} // namespace

void ApplyStandardColors(QWidget* window)
{
    const QColor face = QApplication::palette().color(QPalette::Button);
    paintButtonFace(window, face);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) || qobject_cast<QGroupBox*>(child)
            || qobject_cast<QLabel*>(child))
            paintButtonFace(child, face);
    }
}
