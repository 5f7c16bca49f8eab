#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Paints a window at a steady rate, not once per change. A retrieval yields to the event loop
// once or twice per message and changes the progress bar, its text and the list every time;
// painting and showing the whole window at each of those yields cost far more than reading
// the message. The pacer lets one paint through, holds the window's next paint requests for
// the rest of the frame (50 ms, twenty frames a second: as smooth as a progress display needs,
// and a third less painting than thirty) and then paints once with everything
// that changed meanwhile.
// Input, timers and accessibility events are not held; only the repaint waits.
class PaintPacer : public QObject {
public:
    explicit PaintPacer(QWidget& window, int frameMs = 50);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintHeld();

    QWidget& m_window;
    const int m_frameMs;
    QElapsedTimer m_sinceLastPaint;
    QTimer m_held;
    bool m_painting = false;
};
