// Starting an extension's supervisor, extension-sandbox, in the namespaces asked for.
//
// It is started as posix_spawn starts a program: a child that shares the host's memory
// only until it runs the supervisor's program, so the host is never copied (a copy of a
// host with hundreds of megabytes and several threads costs more than the extension's own
// start, and would leave the host's memory in a process inside the sandbox).
#ifndef HOST_SANDBOX_LAUNCH_H_
#define HOST_SANDBOX_LAUNCH_H_

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct Supervised {
  pid_t supervisor = -1;
  // A descriptor of the supervisor (a pidfd), made with it: signals and waits go through
  // it, and reach no other process however its number is reused.
  int process = -1;
  int reports = -1;  // the read end of the supervisor's reports
  int control = -1;  // the write end of the control pipe: closing it ends everything
};

struct SupervisorLaunch {
  std::string program;                   // extension-sandbox
  std::vector<std::string> argv;         // its whole command line, argv[0] first
  std::vector<std::string> environment;  // the extension's, which it passes on
  int namespaces = 0;                    // CLONE_NEW* flags
  int filter = -1;                       // the sealed system call filter, or -1
  std::vector<int> groups;               // cgroup.procs files to join
};

// Starts the supervisor with the extension's standard input, output and error on
// `input`, `output` and `error`, its reports and control pipes, the filter and the
// groups' files, and no other descriptor. In a user namespace it maps only this user
// and group, as itself, and keeps its capabilities there across its exec, to make the
// mounts. Returns 0 and fills `*supervised`, or an error number when it could not be
// started (EPERM and EINVAL, among others, when the namespaces are refused). The caller
// owns the three descriptors, and reaps the supervisor.
// REQUIRES: the calling thread outlives the supervisor, as the parent-death signal
// follows the thread that made it.
int launch_supervisor(const SupervisorLaunch& launch, int input, int output, int error,
                      Supervised* supervised);

// Reaps the supervisor through `process`, its descriptor, waiting for its end until
// `patience` has passed, then ending it with SIGKILL: no wait on a supervisor is without
// a deadline. Closes `process`. Returns whether it had ended by itself.
bool reap_supervisor(int process, std::chrono::milliseconds patience);

#endif  // HOST_SANDBOX_LAUNCH_H_
