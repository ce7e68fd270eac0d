#pragma once

namespace qb {

// With TZ unset, the C library looks at the system's time zone file again for every
// local time worked out, and Qt works out one for every date it converts or shows: a
// file status each, most of the time of listing a large store. Naming that same file in
// TZ (":/etc/localtime", which Qt knows as the system's zone) has it read once. Nothing
// changes when TZ is set. Call at the start of main, before any thread starts.
void readTimeZoneFileOnce();

} // namespace qb
