// extension-sandbox: the supervisor of one extension, run by extension-host and by
// nothing else.
//
// The host starts it in the namespaces the machine allows (a PID and a mount namespace of
// its own; a user namespace too where the user is not root), with the extension's three
// streams as 0, 1 and 2, the report pipe as 3 and the control pipe as 4, then a sealed
// system call filter and the groups' cgroup.procs files when it names them. It joins the
// groups, makes the file system the extension sees, starts the extension confined, and
// watches it to its end. Every part of the sandbox that cannot be made is reported by
// name (SupervisorReport::kSetupFailed), and nothing runs.
//
//   extension-sandbox [--pid-namespace] [--files TMP_BYTES | --landlock]
//                     [--show r|w|l DEV INO PATH]... [--link PATH TARGET]... [--hide PATH]...
//                     [--cwd DIR]
//                     [--temporary-folder DIR] [--process-limit N] [--drop-privilege]
//                     [--filter] [--control-groups N] [--probe] -- PROGRAM ARGV0 ARGS...
//
// --files makes the view of the files (see file_view.h) from the entries after it, in
// their order: a folder shown read-only (r) or writable (w), as the host saw it (DEV and
// INO); a link; an entry hidden; the folder to start in. --landlock holds the extension
// to the same entries where no namespace can be made (see landlock_view.h): there a file
// may be shown read-only, and a folder for listing alone (l).
//
// --temporary-folder names the folder the host made for the extension's temporary files
// where no private TMPDIR could be made: the supervisor removes it once nothing runs.
//
// With --probe, the extension's process is confined as for a run and ends at once: the
// host learns whether the whole sandbox can be made here, before any work.
#include <fcntl.h>
#include <linux/filter.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "sandbox/supervisor/confine.h"
#include "sandbox/supervisor/file_view.h"
#include "sandbox/supervisor/landlock_view.h"
#include "sandbox/supervisor/supervise.h"

namespace {

// The longest program the kernel takes.
constexpr std::size_t MAX_FILTER_BYTES = BPF_MAXINSNS * sizeof(sock_filter);
constexpr std::size_t EXEC_STACK_BYTES = std::size_t{64} << 10U;

struct Settings {
  bool pid_namespace = false;
  bool files = false;     // a root of its own, made of mounts
  bool landlock = false;  // without namespaces: the view held by Landlock
  unsigned long long temporary_bytes = 0;
  std::array<ViewEntry, MAX_VIEW_ENTRIES> view{};
  std::size_t view_count = 0;
  const char* working_folder = nullptr;
  const char* temporary_folder = nullptr;
  long process_limit = 0;
  bool drop_privilege = false;
  bool filter = false;
  int control_groups = 0;
  bool probe = false;
  // Started by a library in a host application, whose thread that started it may end
  // before it: the host's end is told by the control pipe alone.
  bool outlive_starting_thread = false;
  char** command = nullptr;  // PROGRAM ARGV0 ARGS...
};

bool read_number(const char* text, unsigned long long* value) {
  if (text == nullptr || *text < '0' || *text > '9') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  *value = std::strtoull(text, &end, 10);
  return errno == 0 && *end == '\0';
}

// Takes the view entry that begins at argv[*i] (its option there), if it is one; moves
// *i to its last word. Returns false when it is not one, or is malformed.
bool parse_view_entry(int argc, char** argv, int* i, Settings* settings) {
  const auto word = [&](int at) { return *i + at < argc ? argv[*i + at] : nullptr; };
  const auto absolute = [](const char* path) { return path != nullptr && path[0] == '/'; };
  if (settings->view_count == MAX_VIEW_ENTRIES) {
    return false;
  }
  ViewEntry& entry = settings->view[settings->view_count];
  const char* option = argv[*i];
  if (std::strcmp(option, "--show") == 0) {
    const char* mode = word(1);
    if (mode == nullptr || std::strlen(mode) != 1 || std::strchr("rwl", mode[0]) == nullptr ||
        !read_number(word(2), &entry.device) || !read_number(word(3), &entry.inode) ||
        !absolute(word(4))) {
      return false;
    }
    entry.kind = mode[0] == 'w'   ? ViewEntry::kWritable
                 : mode[0] == 'l' ? ViewEntry::kListOnly
                                  : ViewEntry::kReadOnly;
    entry.path = word(4);
    *i += 4;
  } else if (std::strcmp(option, "--link") == 0 && absolute(word(1)) && word(2) != nullptr) {
    entry.kind = ViewEntry::kLink;
    entry.path = word(1);
    entry.target = word(2);
    *i += 2;
  } else if (std::strcmp(option, "--hide") == 0 && absolute(word(1))) {
    entry.kind = ViewEntry::kHidden;
    entry.path = word(1);
    *i += 1;
  } else {
    return false;
  }
  ++settings->view_count;
  return true;
}

bool parse(int argc, char** argv, Settings* settings) {
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long long number = 0;
    if (std::strcmp(option, "--") == 0) {
      settings->command = argv + i + 1;
      return i + 2 < argc;  // a program and its argv[0] at least
    }
    if (std::strcmp(option, "--pid-namespace") == 0) {
      settings->pid_namespace = true;
    } else if (std::strcmp(option, "--outlive-starting-thread") == 0) {
      settings->outlive_starting_thread = true;
    } else if (std::strcmp(option, "--drop-privilege") == 0) {
      settings->drop_privilege = true;
    } else if (std::strcmp(option, "--filter") == 0) {
      settings->filter = true;
    } else if (std::strcmp(option, "--probe") == 0) {
      settings->probe = true;
    } else if (std::strcmp(option, "--files") == 0 && read_number(value, &number)) {
      settings->files = true;
      settings->temporary_bytes = number;
      ++i;
    } else if (std::strcmp(option, "--landlock") == 0) {
      settings->landlock = true;
    } else if ((settings->files || settings->landlock) &&
               (std::strcmp(option, "--show") == 0 || std::strcmp(option, "--link") == 0 ||
                std::strcmp(option, "--hide") == 0)) {
      if (!parse_view_entry(argc, argv, &i, settings)) {
        return false;
      }
    } else if (std::strcmp(option, "--cwd") == 0 && settings->files && value != nullptr &&
               value[0] == '/') {
      settings->working_folder = value;
      ++i;
    } else if (std::strcmp(option, "--temporary-folder") == 0 && value != nullptr &&
               value[0] == '/') {
      settings->temporary_folder = value;
      ++i;
    } else if (std::strcmp(option, "--process-limit") == 0 && read_number(value, &number) &&
               number > 0 && number < (1U << 22U)) {
      settings->process_limit = static_cast<long>(number);
      ++i;
    } else if (std::strcmp(option, "--control-groups") == 0 && read_number(value, &number) &&
               number <= 2) {
      settings->control_groups = static_cast<int>(number);
      ++i;
    } else {
      return false;
    }
  }
  return false;
}

