// A lock-free list of live groups, safe to read from a signal handler.
#include "process/process_groups.h"

#include <array>
#include <atomic>
#include <csignal>
#include <mutex>

namespace {

// The host's one piece of global state: a signal handler has nowhere else to look.
std::array<std::atomic<pid_t>, kMaxGroups> live_groups{};

void end_listed_groups_and_die(int signal_number) {
  for (std::atomic<pid_t>& slot : live_groups) {
    const pid_t group = slot.load();
    if (group > 0) {
      kill(-group, SIGKILL);
    }
  }
  // The default action now: the host ends as the signal meant it to.
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void end_groups_on_fatal_signals() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action = {};
    action.sa_handler = end_listed_groups_and_die;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
      sigaction(signal_number, &action, nullptr);
    }
  });
}

bool list_group(pid_t group) {
  for (std::atomic<pid_t>& slot : live_groups) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, group)) {
      return true;
    }
  }
  return false;
}

void unlist_group(pid_t group) {
  for (std::atomic<pid_t>& slot : live_groups) {
    pid_t listed = group;
    if (slot.compare_exchange_strong(listed, 0)) {
      return;
    }
  }
}
