#include "frame/EventYield.h"

#include <QCoreApplication>
#include <QElapsedTimer>

void yieldEvents()
{
    // Posted events (queued calls, clicks passed on, repaint requests) are handled at every yield.
    // The event loop's full round, which polls every socket, timer and input source the window
    // has, runs at most once a millisecond: a retrieval yields several times per message, many
    // thousands of times a second, and input or data that comes meanwhile waits a millisecond
    // at most.
    static QElapsedTimer sinceFullRound;
    if (sinceFullRound.isValid() && sinceFullRound.nsecsElapsed() < 1000 * 1000) {
        QCoreApplication::sendPostedEvents();
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sinceFullRound.start();
}
