#pragma once

#include <QtGlobal>

class ImapTransport;

// Time as the IMAP client sees it: for its time-outs and abort checks, and for waiting on the
// network. The program uses SystemClock; tests use a clock they move by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary start; never goes back.
    virtual qint64 now() const = 0;
    // Lets socket and timer events run (no user input) until `transport` reports activity or
    // `ms` have passed.
    virtual void sleep(int ms, ImapTransport& transport) = 0;
};
