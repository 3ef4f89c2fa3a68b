// Whether what an extension left running when it exited is at work or asleep: the rule
// that tells a wrapper's filter, finishing what its input brought (at work, or waiting
// to run on a busy machine), from a process left behind (asleep, waiting for what will
// never come). Read from the kernel's account of each process, so no load can make one
// look like the other.
#ifndef HOST_SANDBOX_SUPERVISOR_LEFTOVERS_H_
#define HOST_SANDBOX_SUPERVISOR_LEFTOVERS_H_

#include <sys/types.h>

#include <array>
#include <cstddef>

class LeftoverWatch {
 public:
  // Watches the processes of the supervisor's PID namespace (`pid_namespace`), or its
  // descendants (a subreaper's), but the supervisor itself.
  explicit LeftoverWatch(bool pid_namespace) : pid_namespace_(pid_namespace) {}

  // Takes a look. Returns true when every process is asleep (not running, ready to run,
  // waiting on the disk, or reading a pipe, whose writer will either write or close it)
  // and none has run at all since the previous look; always false at the first look.
  bool asleep_since_last_look();

 private:
  struct Seen {
    pid_t pid = 0;
    unsigned long long processor_time = 0;
  };
  static constexpr std::size_t MAX_SEEN = 1024;

  bool pid_namespace_;
  bool looked_ = false;
  std::array<Seen, MAX_SEEN> seen_{};
  std::size_t seen_count_ = 0;
};

#endif  // HOST_SANDBOX_SUPERVISOR_LEFTOVERS_H_
