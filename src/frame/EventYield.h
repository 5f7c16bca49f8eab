#pragma once

// Lets the user interface process its pending events once ("DoEvents"). Long operations
// call it at fixed points so that Stop, progress and other clicks are handled meanwhile.
// Posted events are handled at every call; the poll of sockets, timers and input at most once
// a millisecond.
void yieldEvents();
