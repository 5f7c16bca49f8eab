#include "frame/EventYield.h"

#include <QCoreApplication>

void yieldEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
