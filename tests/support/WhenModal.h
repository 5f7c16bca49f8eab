#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs `action` once `window` has become the application's active modal window, that is,
// once its modal event loop is really running (a window may process events while it is
// still being shown).
inline void whenModal(QWidget* window, std::function<void()> action)
{
    auto* poll = new QTimer(window);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, window, [poll, window, action] {
        if (QApplication::activeModalWidget() != window || !window->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}
