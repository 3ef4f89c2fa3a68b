// The supervisor: made with clone() in a new PID namespace where it can be, living only on
// system calls, since it is a copy of a threaded process whose locks (the heap's among
// them) another thread may have held at the moment of the copy.
#include "process/containment.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>

#include "process/spawn_child.h"

namespace {

constexpr std::size_t SUPERVISOR_STACK_BYTES = std::size_t{128} << 10U;
constexpr std::size_t EXEC_STACK_BYTES = std::size_t{32} << 10U;
// The supervisor's descriptors, once it has put them in place.
constexpr int REPORTS_FD = 3;
constexpr int CONTROL_FD = 4;

// Everything the supervisor needs, made before the clone: after it, nothing may allocate.
struct Plan {
  const char* program = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  int input = -1;
  int output = -1;
  int error = -1;
  int reports = -1;  // the write end
  int control = -1;  // the read end
  bool pid_namespace = false;
  bool user_namespace = false;
  std::array<char, 48> uid_map{};
  std::array<char, 48> gid_map{};
};

// What the exec child needs: it shares the supervisor's memory until it execs.
struct ExecStart {
  const Plan* plan = nullptr;
  int failure_fd = -1;  // written with errno when exec fails; closed by a good exec
};

void report(SupervisorReport::Kind kind, int value) {
  const SupervisorReport record{kind, value};
  // One record is far below PIPE_BUF, so it arrives whole or not at all.
  while (write(REPORTS_FD, &record, sizeof record) < 0 && errno == EINTR) {
  }
}

bool write_small_file(const char* path, const char* text, std::size_t length) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = write(fd, text, length) == static_cast<ssize_t>(length);
  close(fd);
  return written;
}

std::size_t text_length(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

long long now_ms() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void default_signals() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (signal_number != SIGKILL && signal_number != SIGSTOP) {
      sigaction(signal_number, &action, nullptr);
    }
  }
}

// Runs in the exec child, on its own stack, in the supervisor's memory.
int exec_program(void* argument) {
  const ExecStart& start = *static_cast<const ExecStart*>(argument);
  default_signals();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!start.plan->pid_namespace) {
    // Without a namespace to end it, the extension goes when its supervisor goes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
  }
  execve(start.plan->program, start.plan->argv, start.plan->envp);
  const int failure = errno;
  while (write(start.failure_fd, &failure, sizeof failure) < 0 && errno == EINTR) {
  }
  _exit(127);
}

// The supervisor's children, read from /proc where it is not a namespace's first process.
// Returns how many were found and sent SIGKILL.
int kill_listed_children() {
  std::array<char, 64> path{};
  std::snprintf(path.data(), path.size(), "/proc/self/task/%d/children",
                static_cast<int>(getpid()));
  const int fd = open(path.data(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return 0;
  }
  std::array<char, 4096> text{};
  int killed = 0;
  long pid = 0;
  for (ssize_t got = 0; (got = read(fd, text.data(), text.size())) > 0;) {
    for (ssize_t i = 0; i < got; ++i) {
      const char character = text[static_cast<std::size_t>(i)];
      if (character >= '0' && character <= '9') {
        pid = pid * 10 + (character - '0');
      } else if (pid > 0) {
        kill(static_cast<pid_t>(pid), SIGKILL);
        ++killed;
        pid = 0;
      }
    }
  }
  if (pid > 0) {
    kill(static_cast<pid_t>(pid), SIGKILL);
    ++killed;
  }
  close(fd);
  return killed;
}

void kill_everything(bool pid_namespace) {
  if (pid_namespace) {
    kill(-1, SIGKILL);  // the first process of a namespace: all others in it, not itself
  } else {
    kill_listed_children();
  }
}

// Ends every process left, and reaps them all. Returns how many were reaped besides the
// extension; notes the extension's status should it end here.
int end_everything(bool pid_namespace, pid_t extension, bool* extension_running,
                   int* extension_status) {
  int others = 0;
  kill_everything(pid_namespace);
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(-1, &status, 0);
    if (ended < 0) {
      if (errno == EINTR) {
        continue;
      }
      return others;  // ECHILD: none left
    }
    if (ended == extension) {
      *extension_running = false;
      *extension_status = status;
    } else {
      ++others;
    }
    // A process caught forking, or an orphan just handed to a subreaper, is ended too.
    kill_everything(pid_namespace);
  }
}

[[noreturn]] void supervise_extension(const Plan& plan, pid_t extension, int child_events) {
  bool running = true;
  int status = 0;
  long long grace_ends = 0;
  for (;;) {
    // Reap whatever has ended.
    for (;;) {
      int ended_status = 0;
      const pid_t ended = waitpid(-1, &ended_status, WNOHANG);
      if (ended > 0) {
        if (ended == extension) {
          running = false;
          status = ended_status;
          report(SupervisorReport::kExited, status);
          grace_ends = now_ms() + LEFTOVER_GRACE.count();
        }
        continue;
      }
      if (ended < 0 && errno == ECHILD && !running) {
        report(SupervisorReport::kAlone, 0);
        _exit(0);
      }
      break;
    }
    int timeout = -1;
    if (!running) {
      const long long left = grace_ends - now_ms();
      if (left <= 0) {
        const int others = end_everything(plan.pid_namespace, extension, &running, &status);
        report(SupervisorReport::kLeftBehind, others);
        _exit(0);
      }
      timeout = static_cast<int>(left);
    }
    std::array<pollfd, 2> watched = {pollfd{CONTROL_FD, POLLIN, 0},
                                     pollfd{child_events, POLLIN, 0}};
    if (poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
      watched[0].revents = POLLHUP;  // cannot wait: end everything, as below
    }
    if (watched[0].revents != 0) {
      // The host asks for the end, or is gone: either way nothing may run on.
      const bool was_running = running;
      const int others = end_everything(plan.pid_namespace, extension, &running, &status);
      if (was_running) {
        report(SupervisorReport::kExited, status);
      }
      report(others > 0 ? SupervisorReport::kLeftBehind : SupervisorReport::kAlone, others);
      _exit(0);
    }
    if (watched[1].revents != 0) {
      signalfd_siginfo info = {};
      while (read(child_events, &info, sizeof info) > 0) {
      }
    }
  }
}

