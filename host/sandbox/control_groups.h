// Control groups of one extension each, that bound how many processes it may have and how
// much memory it may use: the kernel's own accounting, which nothing it does escapes.
//
// The groups are made beside the host's own, inside the nearest group that hands the
// controller down (cgroup v2) or in the host's own group of that controller's hierarchy
// (cgroup v1), so that an extension stays within whatever bounds the host itself is in.
// Where no such folder may be written (an unprivileged user, a read-only /sys/fs/cgroup),
// the bound is not made, and the sandbox says so.
#ifndef HOST_SANDBOX_CONTROL_GROUPS_H_
#define HOST_SANDBOX_CONTROL_GROUPS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The groups of one extension: removed, by remove(), once nothing runs in them.
class ExtensionGroups {
 public:
  ExtensionGroups() = default;
  ExtensionGroups(ExtensionGroups&& other) noexcept;
  ExtensionGroups& operator=(ExtensionGroups&& other) noexcept;
  ExtensionGroups(const ExtensionGroups&) = delete;
  ExtensionGroups& operator=(const ExtensionGroups&) = delete;
  ~ExtensionGroups();

  // The open cgroup.procs of each group: the supervisor writes itself into them. Owned.
  [[nodiscard]] const std::vector<int>& joining() const { return joining_; }
  // Closes the cgroup.procs files, once the supervisor has them.
  void close_joining();
  // Removes the groups. REQUIRES: every process in them has ended.
  void remove();

 private:
  friend class ControlGroups;
  std::vector<std::string> folders_;
  std::vector<int> joining_;
  long slot_ = -1;  // where a terminating signal's handler finds it; -1: nowhere
};

// Ends every process of the groups this host made and has not removed (each supervisor,
// and its namespace with it), and removes the groups, waiting a moment for them to empty.
// Makes only calls a signal handler may make: for the handler of a terminating signal, so
// that a host ended by SIGTERM or SIGHUP leaves no group behind.
void end_live_groups();

class ControlGroups {
 public:
  // Where this process may make groups for each controller, found from /proc/self; and
  // the groups of hosts that were killed before they could remove theirs, removed.
  static ControlGroups find();

  [[nodiscard]] bool bounds_processes() const { return !processes_.empty(); }
  [[nodiscard]] bool bounds_memory() const { return !memory_.empty(); }

  // Makes the groups of one extension: at most `max_processes` processes and threads,
  // and `max_memory` bytes, as far as this machine bounds them. On failure returns none
  // and says why in `*problem`. Safe to call from several threads at once.
  std::optional<ExtensionGroups> make(long max_processes, std::size_t max_memory,
                                      std::string* problem) const;

 private:
  std::string processes_;  // the folder to make process-bounding groups in; empty: none
  std::string memory_;
  bool memory_v2_ = false;  // the unified hierarchy names its limit otherwise
};

#endif  // HOST_SANDBOX_CONTROL_GROUPS_H_
