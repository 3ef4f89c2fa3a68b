// An extension held so that nothing it starts outlives it, or the host.
//
// Each extension runs under a supervisor of its own: a process that the host forks and
// that runs no program, only system calls. It starts the extension and waits on it.
// Where the machine allows, the supervisor is the first process of a new PID namespace,
// as container runtimes hold their workloads: whatever the extension starts stays in
// that namespace however it detaches (a double fork, setsid()), and when the supervisor
// ends, the kernel ends every process in it. The supervisor gets SIGKILL when the host
// ends, by any means, SIGKILL included (a parent-death signal), so a killed host leaves
// nothing running. A PID namespace needs privilege: as root it is made directly; any
// other user makes it inside a user namespace of its own, where the machine allows
// unprivileged ones (Debian does), mapping only its own user and group. Where neither is
// allowed, the supervisor is a child subreaper: the extension's orphans come to it
// however they detach, and it ends them one by one; it then ends everything when the
// host's end of the control pipe closes, which happens however the host ends.
//
// The supervisor reports to the host on a pipe, in fixed-size records: that the program
// started (or why it could not), how it ended, and then whether anything it started was
// still running LEFTOVER_GRACE after it ended, which the supervisor then ended.
#ifndef HOST_PROCESS_CONTAINMENT_H_
#define HOST_PROCESS_CONTAINMENT_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// How long the processes an extension started may outlive it, to finish what they were
// doing, before they are ended and it is reported as having left a process behind.
inline constexpr std::chrono::milliseconds LEFTOVER_GRACE{200};

// One record from the supervisor.
struct SupervisorReport {
  enum Kind : std::int32_t {
    kStarted = 1,     // the program is running
    kExecFailed = 2,  // value: the error number of the failed exec
    kExited = 3,      // value: the program's wait status
    kAlone = 4,       // nothing it started was left running; the supervisor is ending
    kLeftBehind = 5,  // value: how many processes were left and have been ended
  };
  std::int32_t kind = 0;
  std::int32_t value = 0;
};

struct Supervised {
  pid_t supervisor = -1;
  int reports = -1;  // the read end of the supervisor's reports
  int control = -1;  // the write end of the control pipe: closing it ends everything
};

// Starts a supervisor that starts `program` (a path, as find_program gives it) with
// `argv`, the environment `environment` ("NAME=value" each), standard input, output and
// error on `input`,
// `output` and `error`, every signal at its default action and unblocked, and no other
// descriptor open. The supervisor holds no descriptor of the host's but its two pipes.
// Returns 0 and fills `*supervised`, or an error number when no supervisor could be made;
// a program that cannot be run is told by the first report (kExecFailed). The caller owns
// the two descriptors, and reaps the supervisor.
// REQUIRES: !argv.empty(); the calling thread outlives the supervisor, as the
// parent-death signal follows the thread that made it.
int start_supervised(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment, int input, int output, int error,
                     Supervised* supervised);

#endif  // HOST_PROCESS_CONTAINMENT_H_
