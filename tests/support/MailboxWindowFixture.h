#pragma once

#include "support/FakeMailbox.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedImapServer.h"

class TestCertificates;

// A main window whose connects reach a FakeMailbox over TLS: "Inbox" with `inboxMessages`
// messages, an empty "Drafts", four in "Sent", nine in "Deleted" and no "Junk" (it cannot be
// selected). Every FETCH answer goes out in chunks of 48 bytes every 2 ms; with `slowAnswers`
// every other answer too, 5 bytes every 3 ms, so that connecting and counting take a while.
// The window is loaded, shown, with "Inbox" chosen, and not yet connected.
struct MailboxWindowFixture {
    MailboxWindowFixture(const TestCertificates& certificates, int inboxMessages, bool slowAnswers = false);

    static QString user() { return QStringLiteral("storm.tester"); }
    static QString password() { return QStringLiteral("secret"); }
    bool connect() { return w.connectAs(user(), password()); }

    ScriptedImapServer server;
    FakeMailbox mailbox;
    MainWindowFixture w;
};
