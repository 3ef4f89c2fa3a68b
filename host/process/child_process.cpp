// Starting, pumping, and ending the child and its process group.
#include "process/child_process.h"

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

#include "process/process_groups.h"
#include "process/spawn_child.h"

namespace {

// Output kept in memory at most; beyond it a flooding child's bytes are counted and dropped.
constexpr std::size_t KEPT_OUTPUT_LIMIT = std::size_t{64} << 20U;
constexpr std::size_t CHUNK = 65536;
// How often a pump looks whether the child has exited, while its streams are quiet.
constexpr std::chrono::milliseconds EXIT_CHECK{20};
// How long the streams of an exited child may stay open before its group is ended: long
// enough for the last bytes in flight, far shorter than any deadline.
constexpr std::chrono::milliseconds STREAMS_GRACE{200};

int milliseconds_until(Clock::time_point deadline, std::chrono::milliseconds at_most) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, at_most.count()));
}

// Reads what is there from `fd`; hands it to `sink`. Returns false at end of file or on
// error, when the descriptor is done.
template <typename Sink>
bool drain(int fd, Sink sink) {
  char chunk[CHUNK];
  const ssize_t got = read(fd, chunk, sizeof chunk);
  if (got < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (got == 0) {
    return false;
  }
  sink(std::string_view(chunk, static_cast<std::size_t>(got)));
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

// Ends the group that `leader` leads, and the leader itself should it have left it.
void end_group(pid_t leader) {
  kill(-leader, SIGKILL);
  kill(leader, SIGKILL);
}

}  // namespace

std::string describe(const Termination& termination) {
  std::string text;
  if (!termination.signaled) {
    text = "exit status " + std::to_string(termination.code);
  } else {
    const char* name = sigabbrev_np(termination.code);
    text = "killed by signal " + std::to_string(termination.code);
    if (name != nullptr) {
      text += std::string(" (SIG") + name + ")";
    }
    if (termination.killed_by_host) {
      text += ", sent by the host";
    }
  }
  if (termination.output_held_open) {
    text +=
        "; but a process it started kept its output open after it had exited, so the host "
        "ended its process group";
  }
  return text;
}

std::optional<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                std::string* error, ChildOptions options) {
  // A child that stops reading must not kill the host: its closed pipe shows as EPIPE.
  signal(SIGPIPE, SIG_IGN);
  end_groups_on_fatal_signals();
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
  list_group(pid);
  for (const int fd : {input[1], output[0], errors[0]}) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  return ChildProcess(pid, input[1], output[0], errors[0], options);
}

ChildProcess::ChildProcess(pid_t pid, int input, int output, int error, ChildOptions options)
    : pid_(pid),
      input_(input),
      output_(output),
      error_fd_(error),
      options_(options),
      error_(options.whole_error ? BoundedText::unbounded()
                                 : BoundedText(SHOWN_ERROR_BYTES, SHOWN_ERROR_BYTES)) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      error_fd_(std::exchange(other.error_fd_, -1)),
      options_(other.options_),
      input_broken_(other.input_broken_),
      unsent_(other.unsent_),
      output_buffer_(std::move(other.output_buffer_)),
      error_(std::move(other.error_)),
      sent_(std::move(other.sent_)),
      received_(std::move(other.received_)),
      exited_at_(other.exited_at_),
      output_held_open_(other.output_held_open_),
      ended_(other.ended_) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    kill_now();
  }
  close_fd(&input_);
  close_streams();
}

void ChildProcess::close_streams() {
  close_fd(&output_);
  close_fd(&error_fd_);
}

bool ChildProcess::exited() {
  if (exited_at_) {
    return true;
  }
  siginfo_t info = {};
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
      info.si_pid == pid_) {
    exited_at_ = Clock::now();
  }
  return exited_at_.has_value();
}

void ChildProcess::end_held_streams() {
  if ((output_ < 0 && error_fd_ < 0) || !exited()) {
    return;
  }
  const auto since = Clock::now() - *exited_at_;
  if (!output_held_open_ && since >= STREAMS_GRACE) {
    output_held_open_ = true;
    end_group(pid_);
  } else if (output_held_open_ && since >= 2 * STREAMS_GRACE) {
    // Whatever holds them has left the group too: stop listening rather than wait on it.
    close_streams();
  }
}

template <typename Done>
bool ChildProcess::pump(Done done, std::string_view pending, Clock::time_point deadline) {
  const auto keep_output = [this](std::string_view bytes) {
    if (output_buffer_.size() < KEPT_OUTPUT_LIMIT) {
      output_buffer_.append(bytes.substr(0, KEPT_OUTPUT_LIMIT - output_buffer_.size()));
    }
    if (options_.keep_transcript) {
      received_.append(bytes);
    }
  };
  const auto keep_error = [this](std::string_view bytes) { error_.append(bytes); };
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
    const int ready = poll(fds, count, milliseconds_until(deadline, EXIT_CHECK));
    if (ready < 0 && errno != EINTR) {
      return false;
    }
    // Looked at on every turn, so that a stream held open and never quiet ends too.
    end_held_streams();
    if (ready <= 0) {
      if (Clock::now() >= deadline) {
        return false;
      }
      continue;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      if (fds[i].fd == input_) {
        const ssize_t put = write(input_, pending.data(), std::min(pending.size(), CHUNK));
        if (put > 0) {
          if (options_.keep_transcript) {
            sent_.append(pending.substr(0, static_cast<std::size_t>(put)));
          }
          pending.remove_prefix(static_cast<std::size_t>(put));
          unsent_ = pending.size();
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
          input_broken_ = true;  // EPIPE: the child has closed its input
          close_fd(&input_);
        }
      } else if (fds[i].fd == output_) {
        if (!drain(output_, keep_output)) {
          close_fd(&output_);
        }
      } else if (!drain(error_fd_, keep_error)) {
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
  while (!exited()) {
    if (Clock::now() >= deadline) {
      return kill_now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Whatever the child left running goes with it; its group id is still its own, as the
  // child is not reaped yet.
  end_group(pid_);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  unlist_group(pid_);
  ended_ = from_status(status);
  ended_->output_held_open = output_held_open_;
  return *ended_;
}

Termination ChildProcess::kill_now() {
  if (ended_) {
    return *ended_;
  }
  end_group(pid_);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  unlist_group(pid_);
  ended_ = from_status(status);
  ended_->killed_by_host = ended_->signaled && ended_->code == SIGKILL;
  ended_->output_held_open = output_held_open_;
  return *ended_;
}
