#pragma once

// Receiver of the IMAP component's notifications. The component delivers them to the sink
// bound most recently, so a session that was stopped earlier never stops a later one.
class ImapEventSink {
public:
    virtual ~ImapEventSink() = default;
    // Raised about every 50 ms while a call waits on the network. Setting abort to true
    // abandons the call in progress.
    virtual void abortCheck(bool& abort) = 0;
    // Raised while a message arrives, with the share received (0..100).
    virtual void percentDone(int percent, bool& abort) = 0;
};
