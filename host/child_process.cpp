// Starting, pumping and reaping the child.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>

#include "spawn_child.h"

namespace {

// Output kept in memory at most; beyond it a flooding child's bytes are counted and dropped.
constexpr std::size_t KEPT_OUTPUT_LIMIT = std::size_t{64} << 20U;
constexpr std::size_t CHUNK = 65536;

int milliseconds_until(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60000));
}

// Reads what is there from `fd` into `*sink`, keeping at most KEPT_OUTPUT_LIMIT bytes.
// Returns false at end of file or on error, when the descriptor is done.
bool drain(int fd, std::string* sink) {
  char chunk[CHUNK];
  const ssize_t got = read(fd, chunk, sizeof chunk);
  if (got < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (got == 0) {
    return false;
  }
  const auto size = static_cast<std::size_t>(got);
  if (sink->size() < KEPT_OUTPUT_LIMIT) {
    sink->append(chunk, std::min(size, KEPT_OUTPUT_LIMIT - sink->size()));
  }
  return true;
}

void close_fd(int* fd) {
  if (*fd >= 0) {
    close(*fd);
    *fd = -1;
  }
}

Termination from_status(int status) {
  Termination termination;
  termination.signaled = WIFSIGNALED(status);
  termination.code = termination.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
  return termination;
}

}  // namespace

std::string describe(const Termination& termination) {
  if (!termination.signaled) {
    return "exit status " + std::to_string(termination.code);
  }
  const char* name = sigabbrev_np(termination.code);
  std::string text = "killed by signal " + std::to_string(termination.code);
  if (name != nullptr) {
    text += std::string(" (SIG") + name + ")";
  }
  if (termination.killed_by_host) {
    text += ", sent by the host";
  }
  return text;
}

std::optional<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                std::string* error) {
  // A child that stops reading must not kill the host: its closed pipe shows as EPIPE.
  signal(SIGPIPE, SIG_IGN);
  int input[2];
  int output[2];
  int errors[2];
  if (pipe2(input, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    close(input[0]);
    close(input[1]);
    return std::nullopt;
  }
  pid_t pid = -1;
  const int failed = spawn_with_streams(argv, input[0], output[1], errors[1], &pid);
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  if (failed != 0) {
    *error = "cannot start " + argv[0] + ": " + std::strerror(failed);
    close(input[1]);
    close(output[0]);
    close(errors[0]);
    return std::nullopt;
  }
  for (const int fd : {input[1], output[0], errors[0]}) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  return ChildProcess(pid, input[1], output[0], errors[0]);
}

ChildProcess::ChildProcess(pid_t pid, int input, int output, int error)
    : pid_(pid), input_(input), output_(output), error_fd_(error) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      error_fd_(std::exchange(other.error_fd_, -1)),
      input_broken_(other.input_broken_),
      output_buffer_(std::move(other.output_buffer_)),
      error_(std::move(other.error_)),
      ended_(other.ended_) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    kill_now();
  }
  close_fd(&input_);
  close_fd(&output_);
  close_fd(&error_fd_);
}

template <typename Done>
bool ChildProcess::pump(Done done, std::string_view pending, Clock::time_point deadline) {
  while (!done()) {
    pollfd fds[3];
    nfds_t count = 0;
    const bool writing = !pending.empty() && input_ >= 0;
    if (writing) {
      fds[count++] = {input_, POLLOUT, 0};
    }
    if (output_ >= 0) {
      fds[count++] = {output_, POLLIN, 0};
    }
    if (error_fd_ >= 0) {
      fds[count++] = {error_fd_, POLLIN, 0};
    }
    if (count == 0) {
      return true;  // nothing left that could change; `done` decides what that means
    }
    const int timeout = milliseconds_until(deadline);
    const int ready = poll(fds, count, timeout);
    if (ready < 0 && errno != EINTR) {
      return false;
    }
    if (ready == 0 && Clock::now() >= deadline) {
      return false;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      if (fds[i].fd == input_) {
        const ssize_t put = write(input_, pending.data(), std::min(pending.size(), CHUNK));
        if (put > 0) {
          pending.remove_prefix(static_cast<std::size_t>(put));
          unsent_ = pending.size();
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
          input_broken_ = true;  // EPIPE: the child has closed its input
          close_fd(&input_);
        }
      } else if (fds[i].fd == output_) {
        if (!drain(output_, &output_buffer_)) {
          close_fd(&output_);
        }
      } else if (!drain(error_fd_, &error_)) {
        close_fd(&error_fd_);
      }
    }
  }
  return true;
}

bool ChildProcess::send(std::string_view bytes, Clock::time_point deadline) {
  unsent_ = bytes.size();
  const bool in_time = pump([&] { return unsent_ == 0 || input_ < 0; }, bytes, deadline);
  return in_time && unsent_ == 0 && !input_broken_;
}

void ChildProcess::close_input() { close_fd(&input_); }

LineRead ChildProcess::read_line(std::string* line, std::size_t max_line,
                                 Clock::time_point deadline) {
  const auto line_end = [&] { return output_buffer_.find('\n'); };
  const bool in_time = pump(
      [&] {
        return line_end() != std::string::npos || output_buffer_.size() >= max_line || output_ < 0;
      },
      {}, deadline);
  const std::size_t end = line_end();
  if (end != std::string::npos && end < max_line) {
    line->assign(output_buffer_, 0, end + 1);
    output_buffer_.erase(0, end + 1);
    return LineRead::kLine;
  }
  if (output_buffer_.size() >= max_line) {
    return LineRead::kTooLong;
  }
  if (!in_time) {
    return LineRead::kTimedOut;
  }
  *line = std::move(output_buffer_);
  output_buffer_.clear();
  return LineRead::kEndOfOutput;
}

bool ChildProcess::read_to_end(Clock::time_point deadline) {
  return pump([&] { return output_ < 0 && error_fd_ < 0; }, {}, deadline);
}

std::string ChildProcess::take_output() { return std::exchange(output_buffer_, {}); }

Termination ChildProcess::wait(Clock::time_point deadline) {
  if (ended_) {
    return *ended_;
  }
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      ended_ = from_status(status);
      return *ended_;
    }
    if (Clock::now() >= deadline) {
      return kill_now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

Termination ChildProcess::kill_now() {
  if (ended_) {
    return *ended_;
  }
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  ended_ = from_status(status);
  ended_->killed_by_host = ended_->signaled && ended_->code == SIGKILL;
  return *ended_;
}
