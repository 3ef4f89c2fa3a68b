// The supervisor's watch: reaping, ending, and telling the host.
#include "sandbox/supervisor/supervise.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "sandbox/process_list.h"
#include "sandbox/supervisor/leftovers.h"

namespace {

// How often what the extension left running is looked at, once it has exited.
constexpr int LOOK_MS = 20;
// How long what it left may stay at work, finishing what it was given, before it is
// ended all the same: far beyond any filter's last lines.
constexpr long long AT_WORK_LIMIT_MS = 10000;

long long now_ms() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The supervisor's children, read from /proc where it is not a namespace's first process.
// Returns how many were found and sent SIGKILL.
int kill_listed_children() {
  std::array<char, 64> path{};
  std::snprintf(path.data(), path.size(), "/proc/self/task/%d/children",
                static_cast<int>(getpid()));
  const int fd = open(path.data(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? 0 : kill_listed(fd);
}

constexpr int OPEN_FOLDERS = 64;

int open_folder(const char* path, const struct stat* status, int type, FTW* /*at*/) {
  if (type == FTW_D || type == FTW_DNR) {
    chmod(path, (status->st_mode & 07777U) | S_IRWXU);
  }
  return 0;
}

int remove_entry(const char* path, const struct stat* /*status*/, int type, FTW* /*at*/) {
  if (type == FTW_DP || type == FTW_D || type == FTW_DNR) {
    rmdir(path);
  } else {
    unlink(path);
  }
  return 0;
}

void kill_everything(bool pid_namespace) {
  if (pid_namespace) {
    kill(-1, SIGKILL);  // the first process of a namespace: all others in it, not itself
  } else {
    kill_listed_children();
  }
}

}  // namespace

void report(SupervisorReport::Kind kind, int value, SupervisorReport::Step step) {
  const SupervisorReport record{kind, value, step};
  while (write(REPORTS_FD, &record, sizeof record) < 0 && errno == EINTR) {
  }
}

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

void remove_temporary_folder(const char* folder) {
  if (folder == nullptr) {
    return;
  }
  nftw(folder, open_folder, OPEN_FOLDERS, FTW_PHYS | FTW_MOUNT);
  nftw(folder, remove_entry, OPEN_FOLDERS, FTW_PHYS | FTW_MOUNT | FTW_DEPTH);
}

void supervise(bool pid_namespace, pid_t extension, int child_events,
               const char* temporary_folder) {
  bool running = true;
  int status = 0;
  long long exited_at = 0;
  bool input_closed = false;  // the host has closed the extension's input
  LeftoverWatch leftovers(pid_namespace);
  for (;;) {
    for (;;) {
      int ended_status = 0;
      const pid_t ended = waitpid(-1, &ended_status, WNOHANG);
      if (ended > 0) {
        if (ended == extension) {
          running = false;
          status = ended_status;
          report(SupervisorReport::kExited, status);
          exited_at = now_ms();
        }
        continue;
      }
      if (ended < 0 && errno == ECHILD && !running) {
        remove_temporary_folder(temporary_folder);
        report(SupervisorReport::kAlone, 0);
        _exit(0);
      }
      break;
    }
    // Once it has exited, and its input is closed (a filter of its input may wait for that
    // to end), what it left is looked at: asleep at two looks, or at work past the limit,
    // it is left behind.
    const bool judged = !running && input_closed;
    if (judged && (leftovers.asleep_since_last_look() || now_ms() - exited_at > AT_WORK_LIMIT_MS)) {
      const int others = end_everything(pid_namespace, extension, &running, &status);
      remove_temporary_folder(temporary_folder);
      report(others > 0 ? SupervisorReport::kLeftBehind : SupervisorReport::kAlone, others);
      _exit(0);
    }
    std::array<pollfd, 2> watched = {pollfd{CONTROL_FD, POLLIN, 0},
                                     pollfd{child_events, POLLIN, 0}};
    if (poll(watched.data(), watched.size(), judged ? LOOK_MS : -1) < 0 && errno != EINTR) {
      watched[0].revents = POLLHUP;  // cannot wait: end everything, as below
    }
    if (watched[0].revents != 0) {
      // A byte: the host has closed the extension's input, or asks that the extension be
      // told to end (SIGTERM, which it may handle). The end of the pipe: the host asks for
      // the end of everything, or is gone.
      std::array<char, 16> said{};
      const ssize_t got = read(CONTROL_FD, said.data(), said.size());
      if (got > 0 || (got < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < got; ++i) {
          const char byte = said[static_cast<std::size_t>(i)];
          input_closed = input_closed || byte == CONTROL_INPUT_CLOSED;
          if (byte == CONTROL_TERMINATE && running) {
            kill(extension, SIGTERM);
          }
        }
        continue;
      }
      // Either way nothing may run on. What ends with an extension that was still running
      // was not left behind by it: it is ended with it.
      const bool was_running = running;
      const int others = end_everything(pid_namespace, extension, &running, &status);
      remove_temporary_folder(temporary_folder);
      if (was_running) {
        report(SupervisorReport::kExited, status);
      }
      const bool left = others > 0 && !was_running;
      report(left ? SupervisorReport::kLeftBehind : SupervisorReport::kAlone, left ? others : 0);
      _exit(0);
    }
    if (watched[1].revents != 0) {
      signalfd_siginfo info = {};
      while (read(child_events, &info, sizeof info) > 0) {
      }
    }
  }
}
