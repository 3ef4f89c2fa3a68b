// A child process on three pipes, driven without ever blocking past a deadline.
//
// The host starts the extension under a supervisor of its own, in its sandbox (see
// sandbox/sandbox.h), with its standard input, output and error on pipes, and pumps all three at
// once: while it writes the extension's input it keeps reading the extension's output, so neither
// side can stall the other by filling a pipe. Every wait has a deadline. Whatever the extension
// starts ends with it, and nothing of it outlives the host.
//
// Memory is bounded by the caller, not by the child: output is held up to
// ChildOptions::kept_output (beyond it, a reader of lines stops reading and lets the
// child wait on its pipe, and a reader to the end counts the bytes and drops them), and
// standard error is kept by its ends.
#ifndef HOST_PROCESS_CHILD_PROCESS_H_
#define HOST_PROCESS_CHILD_PROCESS_H_

#include <poll.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/report_stream.h"
#include "sandbox/sandbox.h"
#include "sandbox/supervisor_report.h"
#include "text/bounded_text.h"

using Clock = std::chrono::steady_clock;

// How the child ended.
struct Termination {
  bool signaled = false;  // killed by a signal rather than exiting
  int code = 0;           // the exit status, or the signal's number
  bool killed_by_host = false;
  // Processes it started were left behind after it had exited (asleep, waiting for
  // nothing), and were ended by its supervisor: how many.
  int left_behind = 0;
  // Its sandbox went wrong, and the host ended everything (then it is said killed by
  // SIGKILL, sent by the host): why, in words. Empty when the sandbox held.
  std::string sandbox_failure;
};

// In words: "exit status 0", "killed by signal 9 (SIGKILL), sent by the host", and what
// was done about processes left running.
std::string describe(const Termination& termination);

enum class LineRead { kLine, kEndOfOutput, kTimedOut, kTooLong };

// What ended a wait on the child that heeds whether it is at work.
enum class Awaited {
  kEnough,    // what was awaited came
  kEnded,     // its output ended
  kAsleep,    // every process of it was asleep, twice in a row, and nothing moved between
  kTimedOut,  // the deadline passed while it was at work
};

// Receives the bytes of a conversation as they pass. Not owned by the child.
class TranscriptSink {
 public:
  TranscriptSink() = default;
  TranscriptSink(const TranscriptSink&) = delete;
  TranscriptSink& operator=(const TranscriptSink&) = delete;
  TranscriptSink(TranscriptSink&&) = delete;
  TranscriptSink& operator=(TranscriptSink&&) = delete;
  virtual ~TranscriptSink() = default;
  // Bytes the child took from its input.
  virtual void took(std::string_view bytes) = 0;
  // Bytes the child wrote to its output.
  virtual void wrote(std::string_view bytes) = 0;
};

// The output a child may hold unread by default: far above any honest line.
inline constexpr std::size_t DEFAULT_KEPT_OUTPUT = std::size_t{16} << 20U;
// Standard error kept whole (ChildOptions::whole_error) up to this, then by its last bytes.
inline constexpr std::size_t WHOLE_ERROR_LIMIT = std::size_t{64} << 20U;

// What a wait on the child watches: at most its input, output, error and supervisor.
struct Watched {
  std::array<pollfd, 4> fds{};
  std::size_t count = 0;
};

// Receives the bytes of standard error as they come. Not owned by the child.
class ErrorSink {
 public:
  ErrorSink() = default;
  ErrorSink(const ErrorSink&) = delete;
  ErrorSink& operator=(const ErrorSink&) = delete;
  ErrorSink(ErrorSink&&) = delete;
  ErrorSink& operator=(ErrorSink&&) = delete;
  virtual ~ErrorSink() = default;
  virtual void wrote_error(std::string_view bytes) = 0;
};

