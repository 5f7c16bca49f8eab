#include "mail/ImapCallScope.h"

#include "mail/Clock.h"
#include "mail/ImapConnection.h"

ImapCallScope::ImapCallScope(ImapConnection& connection, const QString& name)
    : call(name)
    , d(connection)
    , savedBusy(connection.busy)
    , savedBusyGeneration(connection.busyGeneration)
{
    ++d.callDepth;
    call.generation = d.generation;
    call.lastAbortCheck = d.clock->now();
}

ImapCallScope::~ImapCallScope()
{
    d.lastError = call.log.text();
    d.busy = savedBusy;
    d.busyGeneration = savedBusyGeneration;
    if (--d.callDepth == 0)
        d.retired.clear();
}

void ImapCallScope::claim()
{
    d.busy = true;
    d.busyGeneration = d.generation;
    call.generation = d.generation;
}
