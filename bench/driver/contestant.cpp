// Starting a contestant on pipes, and reading what it cost when it ends.
#include "contestant.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

#include "process/spawn_child.h"

namespace {

void close_fd(int* fd) {
  if (*fd >= 0) {
    close(*fd);
    *fd = -1;
  }
}

}  // namespace

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = write(fd, bytes.data(), bytes.size());
    if (sent < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::optional<std::size_t> read_through_line_feed(int fd, std::string* buffer, std::size_t from) {
  for (;;) {
    const std::size_t found = buffer->find('\n', from);
    if (found != std::string::npos) {
      return found + 1;
    }
    from = buffer->size();
    std::array<char, 65536> chunk{};
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return std::nullopt;
    }
    buffer->append(chunk.data(), static_cast<std::size_t>(got));
  }
}

std::optional<Process> Process::start(const Contestant& contestant, std::string* error) {
  // A contestant that dies must show as a failed write, not end the driver.
  signal(SIGPIPE, SIG_IGN);
  std::array<int, 2> to_child{-1, -1};
  std::array<int, 2> from_child{-1, -1};
  const int error_file = memfd_create("contestant-stderr", MFD_CLOEXEC);
  if (error_file < 0 || pipe2(to_child.data(), O_CLOEXEC) != 0 ||
      pipe2(from_child.data(), O_CLOEXEC) != 0) {
    *error = std::string("cannot make pipes: ") + std::strerror(errno);
    return std::nullopt;
  }
  pid_t pid = -1;
  const int spawned =
      spawn_with_streams(contestant.argv, to_child[0], from_child[1], error_file, &pid);
  close(to_child[0]);
  close(from_child[1]);
  if (spawned != 0) {
    close(to_child[1]);
    close(from_child[0]);
    close(error_file);
    *error = contestant.argv[0] + ": " + std::strerror(spawned);
    return std::nullopt;
  }
  if (contestant.cpu >= 0) {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(static_cast<std::size_t>(contestant.cpu), &cpus);
    sched_setaffinity(pid, sizeof cpus, &cpus);
  }
  Process process(pid, to_child[1], from_child[0], error_file);
  if (!write_all(process.input_, HANDSHAKE_LINE)) {
    *error = contestant.name + ": the handshake could not be written";
    return std::nullopt;
  }
  std::string replies;
  std::size_t taken = 0;
  for (std::size_t line = 0; line < contestant.handshake_replies; ++line) {
    const std::optional<std::size_t> end = read_through_line_feed(process.output_, &replies, taken);
    if (!end) {
      *error = contestant.name + ": no answer to the handshake";
      return std::nullopt;
    }
    taken = *end;
  }
  if (taken != replies.size()) {
    *error = contestant.name + ": more lines than expected for the handshake";
    return std::nullopt;
  }
  return process;
}

Process::Process(pid_t pid, int input, int output, int error)
    : pid_(pid), input_(input), output_(output), error_(error) {}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      error_(std::exchange(other.error_, -1)) {}

Process::~Process() {
  close_fd(&input_);
  close_fd(&output_);
  close_fd(&error_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

Usage Process::usage() const {
  Usage usage;
  const std::string proc = "/proc/" + std::to_string(pid_);
  std::ifstream io(proc + "/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "syscr:") {
      usage.reads = value;
    } else if (key == "syscw:") {
      usage.writes = value;
    }
  }
  std::ifstream status(proc + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      usage.peak_rss_kib = std::strtoll(line.c_str() + 6, nullptr, 10);
    }
  }
  return usage;
}

Ending Process::finish() {
  Ending ending;
  close_fd(&input_);
  std::array<char, 4096> left{};
  ssize_t got = 0;
  std::size_t extra = 0;
  while ((got = read(output_, left.data(), left.size())) > 0 || (got < 0 && errno == EINTR)) {
    extra += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  close_fd(&output_);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  struct stat error_file {};
  fstat(error_, &error_file);
  close_fd(&error_);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ending.problem = "did not exit with status 0";
  } else if (error_file.st_size != 0) {
    ending.problem = "wrote " + std::to_string(error_file.st_size) + " bytes to standard error";
  } else if (extra != 0) {
    ending.problem = "wrote " + std::to_string(extra) + " bytes after the last reply";
  }
  ending.clean = ending.problem.empty();
  return ending;
}
