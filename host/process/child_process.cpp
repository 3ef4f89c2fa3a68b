// Starting, pumping, and ending the child and all it started.
#include "process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string_view>
#include <utility>

#include "base/quiet_write.h"
#include "process/activity.h"
#include "process/program.h"
#include "sandbox/descriptor_map.h"

namespace {

constexpr std::size_t CHUNK = 65536;
// How long a program may take to be exec'd by its supervisor.
constexpr std::chrono::seconds START_TIMEOUT{10};
// How long the supervisor may take to end everything once asked; it is killed after that.
constexpr std::chrono::seconds ENDING_TIMEOUT{2};
// Once everything it started has ended, a stream still open is held by something beyond
// reach: it is listened to this much longer, then no more.
constexpr std::chrono::milliseconds STREAMS_AFTER_THE_END{200};
// How often a child's activity is looked at while an answer is awaited.
constexpr std::chrono::milliseconds IDLE_LOOK{20};

int milliseconds_until(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1 << 30));
}

void close_fd(int* fd) {
  if (*fd >= 0) {
    close(*fd);
    *fd = -1;
  }
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads what is there from `fd`, at most `limit` bytes; hands it to `sink`. Returns false
// at end of file or on error, when the descriptor is done.
template <typename Sink>
bool drain(int fd, std::size_t limit, Sink sink) {
  // Not cleared first: read() fills what is handed on, and clearing 64 KiB for each read
  // cost more than the read of a short line.
  std::array<char, CHUNK> chunk;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  const ssize_t got = read(fd, chunk.data(), std::min(limit, chunk.size()));
  if (got < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (got == 0) {
    return false;
  }
  sink(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
  return true;
}

// Removes the folder the host made for the child's temporary files. What the child made
// unreadable there is made readable first: the folder is the host's to remove, whatever
// the child did to it. Links are removed, never followed.
void remove_folder(const std::string& folder) {
  if (folder.empty()) {
    return;
  }
  std::error_code ignored;
  for (auto entry = std::filesystem::recursive_directory_iterator(
           folder, std::filesystem::directory_options::skip_permission_denied, ignored);
       entry != std::filesystem::recursive_directory_iterator(); entry.increment(ignored)) {
    if (entry->is_directory(ignored) && !entry->is_symlink(ignored)) {
      chmod(entry->path().c_str(), 0700);
    }
  }
  chmod(folder.c_str(), 0700);
  std::filesystem::remove_all(folder, ignored);
}

Termination from_status(int status) {
  Termination termination;
  termination.signaled = WIFSIGNALED(status);
  termination.code = termination.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
  return termination;
}

// Waits for the supervisor's first report, taken through `stream`: started, or why not.
// Returns "" once started, else why it did not.
std::string await_start(int reports, ReportStream* stream) {
  const Clock::time_point deadline = Clock::now() + START_TIMEOUT;
  std::vector<SupervisorReport> first;
  // One record's bytes at the most: what follows the first is the child's to take.
  std::array<char, sizeof(SupervisorReport)> bytes{};
  std::size_t wanted = bytes.size();
  while (first.empty()) {
    pollfd ready = {reports, POLLIN, 0};
    const int polled = poll(&ready, 1, milliseconds_until(deadline));
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return std::strerror(ETIMEDOUT);
    }
    const ssize_t read_now = read(reports, bytes.data(), wanted);
    if (read_now < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (read_now <= 0) {
      return stream->end() ? "its supervisor ended without a word"
                           : "its sandbox failed: " + stream->fault();
    }
    wanted -= static_cast<std::size_t>(read_now);
    if (!stream->take(std::string_view(bytes.data(), static_cast<std::size_t>(read_now)), &first)) {
      return "its sandbox failed: " + stream->fault();
    }
  }
  if (first[0].kind == SupervisorReport::kStarted) {
    return "";
  }
  if (first[0].kind == SupervisorReport::kSetupFailed) {
    return Sandbox::setup_failure(first[0].step, first[0].value);
  }
  return std::strerror(first[0].value);
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
  if (!termination.sandbox_failure.empty()) {
    text += ", as its sandbox failed: " + termination.sandbox_failure;
  }
  if (termination.left_behind > 0) {
    text +=
        "; but it left " +
        (termination.left_behind == 1 ? std::string("a process")
                                      : std::to_string(termination.left_behind) + " processes") +
        " running after it had exited, which the host ended";
  }
  return text;
}

std::optional<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                std::string* error, ChildOptions options) {
  const std::optional<std::string> program = find_program(argv[0], error);
  if (!program) {
    *error = "cannot start " + *error;
    return std::nullopt;
  }
  std::array<int, 2> input{};
  std::array<int, 2> output{};
  std::array<int, 2> errors{};
  if (pipe2(input.data(), O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (pipe2(output.data(), O_CLOEXEC) != 0 || pipe2(errors.data(), O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    close(input[0]);
    close(input[1]);
    return std::nullopt;
  }
  StartedSandbox started;
  ReportStream reports;
  std::string problem;
  const bool launched =
      options.sandbox->start(*program, argv, input[0], output[1], errors[1], &started, &problem);
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  if (launched) {
    problem = await_start(started.supervised.reports, &reports);
    if (!problem.empty()) {
      close(started.supervised.control);
      close(started.supervised.reports);
      ::reap_supervisor(started.supervised.process, ENDING_TIMEOUT);
      remove_folder(started.temporary_folder);
    }
  }
  if (!problem.empty()) {
    *error = "cannot start " + argv[0] + ": " + problem;
    close(input[1]);
    close(output[0]);
    close(errors[0]);
    return std::nullopt;
  }
  for (const int fd : {input[1], output[0], errors[0], started.supervised.reports}) {
    set_nonblocking(fd);
  }
  return ChildProcess(std::move(started), std::move(reports), input[1], output[0], errors[0],
                      options);
}

ChildProcess::ChildProcess(StartedSandbox started, ReportStream reports, int input, int output,
                           int error, ChildOptions options)
    : supervisor_(started.supervised.supervisor),
      process_(started.supervised.process),
      input_(input),
      output_(output),
      error_fd_(error),
      reports_(started.supervised.reports),
      control_(started.supervised.control),
      options_(options),
      error_(options.whole_error ? WHOLE_ERROR_LIMIT : SHOWN_ERROR_BYTES, SHOWN_ERROR_BYTES),
      report_stream_(std::move(reports)),
      groups_(std::move(started.groups)),
      temporary_folder_(std::move(started.temporary_folder)) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : supervisor_(std::exchange(other.supervisor_, -1)),
      process_(std::exchange(other.process_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      error_fd_(std::exchange(other.error_fd_, -1)),
      reports_(std::exchange(other.reports_, -1)),
      control_(std::exchange(other.control_, -1)),
      options_(other.options_),
      input_broken_(other.input_broken_),
      holding_output_(other.holding_output_),
      unsent_(other.unsent_),
      output_buffer_(std::move(other.output_buffer_)),
      output_total_(other.output_total_),
      error_(std::move(other.error_)),
      report_stream_(std::move(other.report_stream_)),
      sandbox_failure_(std::move(other.sandbox_failure_)),
      wait_status_(other.wait_status_),
      settled_(other.settled_),
      settled_at_(other.settled_at_),
      left_behind_(other.left_behind_),
      end_requested_(other.end_requested_),
      terminate_sent_(other.terminate_sent_),
      reaped_(std::exchange(other.reaped_, true)),
      groups_(std::move(other.groups_)),
      temporary_folder_(std::exchange(other.temporary_folder_, {})) {}

ChildProcess::~ChildProcess() {
  if (supervisor_ > 0 && !reaped_) {
    kill_now();
  }
  close_fd(&input_);
  close_streams();
  close_fd(&reports_);
  close_fd(&control_);
  close_fd(&process_);
}

void ChildProcess::close_streams() {
  close_fd(&output_);
  close_fd(&error_fd_);
}

void ChildProcess::take_reports() {
  std::array<char, 256> bytes{};
  std::vector<SupervisorReport> records;
  bool well_formed = true;
  for (;;) {
    const ssize_t got = read(reports_, bytes.data(), bytes.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      if (got == 0 || errno != EAGAIN) {
        // The supervisor is gone; whatever it had not said will not come.
        well_formed = report_stream_.end();
        close_fd(&reports_);
        settled_ = true;
        settled_at_ = settled_at_.value_or(Clock::now());
      }
      break;
    }
    if (!report_stream_.take(std::string_view(bytes.data(), static_cast<std::size_t>(got)),
                             &records)) {
      well_formed = false;
      break;
    }
  }
  if (!well_formed) {
    fail_sandbox(report_stream_.malformed());
    return;
  }
  for (const SupervisorReport& record : records) {
    if (record.kind == SupervisorReport::kExited) {
      wait_status_ = record.value;
      // Nothing will read its input now but what it left, which is told its input ended,
      // as it would be by any host: a wrapper's filter then finishes.
      close_input();
    } else if (record.kind == SupervisorReport::kAlone ||
               record.kind == SupervisorReport::kLeftBehind) {
      left_behind_ = record.kind == SupervisorReport::kLeftBehind ? record.value : 0;
      settled_ = true;
      settled_at_ = Clock::now();
    }
  }
}

void ChildProcess::fail_sandbox(const std::string& why) {
  // Nothing the supervisor says is believed now: it is ended with all it watched (the
  // kernel ends its namespace with it; without one, the child has its parent-death signal).
  sandbox_failure_ = why;
  end_requested_ = true;
  close_fd(&control_);
  close_fd(&reports_);
  syscall(SYS_pidfd_send_signal, process_, SIGKILL, nullptr, 0);
  settled_ = true;
  settled_at_ = Clock::now();
}

void ChildProcess::keep_output(std::string_view bytes, bool drop_excess) {
  output_total_ += bytes.size();
  if (options_.transcript != nullptr) {
    options_.transcript->wrote(bytes);
  }
  const std::size_t room =
      options_.kept_output - std::min(options_.kept_output, output_buffer_.size());
  output_buffer_.append(drop_excess ? bytes.substr(0, room) : bytes);
}

void ChildProcess::keep_error(std::string_view bytes) {
  error_.append(bytes);
  if (options_.error_sink != nullptr) {
    options_.error_sink->wrote_error(bytes);
  }
}

std::size_t ChildProcess::write_input(std::string_view bytes) {
  last_write_began_ = Clock::now();
  // A child that stops reading must not kill the host: its closed pipe is EPIPE.
  const ssize_t put = write_without_sigpipe(input_, bytes.data(), bytes.size());
  if (put > 0) {
    if (options_.transcript != nullptr) {
      options_.transcript->took(bytes.substr(0, static_cast<std::size_t>(put)));
    }
    return static_cast<std::size_t>(put);
  }
  if (put < 0 && errno != EAGAIN && errno != EINTR) {
    input_broken_ = true;  // EPIPE: the child has closed its input
    close_input();
  }
  return 0;
}

void ChildProcess::read_ready(int fd, bool drop_excess) {
  if (fd < 0) {
    return;
  }
  if (fd == output_) {
    if (!drain(output_, CHUNK,
               [this, drop_excess](std::string_view bytes) { keep_output(bytes, drop_excess); })) {
      close_fd(&output_);
    }
  } else if (fd == error_fd_) {
    if (!drain(error_fd_, CHUNK, [this](std::string_view bytes) { keep_error(bytes); })) {
      close_fd(&error_fd_);
    }
  } else if (fd == reports_) {
    take_reports();
  }
}

void ChildProcess::move_ready(const pollfd* ready, std::size_t count) {
  for (const pollfd& one : std::span(ready, count)) {
    if (one.revents != 0) {
      read_ready(one.fd, /*drop_excess=*/false);
    }
  }
}

LineRead ChildProcess::take_held_lines(const std::function<bool(std::string_view line)>& each,
                                       std::string* rest, std::size_t max_line) {
  const std::size_t limit = std::min(max_line, options_.kept_output);
  std::size_t from = 0;
  bool refused = false;
  for (;;) {
    const std::size_t end = output_buffer_.find('\n', from);
    if (end == std::string::npos || end - from >= limit) {
      break;
    }
    const std::string_view line(output_buffer_.data() + from, end + 1 - from);
    from = end + 1;
    if (!each(line)) {
      refused = true;
      break;
    }
  }
  // What was taken goes at once, not line by line: a batch of answers is moved once.
  output_buffer_.erase(0, from);
  if (refused) {
    return LineRead::kLine;
  }
  if (output_buffer_.size() >= limit) {
    return LineRead::kTooLong;
  }
  if (output_ < 0) {
    *rest = std::exchange(output_buffer_, {});
    return LineRead::kEndOfOutput;
  }
  return LineRead::kTimedOut;
}

void ChildProcess::read_available() {
  pump([] { return false; }, {}, Clock::now(), /*drop_excess=*/false);
}

template <typename Done>
bool ChildProcess::pump(Done done, std::string_view pending, Clock::time_point deadline,
                        bool drop_excess) {
  while (!done()) {
    std::array<pollfd, 5> fds{};
    nfds_t count = 0;
    if (options_.interrupt >= 0) {
      fds[count++] = {options_.interrupt, POLLIN, 0};
    }
    const bool writing = !pending.empty() && input_ >= 0;
    if (writing) {
      fds[count++] = {input_, POLLOUT, 0};
    }
    // Holding kept_output unread, a reader of lines reads no more: the child waits.
    const bool reading = !holding_output_ && output_ >= 0 &&
                         (drop_excess || output_buffer_.size() < options_.kept_output);
    if (reading) {
      fds[count++] = {output_, POLLIN, 0};
    }
    if (error_fd_ >= 0) {
      fds[count++] = {error_fd_, POLLIN, 0};
    }
    if (reports_ >= 0) {
      fds[count++] = {reports_, POLLIN, 0};
    }
    if (count == (options_.interrupt >= 0 ? 1U : 0U)) {
      return true;  // nothing left that could change; `done` decides what that means
    }
    Clock::time_point wake = deadline;
    if (settled_at_ && (output_ >= 0 || error_fd_ >= 0)) {
      // Everything it started has ended, yet a stream is still open: something beyond
      // reach holds it. Listen a moment longer, then no more.
      wake = std::min(wake, *settled_at_ + STREAMS_AFTER_THE_END);
      if (Clock::now() >= *settled_at_ + STREAMS_AFTER_THE_END) {
        close_streams();
        continue;
      }
    }
    const int ready = poll(fds.data(), count, milliseconds_until(wake));
    if (ready < 0 && errno != EINTR) {
      return false;
    }
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
      const int fd = fds[i].fd;
      if (fd == options_.interrupt) {
        return false;  // another thread cuts the wait short
      }
      if (fd == input_) {
        pending.remove_prefix(write_input(pending.substr(0, CHUNK)));
        unsent_ = pending.size();
      } else {
        read_ready(fd, drop_excess);
      }
    }
  }
  return true;
}

std::size_t ChildProcess::send_now(std::string_view bytes) {
  // Written at once, with no poll before: a pipe with room takes it, and one without says
  // EAGAIN, as the input is not blocking.
  const std::size_t written = input_ >= 0 && !bytes.empty() ? write_input(bytes) : 0;
  if (input_ < 0) {
    return 0;
  }
  if (written == bytes.size()) {
    return written;
  }
  const std::string_view rest = bytes.substr(written);
  unsent_ = rest.size();
  pump([&] { return unsent_ == 0 || input_ < 0; }, rest, Clock::now(), /*drop_excess=*/false);
  return input_ < 0 ? 0 : written + rest.size() - unsent_;
}

Watched ChildProcess::watched(bool writing) const {
  Watched fds;
  const auto watch = [&fds](int fd, short wanted) {
    if (fd >= 0) {
      fds.fds.at(fds.count++) = {fd, wanted, 0};
    }
  };
  if (writing) {
    watch(input_, POLLOUT);
  }
  if (!holding_output_ && output_buffer_.size() < options_.kept_output) {
    watch(output_, POLLIN);
  }
  watch(error_fd_, POLLIN);
  watch(reports_, POLLIN);
  return fds;
}

bool ChildProcess::await_exit(Clock::time_point deadline) {
  pump([&] { return exited() || settled_; }, {}, deadline, /*drop_excess=*/true);
  return exited() || settled_;
}

bool ChildProcess::send(std::string_view bytes, Clock::time_point deadline) {
  unsent_ = bytes.size();
  const bool in_time =
      pump([&] { return unsent_ == 0 || input_ < 0; }, bytes, deadline, /*drop_excess=*/false);
  return in_time && unsent_ == 0 && !input_broken_;
}

void ChildProcess::close_input() {
  if (input_ >= 0) {
    close_fd(&input_);
    // Its supervisor judges what the extension left only once its input has ended.
    if (control_ >= 0) {
      while (write_without_sigpipe(control_, &CONTROL_INPUT_CLOSED, 1) < 0 && errno == EINTR) {
      }
    }
  }
}

void ChildProcess::terminate() {
  if (control_ >= 0 && !wait_status_) {
    terminate_sent_ = true;
    while (write_without_sigpipe(control_, &CONTROL_TERMINATE, 1) < 0 && errno == EINTR) {
    }
  }
}

LineRead ChildProcess::read_line(std::string* line, std::size_t max_line,
                                 Clock::time_point deadline) {
  const std::size_t limit = std::min(max_line, options_.kept_output);
  // Only bytes not yet looked at are searched for the line feed: a long line comes in many
  // pieces.
  std::size_t searched = 0;
  std::size_t end = std::string::npos;
  const auto line_end = [&] {
    if (end == std::string::npos) {
      end = output_buffer_.find('\n', searched);
      searched = output_buffer_.size();
    }
    return end;
  };
  const bool in_time = pump(
      [&] {
        return line_end() != std::string::npos || output_buffer_.size() >= limit || output_ < 0;
      },
      {}, deadline, /*drop_excess=*/false);
  line_end();
  if (end != std::string::npos && end < limit) {
    line->assign(output_buffer_, 0, end + 1);
    output_buffer_.erase(0, end + 1);
    return LineRead::kLine;
  }
  if (output_buffer_.size() >= limit) {
    return LineRead::kTooLong;
  }
  if (!in_time) {
    return LineRead::kTimedOut;
  }
  *line = std::move(output_buffer_);
  output_buffer_.clear();
  return LineRead::kEndOfOutput;
}

bool ChildProcess::read_to_end(Clock::time_point deadline, std::size_t stop_after) {
  const bool ended =
      pump([&] { return (output_ < 0 && error_fd_ < 0) || output_total_ > stop_after; }, {},
           deadline, /*drop_excess=*/true);
  return ended && output_total_ <= stop_after;
}

bool ChildProcess::await_output(std::string_view marker, Clock::time_point deadline) {
  std::size_t searched = 0;  // where the marker cannot begin before
  const auto found = [&] {
    const bool there = output_buffer_.find(marker, searched) != std::string::npos;
    searched = output_buffer_.size() - std::min(output_buffer_.size(), marker.size());
    return there;
  };
  pump([&] { return found() || output_ < 0; }, {}, deadline, /*drop_excess=*/true);
  return output_buffer_.find(marker) != std::string::npos;
}

bool ChildProcess::await_held(const std::function<bool(std::string_view held)>& enough,
                              Clock::time_point deadline) {
  pump([&] { return enough(output_buffer_) || output_ < 0; }, {}, deadline, /*drop_excess=*/true);
  return enough(output_buffer_);
}

Awaited ChildProcess::await_held_while_at_work(
    const std::function<bool(std::string_view held)>& enough, Clock::time_point deadline) {
  bool asleep_before = false;
  std::size_t moved_before = 0;
  for (;;) {
    const Clock::time_point look = std::min(deadline, Clock::now() + IDLE_LOOK);
    pump([&] { return enough(output_buffer_) || output_ < 0; }, {}, look, /*drop_excess=*/true);
    if (enough(output_buffer_)) {
      return Awaited::kEnough;
    }
    if (output_ < 0) {
      return Awaited::kEnded;
    }
    if (Clock::now() >= deadline) {
      return Awaited::kTimedOut;
    }
    const bool asleep = !any_process_at_work(supervisor_);
    const std::size_t moved = output_total_ + error_.total() + unread_input();
    if (asleep && asleep_before && moved == moved_before) {
      return Awaited::kAsleep;
    }
    asleep_before = asleep;
    moved_before = moved;
  }
}

Awaited ChildProcess::await_quiet_unread(Clock::time_point deadline) {
  holding_output_ = true;
  bool asleep_before = false;
  std::size_t moved_before = 0;
  Awaited awaited = Awaited::kTimedOut;
  for (;;) {
    const Clock::time_point look = std::min(deadline, Clock::now() + IDLE_LOOK);
    pump([&] { return wait_status_.has_value() || settled_; }, {}, look, /*drop_excess=*/true);
    if (wait_status_ || settled_) {
      awaited = Awaited::kEnded;
      break;
    }
    if (Clock::now() >= deadline) {
      break;
    }
    const bool asleep = !any_process_at_work(supervisor_);
    const std::size_t moved = error_.total() + unread_input();
    if (asleep && asleep_before && moved == moved_before) {
      awaited = Awaited::kAsleep;
      break;
    }
    asleep_before = asleep;
    moved_before = moved;
  }
  holding_output_ = false;
  return awaited;
}

std::size_t ChildProcess::unread_input() const {
  int unread = 0;
  if (input_ < 0 || ioctl(input_, FIONREAD, &unread) != 0) {
    return 0;
  }
  return static_cast<std::size_t>(unread);
}

std::string ChildProcess::take_output() { return std::exchange(output_buffer_, {}); }

void ChildProcess::reap_supervisor() {
  if (!reaped_) {
    ::reap_supervisor(std::exchange(process_, -1), ENDING_TIMEOUT);
    reaped_ = true;
    // Nothing of the child runs now: its groups and temporary files go.
    groups_.remove();
    remove_folder(temporary_folder_);
  }
}

Termination ChildProcess::ending() {
  Termination termination;
  if (!sandbox_failure_.empty()) {
    termination.signaled = true;
    termination.code = SIGKILL;
    termination.killed_by_host = true;
    termination.sandbox_failure = sandbox_failure_;
    return termination;
  }
  if (wait_status_) {
    termination = from_status(*wait_status_);
  } else {
    termination.signaled = true;  // its supervisor was ended before it could tell
    termination.code = SIGKILL;
  }
  termination.killed_by_host =
      termination.signaled && ((end_requested_ && termination.code == SIGKILL) ||
                               (terminate_sent_ && termination.code == SIGTERM));
  termination.left_behind = left_behind_;
  return termination;
}

Termination ChildProcess::wait(Clock::time_point deadline) {
  if (reaped_) {
    return ending();
  }
  if (!pump([&] { return settled_; }, {}, deadline, /*drop_excess=*/true)) {
    return kill_now();
  }
  reap_supervisor();
  return ending();
}

Termination ChildProcess::kill_now() {
  if (reaped_) {
    return ending();
  }
  take_reports();
  end_requested_ = !wait_status_.has_value();
  // Closing its control pipe tells the supervisor to end everything, and to say how the
  // child ended; one that does not answer in time is killed, and its namespace with it.
  close_fd(&control_);
  if (!pump([&] { return settled_; }, {}, Clock::now() + ENDING_TIMEOUT, /*drop_excess=*/true)) {
    syscall(SYS_pidfd_send_signal, process_, SIGKILL, nullptr, 0);
    end_requested_ = true;
  }
  reap_supervisor();
  return ending();
}
