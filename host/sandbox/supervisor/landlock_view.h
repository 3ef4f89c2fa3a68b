// The view of the files where no mount namespace can be made (the weaker sandbox): Landlock
// holds the extension to what the host shows instead of a root of its own. It may read
// and run what is shown read-only, list what is shown for listing, write its temporary
// folder and the folders granted writable, and use of /dev the harmless devices alone, so
// no terminal; /proc it may read. From Landlock's sixth version on, it may neither signal
// a process outside its sandbox (the host among them) nor reach one by an abstract socket.
// The machine's links need no rule: what they lead to is judged.
#ifndef HOST_SANDBOX_SUPERVISOR_LANDLOCK_VIEW_H_
#define HOST_SANDBOX_SUPERVISOR_LANDLOCK_VIEW_H_

#include <cstddef>

#include "sandbox/supervisor/shown.h"
#include "sandbox/supervisor_report.h"

// Makes the ruleset for `entries` and the `temporary_folder` (may be null). Returns its
// descriptor (close-on-exec), or -1 with the failed step in `*step` and errno set:
// kLandlock where the kernel has no Landlock, kReplaced where an entry was replaced.
int make_landlock_ruleset(const ViewEntry* entries, std::size_t count, const char* temporary_folder,
                          SupervisorReport::Step* step);

// Enters the ruleset, for good. REQUIRES: no_new_privs is set. Returns false with errno set.
bool enter_landlock(int ruleset);

#endif  // HOST_SANDBOX_SUPERVISOR_LANDLOCK_VIEW_H_
