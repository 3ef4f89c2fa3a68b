// Whether an extension is at work or asleep, read from the kernel: what tells an
// extension that starts slowly (an interpreter, a virtual machine, a busy machine: its
// processes run, or wait to run) from one that waits for what never comes (all its
// processes asleep). Load cannot make a waiting process look asleep, nor the reverse.
#ifndef HOST_PROCESS_ACTIVITY_H_
#define HOST_PROCESS_ACTIVITY_H_

#include <sys/types.h>

// Whether any thread of any process under `supervisor` (its descendants, not itself) is
// running, ready to run, or in an uninterruptible wait (most often the disk). False when
// none is. True when it has no process: the extension is not started yet (or has ended,
// which its closed output tells the caller sooner).
bool any_process_at_work(pid_t supervisor);

#endif  // HOST_PROCESS_ACTIVITY_H_
