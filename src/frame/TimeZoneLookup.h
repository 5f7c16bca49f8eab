#pragma once

// Every local-time conversion (each message's date, each error-log line) asks the C library
// for the time zone. With TZ unset it looks at /etc/localtime again each time, a file-system
// call per conversion that made up most of the cost of listing a message. Naming that same
// file in TZ, before anything else starts, makes the library read it once: the zone and the
// texts stay exactly what they were (Qt reads ":/etc/localtime" as the system zone), only a
// change of the machine's zone while Corvanel runs is seen at its next start.
// A TZ the user has set is left alone.
void pinTimeZoneLookup();