// The supervisor's life, from the clone to its exit.
int supervisor(void* argument) {
  const Plan& plan = *static_cast<const Plan*>(argument);
  if (plan.user_namespace) {
    write_small_file("/proc/self/setgroups", "deny", 4);
    write_small_file("/proc/self/uid_map", plan.uid_map.data(), text_length(plan.uid_map.data()));
    write_small_file("/proc/self/gid_map", plan.gid_map.data(), text_length(plan.gid_map.data()));
  }
  if (plan.pid_namespace) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
  } else {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
  // Out of the host's session: a terminal's Ctrl-C is the host's to handle, and the
  // extension can neither read nor write the terminal, not even through /dev/tty.
  setsid();
  // The descriptors in place, above any that could be in the way first.
  const std::array<int, 5> wanted = {plan.input, plan.output, plan.error, plan.reports,
                                     plan.control};
  std::array<int, 5> moved{};
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    moved[i] = fcntl(wanted[i], F_DUPFD, 10);
  }
  for (std::size_t i = 0; i < moved.size(); ++i) {
    dup2(moved[i], static_cast<int>(i));
  }
  close_range(CONTROL_FD + 1, ~0U, 0);
  fcntl(REPORTS_FD, F_SETFD, FD_CLOEXEC);
  fcntl(CONTROL_FD, F_SETFD, FD_CLOEXEC);
  default_signals();
  sigset_t child_signal;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  sigprocmask(SIG_SETMASK, &child_signal, nullptr);
  const int child_events = signalfd(-1, &child_signal, SFD_NONBLOCK | SFD_CLOEXEC);
  // The host may have ended before the death signal was set: its end of the control
  // pipe is closed then.
  pollfd host = {CONTROL_FD, POLLIN, 0};
  if (child_events < 0 || poll(&host, 1, 0) != 0) {
    report(SupervisorReport::kExecFailed, child_events < 0 ? errno : ECANCELED);
    _exit(0);
  }

  std::array<int, 2> failure{};
  if (pipe2(failure.data(), O_CLOEXEC) != 0) {
    report(SupervisorReport::kExecFailed, errno);
    _exit(0);
  }
  ExecStart start{&plan, failure[1]};
  std::array<char, EXEC_STACK_BYTES> stack{};
  // CLONE_VFORK: the supervisor waits here until the program has been exec'd or failed.
  const pid_t extension =
      clone(exec_program, stack.data() + stack.size(), CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
  const int clone_error = errno;
  close(failure[1]);
  int exec_error = 0;
  ssize_t got = 0;
  while ((got = read(failure[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
  }
  close(failure[0]);
  // The extension's streams are its own now: the host sees their end when it ends.
  close(STDIN_FILENO);
  close(STDOUT_FILENO);
  close(STDERR_FILENO);
  if (extension < 0 || got == static_cast<ssize_t>(sizeof exec_error)) {
    report(SupervisorReport::kExecFailed, extension < 0 ? clone_error : exec_error);
    bool running = extension > 0;
    int status = 0;
    end_everything(plan.pid_namespace, extension, &running, &status);
    _exit(0);
  }
  report(SupervisorReport::kStarted, 0);
  supervise_extension(plan, extension, child_events);
}

bool namespaces_refused(int error) {
  return error == EPERM || error == EINVAL || error == ENOSPC || error == EUSERS || error == EACCES;
}

}  // namespace

int start_supervised(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment, int input, int output, int error,
                     Supervised* supervised) {
  std::vector<char*> arguments = argument_pointers(argv);
  std::vector<char*> variables = argument_pointers(environment);
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
  Plan plan;
  plan.program = program.c_str();
  plan.argv = arguments.data();
  plan.envp = variables.data();
  plan.input = input;
  plan.output = output;
  plan.error = error;
  plan.reports = reports[1];
  plan.control = control[0];
  std::snprintf(plan.uid_map.data(), plan.uid_map.size(), "%u %u 1\n", geteuid(), geteuid());
  std::snprintf(plan.gid_map.data(), plan.gid_map.size(), "%u %u 1\n", getegid(), getegid());

  const std::unique_ptr<char[]> stack(new char[SUPERVISOR_STACK_BYTES]);
  void* const stack_top = stack.get() + SUPERVISOR_STACK_BYTES;
  // The plan is copied with the rest of memory at each clone, so it says which attempt
  // the supervisor is.
  plan.pid_namespace = true;
  pid_t pid = clone(supervisor, stack_top, CLONE_NEWPID | SIGCHLD, &plan);
  if (pid < 0 && namespaces_refused(errno)) {
    plan.user_namespace = true;
    pid = clone(supervisor, stack_top, CLONE_NEWUSER | CLONE_NEWPID | SIGCHLD, &plan);
  }
  if (pid < 0 && namespaces_refused(errno)) {
    plan.user_namespace = false;
    plan.pid_namespace = false;
    pid = clone(supervisor, stack_top, SIGCHLD, &plan);
  }
  const int failure = errno;
  close(reports[1]);
  close(control[0]);
  if (pid < 0) {
    close(reports[0]);
    close(control[1]);
    return failure;
  }
  supervised->supervisor = pid;
  supervised->reports = reports[0];
  supervised->control = control[1];
  return 0;
}
