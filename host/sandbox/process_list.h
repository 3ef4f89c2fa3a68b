// Killing each process a kernel file lists by number (a cgroup's cgroup.procs, a task's
// children), with nothing but system calls: the supervisor calls it, and so does the
// host's handler of a terminating signal. Header-only, shared by the two programs.
#ifndef HOST_SANDBOX_PROCESS_LIST_H_
#define HOST_SANDBOX_PROCESS_LIST_H_

#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstddef>

// Sends SIGKILL to each process listed in the open file `fd` (numbers apart by any other
// byte), and closes it. Returns how many were sent it.
inline int kill_listed(int fd) {
  std::array<char, 4096> text{};
  int killed = 0;
  long pid = 0;
  const auto end_number = [&] {
    if (pid > 0) {
      kill(static_cast<pid_t>(pid), SIGKILL);
      ++killed;
    }
    pid = 0;
  };
  for (ssize_t got = 0; (got = read(fd, text.data(), text.size())) > 0;) {
    for (ssize_t i = 0; i < got; ++i) {
      const char character = text[static_cast<std::size_t>(i)];
      if (character >= '0' && character <= '9') {
        pid = pid * 10 + (character - '0');
      } else {
        end_number();
      }
    }
  }
  end_number();
  close(fd);
  return killed;
}

#endif  // HOST_SANDBOX_PROCESS_LIST_H_