struct ChildOptions {
  const Sandbox* sandbox = nullptr;  // where it runs; not owned. REQUIRES: set
  std::size_t kept_output = DEFAULT_KEPT_OUTPUT;
  bool whole_error = false;  // keep standard error whole, up to WHOLE_ERROR_LIMIT
  TranscriptSink* transcript = nullptr;
  ErrorSink* error_sink = nullptr;
  // A descriptor that, once readable, cuts every wait short as its deadline would (another
  // thread's way to stop a wait); -1 for none. Not owned, and never read.
  int interrupt = -1;
};

class ChildProcess {
 public:
  // Starts `argv[0]` (looked up as execvp does) with `argv` in `options.sandbox`. On
  // failure returns none and says why in `*error`. REQUIRES: the calling thread outlives
  // the child.
  static std::optional<ChildProcess> start(const std::vector<std::string>& argv, std::string* error,
                                           ChildOptions options = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Ends the child and all it started, if they are still running.
  ~ChildProcess();

  // Writes all of `bytes` to the child's input, reading its output meanwhile. Returns
  // false if the child stopped reading (its input pipe closed) or the deadline passed.
  bool send(std::string_view bytes, Clock::time_point deadline);

  // Closes the child's input: the child sees end of input.
  void close_input();

  // Asks that the extension be sent SIGTERM, which it may handle; what it started is not.
  void terminate();

  // Writes what of `bytes` the child's input takes now, and moves whatever else is ready,
  // never waiting. Returns how many bytes of `bytes` were written.
  std::size_t send_now(std::string_view bytes);

  // The descriptors a wait would watch now, with their events: for a caller's own poll.
  // `writing` when it has bytes to send.
  [[nodiscard]] Watched watched(bool writing) const;

  // Moves what `ready` (a poll's answer over the descriptors of watched()) says can be
  // read, without polling again and without waiting.
  void move_ready(const pollfd* ready, std::size_t count);

  // Every whole line already held, in order, handed to `each` (line feed included) and
  // then let go, with no read; stops at the first line `each` refuses. Returns what
  // follows: kLine when `each` refused one; kTimedOut when the output goes on; kTooLong
  // when it holds `max_line` bytes (or kept_output) with no line feed; kEndOfOutput when
  // the output has ended, with its last piece, if any, in `*rest`.
  LineRead take_held_lines(const std::function<bool(std::string_view line)>& each,
                           std::string* rest, std::size_t max_line);

  // Reads what has come, without waiting.
  void read_available();

  // Reads until the child has exited (true) or the deadline passes (false), ending nothing.
  bool await_exit(Clock::time_point deadline);

  // Whether the child itself has exited, or the sandbox failed.
  [[nodiscard]] bool exited() const {
    return wait_status_.has_value() || !sandbox_failure_.empty();
  }
  // Whether the child's input is still open.
  [[nodiscard]] bool input_open() const { return input_ >= 0; }

  // Takes the next line of the child's output, line feed included, into `*line`. A line
  // of more than `max_line` bytes with its line feed (or more than kept_output) is not
  // taken: kTooLong. At end of output, a last unterminated piece is returned as
  // kEndOfOutput with `*line` holding it.
  LineRead read_line(std::string* line, std::size_t max_line, Clock::time_point deadline);

  // Reads the child's output and error until both end. Output beyond kept_output is
  // counted and dropped. Returns false at the deadline, or once the child has written
  // more than `stop_after` bytes in all.
  bool read_to_end(Clock::time_point deadline,
                   std::size_t stop_after = std::numeric_limits<std::size_t>::max());

  // Reads the child's output, keeping it for take_output, until it holds `marker`, ends,
  // or the deadline passes. Returns whether the marker came.
  bool await_output(std::string_view marker, Clock::time_point deadline);

  // Reads the child's output, keeping it for take_output, until `enough` holds of all the
  // output held, the output ends, or the deadline passes. Returns whether `enough` held.
  bool await_held(const std::function<bool(std::string_view held)>& enough,
                  Clock::time_point deadline);

  // As await_held, but also ends once the child is asleep: every process of it asleep
  // (none running, ready to run, or waiting on the disk) at two looks IDLE_LOOK apart,
  // with no byte moved on its pipes between. A child that starts slowly is at work, and
  // is waited for until the deadline; one that waits for what the host has not sent, or
  // for nothing, is not.
  Awaited await_held_while_at_work(const std::function<bool(std::string_view held)>& enough,
                                   Clock::time_point deadline);

  // Reads none of the child's output until it has ended (kEnded) or is asleep (kAsleep,
  // as await_held_while_at_work tells it), or the deadline passes (kTimedOut): a host
  // that reads late. What the child then holds back in its own buffers, where a host that
  // reads at once would have had it, is lost to it if it exits.
  Awaited await_quiet_unread(Clock::time_point deadline);

  // Bytes written to the child's input that it has not read yet.
  [[nodiscard]] std::size_t unread_input() const;

  // All output held and not yet taken by read_line.
  std::string take_output();
  // How many bytes are held, not yet taken by read_line.
  [[nodiscard]] std::size_t unread_output() const { return output_buffer_.size(); }
  // Whether the child's output has ended (it closed it, or ended).
  [[nodiscard]] bool output_ended() const { return output_ < 0; }
  // Every byte the child wrote to its output, held or dropped.
  [[nodiscard]] std::size_t output_total() const { return output_total_; }
  // Everything written to standard error, or its ends.
  [[nodiscard]] const BoundedText& error_output() const { return error_; }
  // When the last write to the child's input began: the child cannot have read what it
  // wrote any sooner.
  [[nodiscard]] Clock::time_point last_write_began() const { return last_write_began_; }

  // Waits for the child to end and for what it left running to be ended; at the deadline
  // ends everything.
  Termination wait(Clock::time_point deadline);

  // Ends the child and all it started at once.
  Termination kill_now();

 private:
  ChildProcess(StartedSandbox started, ReportStream reports, int input, int output, int error,
               ChildOptions options);
  // Moves bytes between the pipes and takes the supervisor's reports until `done` holds
  // or the deadline passes; writes `pending` to the input meanwhile, counting what is left
  // in unsent_. Output past kept_output is dropped with `drop_excess`, else left in the
  // pipe. Returns false at the deadline.
  template <typename Done>
  bool pump(Done done, std::string_view pending, Clock::time_point deadline, bool drop_excess);
  void take_reports();
  // One write of `bytes` to the input, which may take part: how much it took. EPIPE
  // closes the input.
  std::size_t write_input(std::string_view bytes);
  // Reads what `fd` (the output, error or the supervisor's reports) holds now.
  void read_ready(int fd, bool drop_excess);
  void keep_output(std::string_view bytes, bool drop_excess);
  void keep_error(std::string_view bytes);
  // A malformed record: ends everything at once, believing nothing more of the supervisor.
  void fail_sandbox(const std::string& why);
  void close_streams();
  void reap_supervisor();
  Termination ending();

  pid_t supervisor_ = -1;
  int process_ = -1;  // the supervisor's descriptor, until it is reaped
  int input_ = -1;
  int output_ = -1;
  int error_fd_ = -1;
  int reports_ = -1;
  int control_ = -1;
  ChildOptions options_;
  bool input_broken_ = false;
  bool holding_output_ = false;  // await_quiet_unread: the output is left unread
  std::size_t unsent_ = 0;
  Clock::time_point last_write_began_;
  std::string output_buffer_;
  std::size_t output_total_ = 0;
  BoundedText error_;
  ReportStream report_stream_;
  std::string sandbox_failure_;     // why the sandbox failed, when it did
  std::optional<int> wait_status_;  // the child's own, once it has ended
  bool settled_ = false;            // everything it started has ended too
  std::optional<Clock::time_point> settled_at_;
  int left_behind_ = 0;
  bool end_requested_ = false;   // the host ended it before it ended on its own
  bool terminate_sent_ = false;  // the host asked that it be sent SIGTERM
  bool reaped_ = false;
  ExtensionGroups groups_;        // removed once it has ended
  std::string temporary_folder_;  // made by the host for it, removed once it has ended
};

#endif  // HOST_PROCESS_CHILD_PROCESS_H_
