// The child between clone and exec runs in the host's memory, on a stack of its own: it
// makes only system calls, and every signal is held off it until its handlers are the
// defaults, so that none of the host's handlers runs in it.
#include "sandbox/launch.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>

#include "sandbox/default_signals.h"
#include "sandbox/descriptor_map.h"

namespace {

constexpr std::size_t CHILD_STACK_BYTES = std::size_t{64} << 10U;
// Descriptors are moved above this before they are put in place, so that none is
// overwritten before it has been moved.
constexpr int OUT_OF_THE_WAY = 64;

std::vector<char*> pointers(const std::vector<std::string>& words) {
  std::vector<char*> list;
  list.reserve(words.size() + 1);
  for (const std::string& word : words) {
    list.push_back(const_cast<char*>(word.c_str()));  // NOLINT: exec never writes through it
  }
  list.push_back(nullptr);
  return list;
}

// Everything the child needs, made before the clone.
struct ChildStart {
  const char* program = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  bool user_namespace = false;
  std::array<char, 48> uid_map{};
  std::array<char, 48> gid_map{};
  std::array<int, SUPERVISOR_DESCRIPTORS> wanted{};  // -1 where none
  int placed = 0;          // descriptors 0 .. placed-1 are the supervisor's
  volatile int error = 0;  // why the exec failed, read by the parent after the clone
};

bool write_file(const char* path, const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = write(fd, text, length) == static_cast<ssize_t>(length);
  close(fd);
  return written;
}

// In a new user namespace: this user and group mapped as themselves, and every
// capability the namespace gives kept across the exec, as ambient capabilities, since a
// program run by anyone but root would lose them.
bool enter_user_namespace(const ChildStart& start) {
  if (!write_file("/proc/self/setgroups", "deny") ||
      !write_file("/proc/self/uid_map", start.uid_map.data()) ||
      !write_file("/proc/self/gid_map", start.gid_map.data())) {
    return false;
  }
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
  if (syscall(SYS_capget, &header, data.data()) != 0) {
    return false;
  }
  for (__user_cap_data_struct& word : data) {
    word.inheritable = word.permitted;
  }
  if (syscall(SYS_capset, &header, data.data()) != 0) {
    return false;
  }
  for (unsigned long capability = 0;; ++capability) {
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, capability, 0, 0) != 0) {
      return errno == EINVAL;  // past the last capability this kernel knows
    }
  }
}

// Puts each wanted descriptor at its place in the map and closes every other. Returns
// false, with errno set, when one cannot be placed: a supervisor missing its report pipe
// could not say how the extension ended.
bool place_descriptors(const ChildStart& start) {
  std::array<int, SUPERVISOR_DESCRIPTORS> moved{};
  // Moved out of the way first, so that none is overwritten before it has been moved.
  for (int i = 0; i < start.placed; ++i) {
    const int fd = start.wanted[static_cast<std::size_t>(i)];
    moved[static_cast<std::size_t>(i)] = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, OUT_OF_THE_WAY);
    if (fd >= 0 && moved[static_cast<std::size_t>(i)] < 0) {
      return false;
    }
  }
  for (int i = 0; i < start.placed; ++i) {
    const int fd = moved[static_cast<std::size_t>(i)];
    // The copy in place is inherited; the one out of the way is not.
    if (fd >= 0 && dup2(fd, i) != i) {
      return false;
    }
    if (fd < 0 && close(i) != 0 && errno != EBADF) {
      return false;
    }
  }
  // Closed at once, not at the exec: until then this child holds every descriptor the host
  // had, among them other extensions' pipes, whose ends it would keep open.
  return close_range(static_cast<unsigned>(start.placed), ~0U, 0) == 0;
}

int run_supervisor(void* argument) {
  ChildStart& start = *static_cast<ChildStart*>(argument);
  default_signals();
  if (start.user_namespace && !enter_user_namespace(start)) {
    start.error = errno;
    _exit(127);
  }
  if (!place_descriptors(start)) {
    start.error = errno;
    _exit(127);
  }
  execve(start.program, start.argv, start.envp);
  start.error = errno;
  _exit(127);
}

}  // namespace

int launch_supervisor(const SupervisorLaunch& launch, int input, int output, int error,
                      Supervised* supervised) {
  std::array<int, 2> reports{};
  std::array<int, 2> control{};
  if (pipe2(reports.data(), O_CLOEXEC) != 0) {
    return errno;
  }
  if (pipe2(control.data(), O_CLOEXEC) != 0) {
    const int failure = errno;
    close(reports[0]);
    close(reports[1]);
    return failure;
  }
  const std::vector<char*> argv = pointers(launch.argv);
  const std::vector<char*> envp = pointers(launch.environment);
  ChildStart start;
  start.program = launch.program.c_str();
  start.argv = argv.data();
  start.envp = envp.data();
  start.user_namespace = (launch.namespaces & CLONE_NEWUSER) != 0;
  std::snprintf(start.uid_map.data(), start.uid_map.size(), "%u %u 1\n", geteuid(), geteuid());
  std::snprintf(start.gid_map.data(), start.gid_map.size(), "%u %u 1\n", getegid(), getegid());
  start.wanted.fill(-1);
  start.wanted[STDIN_FILENO] = input;
  start.wanted[STDOUT_FILENO] = output;
  start.wanted[STDERR_FILENO] = error;
  start.wanted[REPORTS_FD] = reports[1];
  start.wanted[CONTROL_FD] = control[0];
  start.wanted[FILTER_FD] = launch.filter;
  start.placed = FIRST_GROUP_FD;
  for (const int group : launch.groups) {
    if (start.placed < SUPERVISOR_DESCRIPTORS) {
      start.wanted[static_cast<std::size_t>(start.placed++)] = group;
    }
  }

  const std::unique_ptr<char[]> stack(new char[CHILD_STACK_BYTES]);
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  // A descriptor of the supervisor is made with it: signals and waits through it reach it
  // and no other process, even if a program that hosts the library reaps it with its own
  // waitpid(-1) and its number is given to another.
  int process = -1;
  const pid_t pid =
      clone(run_supervisor, stack.get() + CHILD_STACK_BYTES,
            CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD | launch.namespaces, &start, &process);
  const int clone_error = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(reports[1]);
  close(control[0]);
  int failure = pid < 0 ? clone_error : start.error;
  if (pid > 0 && failure != 0) {
    siginfo_t ended = {};
    while (waitid(P_PIDFD, static_cast<id_t>(process), &ended, WEXITED) < 0 && errno == EINTR) {
    }
    close(process);
  }
  if (failure != 0) {
    close(reports[0]);
    close(control[1]);
    return failure;
  }
  supervised->supervisor = pid;
  supervised->process = process;
  supervised->reports = reports[0];
  supervised->control = control[1];
  return 0;
}

bool reap_supervisor(int process, std::chrono::milliseconds patience) {
  // Its descriptor wakes the wait at its end, not a polling clock.
  bool ended_by_itself = true;
  if (process >= 0) {
    pollfd ended = {process, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + patience;
    const auto milliseconds_left = [&] {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
    };
    int ready = 0;
    while ((ready = poll(&ended, 1, milliseconds_left())) < 0 && errno == EINTR) {
    }
    if (ready == 0) {
      syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0);
      ended_by_itself = false;
    }
    // ECHILD when the program that hosts the library reaped it first: it has ended either
    // way, and its reports, not its status, tell how the extension ended.
    siginfo_t status = {};
    while (waitid(P_PIDFD, static_cast<id_t>(process), &status, WEXITED) < 0 && errno == EINTR) {
    }
    close(process);
  }
  return ended_by_itself;
}
