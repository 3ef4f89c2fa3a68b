// The last steps before the extension's program runs, taken in the process that becomes
// it: no privilege left or to be gained, a bound on its processes, the system call filter.
#ifndef HOST_SANDBOX_SUPERVISOR_CONFINE_H_
#define HOST_SANDBOX_SUPERVISOR_CONFINE_H_

#include <linux/filter.h>

#include "sandbox/supervisor_report.h"

struct Confinement {
  bool pid_namespace = false;  // without one, the program goes when its supervisor goes
  long process_limit = 0;      // processes (and threads) its user may have; 0: none set
  bool drop_privilege = false;
  int landlock = -1;                   // a Landlock ruleset to enter, or none
  const sock_fprog* filter = nullptr;  // the system call filter, or none
  const char* program = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  bool probe = false;  // only try every step, then end with status 0
};

// Confines the calling process and runs the program. Returns only on failure: the step
// that failed (kNoStep when the exec itself failed), with its error number in `*error`.
// REQUIRES: the caller is the extension's process-to-be, with its streams in place; it
// may share memory with its parent, so it calls nothing but system calls.
SupervisorReport::Step confine_and_run(const Confinement& confinement, int* error);

#endif  // HOST_SANDBOX_SUPERVISOR_CONFINE_H_
