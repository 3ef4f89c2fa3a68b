// A child process on three pipes, driven without ever blocking past a deadline.
//
// The host starts the extension with its standard input, output and error on pipes and
// pumps all three at once: while it writes the extension's input it keeps reading the
// extension's output, so neither side can stall the other by filling a pipe. Every wait
// has a deadline. The child leads a process group of its own; whenever it ends, and
// whenever the host gives up on it, the whole group is ended, and the child reaped.
#ifndef HOST_PROCESS_CHILD_PROCESS_H_
#define HOST_PROCESS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/bounded_text.h"

using Clock = std::chrono::steady_clock;

// How the child ended.
struct Termination {
  bool signaled = false;  // killed by a signal rather than exiting
  int code = 0;           // the exit status, or the signal's number
  bool killed_by_host = false;
  // The child had exited, but a process it started still held its output or error open;
  // the host ended the child's process group rather than wait for it.
  bool output_held_open = false;
};

// In words: "exit status 0", "killed by signal 9 (SIGKILL), sent by the host", and what
// was done about a process left holding the output.
std::string describe(const Termination& termination);

enum class LineRead { kLine, kEndOfOutput, kTimedOut, kTooLong };

struct ChildOptions {
  bool keep_transcript = false;  // keep every byte sent and received (sent(), received())
  bool whole_error = false;      // keep all of standard error, not just its ends
};

class ChildProcess {
 public:
  // Starts `argv[0]` (looked up as execvp does) with `argv`. On failure returns none and
  // says why in `*error`.
  static std::optional<ChildProcess> start(const std::vector<std::string>& argv, std::string* error,
                                           ChildOptions options = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Kills the child's group and reaps the child if it is still running.
  ~ChildProcess();

  // Writes all of `bytes` to the child's input, reading its output meanwhile. Returns
  // false if the child stopped reading (its input pipe closed) or the deadline passed.
  bool send(std::string_view bytes, Clock::time_point deadline);

  // Closes the child's input: the child sees end of input.
  void close_input();

  // Takes the next line of the child's output, line feed included, into `*line`. A line
  // of more than `max_line` bytes with its line feed is not taken: kTooLong. At end of
  // output, a last unterminated piece is returned as kEndOfOutput with `*line` holding it.
  // Output ends when the child closes it, or soon after the child has exited even if a
  // process it started still holds it (see Termination::output_held_open).
  LineRead read_line(std::string* line, std::size_t max_line, Clock::time_point deadline);

  // Reads the child's output and error until both end, as read_line sees an end. Returns
  // false at the deadline.
  bool read_to_end(Clock::time_point deadline);

  // All output not yet taken by read_line.
  std::string take_output();
  // Everything written to standard error, or its ends (ChildOptions::whole_error).
  [[nodiscard]] const BoundedText& error_output() const { return error_; }
  // With ChildOptions::keep_transcript: every byte the child took from its input, and
  // every byte it wrote to its output.
  [[nodiscard]] const std::string& sent() const { return sent_; }
  [[nodiscard]] const std::string& received() const { return received_; }

  // Waits for the child to end, ends its group and reaps it; at the deadline kills the
  // group (SIGKILL) and reaps the child.
  Termination wait(Clock::time_point deadline);

  // Kills the child's group at once and reaps the child.
  Termination kill_now();

 private:
  ChildProcess(pid_t pid, int input, int output, int error, ChildOptions options);
  // Moves bytes between the pipes until `done` holds or the deadline passes; writes
  // `pending` to the input meanwhile, counting what is left in unsent_. Returns false at
  // the deadline.
  template <typename Done>
  bool pump(Done done, std::string_view pending, Clock::time_point deadline);
  // Whether the child has exited; leaves it unreaped, so that its group id stays its own.
  bool exited();
  // Once the child has exited, its output and error are given a moment to end; a process
  // of its group that still holds them is ended with the group.
  void end_held_streams();
  void close_streams();

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int error_fd_ = -1;
  ChildOptions options_;
  bool input_broken_ = false;
  std::size_t unsent_ = 0;
  std::string output_buffer_;
  BoundedText error_;
  std::string sent_;
  std::string received_;
  std::optional<Clock::time_point> exited_at_;
  bool output_held_open_ = false;
  std::optional<Termination> ended_;
};

#endif  // HOST_PROCESS_CHILD_PROCESS_H_