[[noreturn]] void fail(SupervisorReport::Step step, int error) {
  report(SupervisorReport::kSetupFailed, error, step);
  _exit(0);
}

// Moves this process into each group the host made for it, so that all it starts is
// counted there from the first.
void join_groups(int count) {
  for (int fd = FIRST_GROUP_FD; fd < FIRST_GROUP_FD + count; ++fd) {
    if (write(fd, "0\n", 2) != 2) {
      fail(SupervisorReport::kControlGroup, errno);
    }
    close(fd);
  }
}

// The filter as the host compiled it, read whole before anything is confined.
bool read_filter(std::array<sock_filter, MAX_FILTER_BYTES / sizeof(sock_filter)>* program,
                 sock_fprog* filter) {
  std::size_t got = 0;
  for (;;) {
    const ssize_t read_now =
        pread(FILTER_FD, reinterpret_cast<char*>(program->data()) + got,  // NOLINT: bytes
              sizeof *program - got, static_cast<off_t>(got));
    if (read_now < 0 && errno == EINTR) {
      continue;
    }
    if (read_now < 0) {
      return false;
    }
    if (read_now == 0) {
      break;
    }
    got += static_cast<std::size_t>(read_now);
    if (got == sizeof *program) {
      errno = E2BIG;
      return false;
    }
  }
  close(FILTER_FD);
  if (got == 0 || got % sizeof(sock_filter) != 0) {
    errno = EINVAL;
    return false;
  }
  filter->len = static_cast<unsigned short>(got / sizeof(sock_filter));
  filter->filter = program->data();
  return true;
}

// What the extension's process needs from the supervisor: it shares its memory until exec.
struct ExecStart {
  Confinement confinement;
  int failure_fd = -1;  // written with the failed step and error; closed by a good exec
};

