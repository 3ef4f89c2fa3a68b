// One run of an extension on a given input, observed whole; and the verdict on it when
// the run plays a golden case.
#ifndef HOST_CONVERSATION_PLAY_H_
#define HOST_CONVERSATION_PLAY_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "conversation/case_folder.h"
#include "process/child_process.h"

// What kind of failure a case ended in, the first that applies in this order.
enum class Failure {
  kNone,
  kBadCase,        // the case's own files cannot be read
  kCannotStart,    // the extension cannot be started
  kSandboxFailed,  // its sandbox went wrong, and the host ended everything
  kTimedOut,       // killed at the deadline
  kSignal,         // ended by a signal of its own
  kOutputDiffers,  // standard output is not the expected bytes
  kExitStatus,     // the exit status is not the expected one
  kStandardError,  // something was written to standard error
  kProcessLeft,    // processes it started were still running after it had exited
  kDuration,       // it ended sooner or later than the case's bounds
};

// The category's name in words, as reports give it: "output differs", "timed out", ...
const char* failure_name(Failure failure);

struct Verdict {
  Failure failure = Failure::kNone;
  std::string detail;  // on failure: the category's name, then what differed first
  std::chrono::milliseconds elapsed{0};
  std::vector<std::string> command_line;  // what the extension was run with, when it was
  [[nodiscard]] bool passed() const { return failure == Failure::kNone; }
};

// What one run of an extension on a given input gave.
struct Observed {
  bool started = false;
  std::string start_error;     // when not started
  bool timed_out = false;      // killed at the deadline
  bool ran_on_closed = false;  // killed at the deadline after it had closed its output
  Termination termination;
  std::string output;            // its first bytes, as many as were kept
  std::size_t output_total = 0;  // every byte it wrote, kept or not
  std::size_t error_bytes = 0;
  std::string error_head;  // the first bytes of standard error
  std::chrono::milliseconds elapsed{0};
  // With a probe: from the moment the probed line was all written to the moment its
  // answer came; none when it did not come.
  std::optional<std::chrono::microseconds> probed;
  // When its announcement was awaited after the handshake line: how many bytes it had
  // written when the host went on. None when it was not awaited.
  std::optional<std::size_t> written_while_awaited;
  // With a start allowance: what ended that wait, and whether it had read the handshake
  // line by then.
  std::optional<Awaited> announcement_wait;
  bool took_first_line = false;
};

// What ends the lines an extension announces itself with ("register"), as it writes them.
extern const char ANNOUNCED[];

// How long an extension may take to announce itself after the handshake line, before the
// host writes on and the conversation's timeout starts: far above an interpreter's or a
// virtual machine's start on a busy machine.
inline constexpr std::chrono::milliseconds ANNOUNCEMENT_ALLOWANCE{10000};

// Where a host stops writing until the extension has announced itself: after the input's
// first `input_end` bytes (its handshake line), until the output holds `announcement`
// whole or has parted from it, or, with no announcement given, holds two lines (the
// handshake's result and "register", whatever they say). With `within`, the wait lasts
// at most that long, and the rest of the conversation then has its whole timeout: the
// time an extension takes to start (an interpreter, a virtual machine, a busy machine) is
// never counted against it. Without, the wait is part of the timeout. When the first line
// is the whole input, the input is closed before the wait.
struct HandshakeWait {
  std::size_t input_end = 0;
  std::string announcement;
  std::optional<std::chrono::milliseconds> within;
};

// A line of the input whose answer is timed: the input before it is written, then nothing
// more until the output holds `ready` (the extension has started and announced itself, so
// that its start is not timed) or `ready_within` has passed; then the line, and nothing
// more until the output holds `answer` or `answer_within` has passed. The time from the
// moment the line's last write began to the answer is the answer's: no extension can
// begin to answer before its question is all written, so it is a lower bound of its own
// time that no load on the machine can shorten. The rest of the input follows either way:
// a probe times a conversation, it never changes how it goes.
struct Probe {
  std::size_t line_start = 0;
  std::size_t line_end = 0;
  std::string ready;
  std::chrono::milliseconds ready_within{0};
  std::string answer;
  std::chrono::milliseconds answer_within{0};
  long long milliseconds = 0;  // what the line asks to wait: no answer may come sooner
};

// Runs `command` with `arguments` after it, in `sandbox`, writes `input` and closes it, and
// gathers what
// it wrote until it ended, or until `timeout`, when it is killed: the first `kept_output`
// bytes of its output and the count of all, and the ends of its standard error.
// Everything it started is ended with it.
//
// With `handshake`, the input stops after the handshake line until the extension has
// announced itself, has said something else, has ended its output, or the deadline has
// passed, as a host waits before it calls: an extension that holds its output back until
// its input closes never announces itself to a host, and here it is killed at the
// deadline. With a probe, the input also pauses there.
Observed observe(const std::vector<std::string>& command, const Sandbox& sandbox,
                 const std::vector<std::string>& arguments, const std::string& input,
                 std::chrono::milliseconds timeout, std::size_t kept_output,
                 const std::optional<Probe>& probe = std::nullopt,
                 const std::optional<HandshakeWait>& handshake = std::nullopt);

// The part of the extension's answer to a call of "sample.wait" that only that answer
// holds: its request_id (as JSON text) and the milliseconds, as the extension writes them.
std::string wait_answer(const std::string& request_id, long long milliseconds);

// The probe of a call of "sample.wait" for `milliseconds`, with `request_id` (as JSON
// text), on the input's bytes from `line_start` to `line_end`: ready once the extension
// has announced itself, and timed until its answer.
Probe wait_probe_at(std::size_t line_start, std::size_t line_end, const std::string& request_id,
                    long long milliseconds);

// "answered the wait of N ms M ms after its call was all written: sooner than it asked"
// when `observed` answered the probe sooner than it asked; "" otherwise.
std::string answered_too_soon(const Probe& probe, const Observed& observed);

// The first call of "sample.wait" in the case that sleeps and is answered in its expected
// output, as a probe: its answer is timed from the moment the call was all written, and
// one that comes sooner than asked fails the case, however slowly the extension started.
// None when the case has no such call.
std::optional<Probe> wait_probe_of(const Conversation& conversation);

// How long check lets a case's extension run by default, waits included. No case's upper
// bound on its duration is below it, so no load on the machine can break one.
inline constexpr std::chrono::milliseconds DEFAULT_CASE_TIMEOUT{15000};

// How much more than it expects a judge keeps of an output: enough to show what came
// after the expected end.
inline constexpr std::size_t KEPT_BEYOND_EXPECTED = 4096;

// Runs `command` (the extension, or a wrapper and the extension) with the case's
// arguments after it and its input, in `sandbox`, and compares everything. Of its output no more is
// kept than the case's expected output and KEPT_BEYOND_EXPECTED. Everything it started
// is ended with it, whatever happens.
// `timeout` bounds the whole run; the extension is killed when it is exceeded.
Verdict play(const Conversation& conversation, const std::vector<std::string>& command,
             const Sandbox& sandbox, std::chrono::milliseconds timeout);

#endif  // HOST_CONVERSATION_PLAY_H_
