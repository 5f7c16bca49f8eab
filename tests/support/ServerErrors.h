#pragma once

#include <QtTest>

// Fails the running test when a fake server (ScriptedImapServer, FakeIdentityServer) recorded
// errors, and names them, one a line.
#define VERIFY_NO_SERVER_ERRORS(server)                                                                      \
    QVERIFY2((server).errors().isEmpty(), qPrintable((server).errors().join(QLatin1Char('\n'))))
