// A child process on three pipes, driven without ever blocking past a deadline.
//
// The host starts the extension with its standard input, output and error on pipes and
// pumps all three at once: while it writes the extension's input it keeps reading the
// extension's output, so neither side can stall the other by filling a pipe. Every wait
// has a deadline; a child still running at the end is killed and reaped.
#ifndef HOST_CHILD_PROCESS_H_
#define HOST_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Clock = std::chrono::steady_clock;

// How the child ended.
struct Termination {
  bool signaled = false;  // killed by a signal rather than exiting
  int code = 0;           // the exit status, or the signal's number
  bool killed_by_host = false;
};

std::string describe(const Termination& termination);

enum class LineRead { kLine, kEndOfOutput, kTimedOut, kTooLong };

class ChildProcess {
 public:
  // Starts `argv[0]` (looked up as execvp does) with `argv`. On failure returns none and
  // says why in `*error`.
  static std::optional<ChildProcess> start(const std::vector<std::string>& argv,
                                           std::string* error);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Kills and reaps the child if it is still running.
  ~ChildProcess();

  // Writes all of `bytes` to the child's input, reading its output meanwhile. Returns
  // false if the child stopped reading (its input pipe closed) or the deadline passed.
  bool send(std::string_view bytes, Clock::time_point deadline);

  // Closes the child's input: the child sees end of input.
  void close_input();

  // Takes the next line of the child's output, line feed included, into `*line`. A line
  // of more than `max_line` bytes with its line feed is not taken: kTooLong. At end of output, a
  // last unterminated piece is returned as kEndOfOutput with `*line` holding it.
  LineRead read_line(std::string* line, std::size_t max_line, Clock::time_point deadline);

  // Reads the child's output and error until both end. Returns false at the deadline.
  bool read_to_end(Clock::time_point deadline);

  // All output not yet taken by read_line, and everything written to standard error.
  std::string take_output();
  [[nodiscard]] const std::string& error_output() const { return error_; }

  // Waits for the child to end; at the deadline kills it (SIGKILL) and reaps it.
  Termination wait(Clock::time_point deadline);

  // Kills the child at once and reaps it.
  Termination kill_now();

 private:
  ChildProcess(pid_t pid, int input, int output, int error);
  // Moves bytes between the pipes until `done` holds or the deadline passes; writes
  // `pending` to the input meanwhile, counting what is left in unsent_. Returns false at
  // the deadline.
  template <typename Done>
  bool pump(Done done, std::string_view pending, Clock::time_point deadline);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int error_fd_ = -1;
  bool input_broken_ = false;
  std::size_t unsent_ = 0;
  std::string output_buffer_;
  std::string error_;
  std::optional<Termination> ended_;
};

#endif  // HOST_CHILD_PROCESS_H_
