// Waiting on the extension, and ending all it started.
//
// The supervisor is either the first process of a PID namespace of its own (then every
// process the extension starts stays in that namespace however it detaches, and the
// kernel ends them all when the supervisor ends) or, where no namespace can be made, a
// child subreaper (orphans come to it, and it ends them one by one).
#ifndef HOST_SANDBOX_SUPERVISOR_SUPERVISE_H_
#define HOST_SANDBOX_SUPERVISOR_SUPERVISE_H_

#include <sys/types.h>

#include "sandbox/descriptor_map.h"
#include "sandbox/supervisor_report.h"

// Writes one record to the host.
void report(SupervisorReport::Kind kind, int value,
            SupervisorReport::Step step = SupervisorReport::kNoStep);

// Ends every process left and reaps them all. Returns how many were reaped besides the
// extension; when the extension ends here, sets `*extension_running` to false and
// `*extension_status` to its wait status.
int end_everything(bool pid_namespace, pid_t extension, bool* extension_running,
                   int* extension_status);

// Removes `folder` and all in it, if it is not null: the extension's temporary folder,
// where no private TMPDIR could be made. Links are removed, never followed, and no other
// file system is entered; folders the extension made unreadable are opened first.
void remove_temporary_folder(const char* folder);

// Waits for the extension to end, tells the host, and then whether anything it started
// was left behind once the host has closed its input (a byte on the control pipe says
// so): asleep, or at work beyond a limit (see LeftoverWatch); those it then ends. Or it
// ends everything at
// once when the host closes the control pipe (asks for the end, or is gone). Reaps
// children as they end; once none is left, removes `temporary_folder` (if not null), so
// that nothing stays whatever ended the host. `child_events` is a signalfd for SIGCHLD.
// Never returns.
[[noreturn]] void supervise(bool pid_namespace, pid_t extension, int child_events,
                            const char* temporary_folder);

#endif  // HOST_SANDBOX_SUPERVISOR_SUPERVISE_H_
