// Reading /proc/PID/stat for each process left.
#include "sandbox/supervisor/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

struct Account {
  bool at_work = false;
  unsigned long long processor_time = 0;
  bool gone = true;
};

// The start of /proc/PID/NAME, as text ending in NUL; false when it cannot be read (the
// process is gone).
template <std::size_t SIZE>
bool read_proc_file(pid_t pid, const char* name, std::array<char, SIZE>* text) {
  std::array<char, 64> path{};
  std::snprintf(path.data(), path.size(), "/proc/%d/%s", static_cast<int>(pid), name);
  const int fd = open(path.data(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const ssize_t got = read(fd, text->data(), text->size() - 1);
  close(fd);
  if (got <= 0) {
    return false;
  }
  (*text)[static_cast<std::size_t>(got)] = '\0';
  return true;
}

// Whether `pid` sleeps reading a pipe: it waits for a writer, who is at work or will close
// it (a filter of the extension's input, whose end the host has sent; a copy of that pipe's
// end held a moment by another extension's start).
bool reading_a_pipe(pid_t pid) {
  std::array<char, 64> where{};
  return read_proc_file(pid, "wchan", &where) && std::strstr(where.data(), "pipe_read") != nullptr;
}

// The nanoseconds `pid` has run, to the nanosecond (the scheduler's own account, where the
// kernel keeps it): any run between two looks shows. None where it is not kept.
std::optional<unsigned long long> nanoseconds_run(pid_t pid) {
  std::array<char, 128> text{};
  if (!read_proc_file(pid, "schedstat", &text)) {
    return std::nullopt;
  }
  return std::strtoull(text.data(), nullptr, 10);
}

// The state and the processor time of `pid`: to the nanosecond where the kernel keeps it,
// else in the clock ticks of its user and system time.
Account account_of(pid_t pid) {
  Account account;
  std::array<char, 1024> text{};
  if (!read_proc_file(pid, "stat", &text)) {
    return account;
  }
  // The command's name may hold anything: the fields start after its last parenthesis.
  const char* fields = std::strrchr(text.data(), ')');
  if (fields == nullptr || fields[1] == '\0') {
    return account;
  }
  account.gone = false;
  const char state = fields[2];
  account.at_work = state == 'R' || state == 'D' || (state == 'S' && reading_a_pipe(pid));
  // After the state: ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt, then
  // utime and stime.
  const char* at = fields + 3;
  for (int skipped = 0; skipped < 10 && at != nullptr; ++skipped) {
    at = std::strchr(at + 1, ' ');
  }
  if (const std::optional<unsigned long long> run = nanoseconds_run(pid)) {
    account.processor_time = *run;
  } else if (at != nullptr) {
    char* end = nullptr;
    const unsigned long long user = std::strtoull(at, &end, 10);
    account.processor_time = user + std::strtoull(end, nullptr, 10);
  }
  return account;
}

// Calls `each` for every process to watch: all of a PID namespace's but its first, or the
// descendants of this process.
template <typename Each>
void for_each_process(bool pid_namespace, Each each) {
  if (pid_namespace) {
    DIR* listing = opendir("/proc");
    while (const dirent* entry = listing == nullptr ? nullptr : readdir(listing)) {
      const long pid = std::strtol(entry->d_name, nullptr, 10);
      if (pid > 1) {
        each(static_cast<pid_t>(pid));
      }
    }
    if (listing != nullptr) {
      closedir(listing);
    }
    return;
  }
  std::array<pid_t, 1024> pending{};
  std::size_t count = 0;
  pending[count++] = getpid();
  while (count > 0) {
    const pid_t pid = pending[--count];
    if (pid != getpid()) {
      each(pid);
    }
    std::array<char, 64> path{};
    std::snprintf(path.data(), path.size(), "/proc/%d/task/%d/children", static_cast<int>(pid),
                  static_cast<int>(pid));
    const int fd = open(path.data(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    std::array<char, 4096> text{};
    const ssize_t got = read(fd, text.data(), text.size() - 1);
    close(fd);
    for (const char* at = text.data(); got > 0 && *at != '\0';) {
      char* end = nullptr;
      const long child = std::strtol(at, &end, 10);
      if (end == at) {
        break;
      }
      if (child > 0 && count < pending.size()) {
        pending[count++] = static_cast<pid_t>(child);
      }
      at = end;
    }
  }
}

}  // namespace

bool LeftoverWatch::asleep_since_last_look() {
  bool asleep = true;
  std::array<Seen, MAX_SEEN> now{};
  std::size_t now_count = 0;
  for_each_process(pid_namespace_, [&](pid_t pid) {
    const Account account = account_of(pid);
    if (account.gone) {
      return;
    }
    if (now_count == now.size()) {
      asleep = false;  // more than can be followed: taken as at work
      return;
    }
    now[now_count++] = {pid, account.processor_time};
    bool same_as_before = false;
    for (std::size_t i = 0; i < seen_count_; ++i) {
      if (seen_[i].pid == pid) {
        same_as_before = seen_[i].processor_time == account.processor_time;
        break;
      }
    }
    asleep = asleep && !account.at_work && same_as_before;
  });
  const bool first = !looked_;
  looked_ = true;
  seen_ = now;
  seen_count_ = now_count;
  return asleep && !first;
}
