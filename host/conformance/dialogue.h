// One conversation of conform, held as a host holds it: each line written, then, when it
// asks for an answer, nothing more until the answer has come, with the extension's input
// left open. An extension that keeps its answer back until more input comes, or until its
// input closes, is caught waiting here, as it would hang a host.
#ifndef HOST_CONFORMANCE_DIALOGUE_H_
#define HOST_CONFORMANCE_DIALOGUE_H_

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "sandbox/sandbox.h"

// One line the host writes, and how many lines it then awaits before it writes on.
struct Step {
  std::string line;  // with its line feed
  std::size_t answers = 0;
  // When not empty, the lines before the first that holds it are no answer: what an
  // extension prints before its announcement does not stand in for the announcement.
  std::string counted_from;
};

// How a dialogue ends once its steps are written.
enum class Closing {
  kCloseInput,  // the host closes the extension's input, as at the end of a session
  // As kCloseInput, then the host reads nothing until the extension has ended or sleeps:
  // what it had not written whole by then, a host that reads late never gets.
  kCloseInputReadLate,
  kAwaitTheEnd,  // the host awaits the end of the extension's output with its input open
};

struct Dialogue {
  std::string title;                   // "calls of weather.now within its arity"
  std::vector<std::string> arguments;  // after the extension's command: "--protocol" "1"
  std::vector<Step> steps;
  Closing closing = Closing::kCloseInput;
};

// Why the host stopped writing before the dialogue's end.
enum class Stall {
  kNone,
  kEnded,     // the extension closed its output before the awaited answer
  kAsleep,    // it was asleep, every process of it, without the awaited answer
  kTimedOut,  // the deadline passed while it was at work
};

// One line the extension wrote, and where in the dialogue it came.
struct WrittenLine {
  std::string bytes;        // as written, its line feed included (a last line may lack it)
  std::size_t after_steps;  // how many of the host's lines had been written when it came
  bool after_input_closed;  // it came only once the host had closed the input
};

// What one dialogue gave.
struct Exchange {
  bool started = false;
  std::string start_error;
  std::size_t steps_written = 0;  // of the dialogue's steps, how many the host wrote
  Stall stall = Stall::kNone;
  std::size_t stalled_at = 0;  // the step whose answer did not come, when stalled
  std::vector<WrittenLine> lines;
  bool too_long = false;  // a line longer than the host reads, or output beyond its bound
  bool ended_in_time = true;
  Termination termination;
  std::chrono::milliseconds timeout{0};  // how long its end was awaited once the input closed
  std::size_t error_bytes = 0;
  std::string error_head;  // the first bytes of standard error
};

// Runs `command` with the dialogue's arguments in `sandbox` and holds the dialogue. The
// first answer awaited may take ANNOUNCEMENT_ALLOWANCE (the extension's start is never
// counted against it); each later one, and the end, `timeout`. An answer is awaited at most
// until the extension is asleep without it. Everything the extension started is ended
// with it, whatever happens.
Exchange hold_dialogue(const std::vector<std::string>& command, const Sandbox& sandbox,
                       const Dialogue& dialogue, std::chrono::milliseconds timeout);

#endif  // HOST_CONFORMANCE_DIALOGUE_H_
