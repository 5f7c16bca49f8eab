#include "ui/PaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

PaintPacer::PaintPacer(QWidget& window, int frameMs)
    : QObject(&window)
    , m_window(window)
    , m_frameMs(frameMs)
{
    m_held.setSingleShot(true);
    connect(&m_held, &QTimer::timeout, this, &PaintPacer::paintHeld);
    window.installEventFilter(this);
}

bool PaintPacer::eventFilter(QObject* watched, QEvent* event)
{
    // Widgets ask their window for a paint with one posted UpdateRequest and ask no more until
    // it was handled, so one held request stands for every change made meanwhile.
    if (watched != &m_window || event->type() != QEvent::UpdateRequest || m_painting)
        return false;
    if (!m_sinceLastPaint.isValid() || m_sinceLastPaint.elapsed() >= m_frameMs) {
        m_sinceLastPaint.restart();
        return false;
    }
    if (!m_held.isActive())
        m_held.start(int(qMax<qint64>(1, m_frameMs - m_sinceLastPaint.elapsed())));
    return true;
}

void PaintPacer::paintHeld()
{
    m_sinceLastPaint.restart();
    QEvent request(QEvent::UpdateRequest);
    m_painting = true;
    QCoreApplication::sendEvent(&m_window, &request);
    m_painting = false;
}
