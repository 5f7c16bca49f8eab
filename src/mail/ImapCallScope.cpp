#include "mail/ImapCallScope.h"

#include "mail/Clock.h"
#include "mail/ImapConnection.h"

ImapCallScope::ImapCallScope(ImapConnection& connection, const QString& name)
    : call(name)
    , d(connection)
    , savedBusy(connection.m_busy)
    , savedBusyGeneration(connection.m_busyGeneration)
{
    ++d.m_callDepth;
    call.generation = d.m_generation;
    call.lastAbortCheck = d.m_settings.clock->now();
}

ImapCallScope::~ImapCallScope()
{
    d.m_lastError = call.log.text();
    d.m_lastFailure = call.failure;
    d.m_lastFailure.host = d.m_host;
    d.m_busy = savedBusy;
    d.m_busyGeneration = savedBusyGeneration;
    if (--d.m_callDepth == 0)
        d.m_retired.clear();
}

bool ImapCallScope::refused()
{
    if (!d.busyElsewhere())
        return false;
    call.note(QStringLiteral("Refused: another call is still using the connection."));
    call.fail(ImapFailure::Kind::Other);
    return true;
}

// After a PREAUTH greeting a sign-in sends nothing (it would be a protocol error).
std::optional<int> ImapCallScope::settledBeforeSignIn()
{
    if (refused())
        return 0;
    if (!d.m_transport || !d.m_preauthenticated)
        return std::nullopt;
    call.note(QStringLiteral("Already signed in (the server greeted with PREAUTH); nothing was sent."));
    return 1;
}

bool ImapCallScope::accepted(const ImapOutcome& outcome, const QString& refusal)
{
    if (!outcome.completed)
        return false;
    if (outcome.status != "OK") {
        call.note(refusal);
        return false;
    }
    return true;
}

int ImapCallScope::signInEnded(const ImapOutcome& outcome, quint64 announcementsBefore)
{
    if (!accepted(outcome, QStringLiteral("Login refused.")))
        return 0;
    d.signedIn(announcementsBefore);
    call.note(QStringLiteral("Logged in."));
    return 1;
}

void ImapCallScope::claim()
{
    d.m_busy = true;
    d.m_busyGeneration = d.m_generation;
    call.generation = d.m_generation;
}