int start_extension(void* argument) {
  const ExecStart& start = *static_cast<const ExecStart*>(argument);
  std::array<int, 2> failure = {};
  failure[0] = confine_and_run(start.confinement, &failure[1]);
  while (write(start.failure_fd, failure.data(), sizeof failure) < 0 && errno == EINTR) {
  }
  _exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!parse(argc, argv, &settings)) {
    fail(SupervisorReport::kArguments, EINVAL);
  }
  // Joined first, so that all it starts is counted there from the first.
  join_groups(settings.control_groups);
  // With a namespace of its own, everything in it ends with this process, which ends with
  // the host (the thread that started it, whose end is the death signal's; or, started by
  // the library, the host's process, whose end closes the control pipe); without one,
  // orphans come here to be ended.
  const bool death_signal = settings.pid_namespace && !settings.outlive_starting_thread;
  if (death_signal ? prctl(PR_SET_PDEATHSIG, SIGKILL) != 0
                   : !settings.pid_namespace && prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    fail(SupervisorReport::kSupervision, errno);
  }
  // The host may have ended before the death signal was set: its end of the control
  // pipe is closed then.
  pollfd host = {CONTROL_FD, POLLIN, 0};
  if (poll(&host, 1, 0) != 0) {
    fail(SupervisorReport::kSupervision, ECANCELED);
  }
  // Nothing in the sandbox may read this process's memory or descriptors, nor trace it:
  // the report pipe is the host's word on how the extension ended.
  if (prctl(PR_SET_DUMPABLE, 0) != 0) {
    fail(SupervisorReport::kSupervision, errno);
  }
  // Out of the host's session: a terminal's Ctrl-C is the host's to handle.
  if (setsid() < 0) {
    fail(SupervisorReport::kSupervision, errno);
  }
  if (settings.files) {
    const FileView view{settings.temporary_bytes, settings.view.data(), settings.view_count,
                        settings.working_folder};
    int error = 0;
    const SupervisorReport::Step failed = make_file_view(view, &error);
    if (failed != SupervisorReport::kNoStep) {
      fail(failed, error);
    }
  }
  // Not cleared: only the bytes read are used.
  std::array<sock_filter, MAX_FILTER_BYTES / sizeof(sock_filter)> program;  // NOLINT
  sock_fprog filter = {};
  if (settings.filter && !read_filter(&program, &filter)) {
    fail(SupervisorReport::kSystemCalls, errno);
  }
  // Without a root of its own, Landlock holds it to what it is shown.
  int landlock = -1;
  if (settings.landlock) {
    SupervisorReport::Step failed = SupervisorReport::kNoStep;
    landlock = make_landlock_ruleset(settings.view.data(), settings.view_count,
                                     settings.temporary_folder, &failed);
    if (landlock < 0) {
      fail(failed, errno);
    }
  }

  sigset_t child_signal;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  // Children's ends come as readable events, beside the host's control pipe.
  const int child_events = sigprocmask(SIG_SETMASK, &child_signal, nullptr) == 0
                               ? signalfd(-1, &child_signal, SFD_NONBLOCK | SFD_CLOEXEC)
                               : -1;
  std::array<int, 2> failure{};
  if (child_events < 0 || pipe2(failure.data(), O_CLOEXEC) != 0) {
    fail(SupervisorReport::kSupervision, errno);
  }
  ExecStart start;
  start.confinement.pid_namespace = settings.pid_namespace;
  start.confinement.process_limit = settings.process_limit;
  start.confinement.drop_privilege = settings.drop_privilege;
  start.confinement.filter = settings.filter ? &filter : nullptr;
  start.confinement.landlock = landlock;
  start.confinement.program = settings.command[0];
  start.confinement.argv = settings.command + 1;
  start.confinement.envp = environ;
  start.confinement.probe = settings.probe;
  start.failure_fd = failure[1];
  static std::array<char, EXEC_STACK_BYTES> stack{};
  // CLONE_VFORK: the supervisor waits here until the program has been exec'd or failed.
  const pid_t extension =
      clone(start_extension, stack.data() + stack.size(), CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
  const int clone_error = errno;
  close(failure[1]);
  std::array<int, 2> failed = {};
  ssize_t got = 0;
  while ((got = read(failure[0], failed.data(), sizeof failed)) < 0 && errno == EINTR) {
  }
  close(failure[0]);
  // The extension's streams are its own now: the host sees their end when it ends.
  close(STDIN_FILENO);
  close(STDOUT_FILENO);
  close(STDERR_FILENO);
  if (extension < 0 || got == static_cast<ssize_t>(sizeof failed)) {
    if (extension < 0) {
      report(SupervisorReport::kSetupFailed, clone_error, SupervisorReport::kSupervision);
    } else if (failed[0] == SupervisorReport::kNoStep) {
      report(SupervisorReport::kExecFailed, failed[1]);
    } else {
      report(SupervisorReport::kSetupFailed, failed[1],
             static_cast<SupervisorReport::Step>(failed[0]));
    }
    bool running = extension > 0;
    int status = 0;
    end_everything(settings.pid_namespace, extension, &running, &status);
    remove_temporary_folder(settings.temporary_folder);
    _exit(0);
  }
  report(SupervisorReport::kStarted, 0);
  supervise(settings.pid_namespace, extension, child_events, settings.temporary_folder);
}
