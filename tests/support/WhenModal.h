#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Runs `action` once `window` has become the application's active modal window, that is,
// once its modal event loop is really running (a window may process events while it is
// still being shown), and the window system has made it the active window, so that keys
// reach its focus widget. The activation comes a moment after the show and later still on
// a loaded machine; a window system that never activates it gets two seconds.
inline void whenModal(QWidget* window, std::function<void()> action)
{
    auto* poll = new QTimer(window);
    poll->setInterval(5);
    const auto sinceShown = std::make_shared<QElapsedTimer>();
    QObject::connect(poll, &QTimer::timeout, window, [poll, window, action, sinceShown] {
        if (QApplication::activeModalWidget() != window || !window->isVisible())
            return;
        if (!sinceShown->isValid())
            sinceShown->start();
        if (!window->isActiveWindow() && sinceShown->elapsed() < 2000)
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}
