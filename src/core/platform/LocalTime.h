#pragma once

namespace vx {

// While TZ is unset the C library looks at /etc/localtime again on every
// local-time conversion: about eight stat() calls per exchange in the window,
// where every QDateTime is in local time. Naming that same file in TZ has it
// read once. A running program then keeps the zone it started with (a change
// of the system's zone is seen after a restart); summer time still follows
// the zone's rules. A TZ already set is left alone. Call first thing in
// main(), before any thread starts.
void readLocalTimeZoneOnce();

} // namespace vx
