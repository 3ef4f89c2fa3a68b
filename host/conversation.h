// Golden conversations: one folder per case, read from disk and played against an
// extension executable.
//
// A case folder holds:
//   input     the bytes written to the extension's standard input, which is then closed
//   output    the bytes the extension must write to standard output, exactly
//   status    the exit status it must end with, as a decimal number
//   args      optional: its command line after the program name, one argument per line
//             (default "--protocol" and "1"; an empty file means no arguments)
//   duration  optional: "MIN_MS MAX_MS", bounds on the time from start to exit
// Standard error must always stay empty.
#ifndef HOST_CONVERSATION_H_
#define HOST_CONVERSATION_H_

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

struct Conversation {
  std::string name;
  std::vector<std::string> arguments;
  std::string input;
  std::string output;
  int status = 0;
  std::optional<std::chrono::milliseconds> min_duration;
  std::optional<std::chrono::milliseconds> max_duration;
};

// Whether `folder` is one case (it has a "status" file) rather than a folder of cases.
bool is_conversation(const std::filesystem::path& folder);

// Reads the case in `folder`. On failure returns none and says why in `*error`.
std::optional<Conversation> load_conversation(const std::filesystem::path& folder,
                                              std::string* error);

// What kind of failure a case ended in, the first that applies in this order.
enum class Failure {
  kNone,
  kBadCase,        // the case's own files cannot be read
  kCannotStart,    // the extension cannot be started
  kTimedOut,       // killed at the deadline
  kSignal,         // ended by a signal of its own
  kOutputDiffers,  // standard output is not the expected bytes
  kExitStatus,     // the exit status is not the expected one
  kStandardError,  // something was written to standard error
  kProcessLeft,    // a process it started kept its output open after it had exited
  kDuration,       // it ended sooner or later than the case's bounds
};

// The category's name in words, as reports give it: "output differs", "timed out", ...
const char* failure_name(Failure failure);

// Writes `conversation` as a case folder that load_conversation reads back the same:
// input, output, status, args when they are not the default, duration when bounded.
// Creates the folder. On failure returns false and says why in `*error`.
bool write_conversation(const std::filesystem::path& folder, const Conversation& conversation,
                        std::string* error);

struct Verdict {
  Failure failure = Failure::kNone;
  std::string detail;  // on failure: the category's name, then what differed first
  std::chrono::milliseconds elapsed{0};
  [[nodiscard]] bool passed() const { return failure == Failure::kNone; }
};

// What one run of an extension on a given input gave.
struct Observed {
  bool started = false;
  std::string start_error;  // when not started
  bool timed_out = false;   // killed at the deadline
  Termination termination;
  std::string output;
  std::size_t error_bytes = 0;
  std::string error_head;  // the first bytes of standard error
  std::chrono::milliseconds elapsed{0};
};

// Runs `command` with `arguments` after it, writes `input` and closes it, and gathers all
// it wrote until it ended, or until `timeout`, when it is killed. Its process group is
// ended with it.
Observed observe(const std::vector<std::string>& command, const std::vector<std::string>& arguments,
                 const std::string& input, std::chrono::milliseconds timeout);

// Runs `command` (the extension, or a wrapper and the extension) with the case's
// arguments after it and its input, and compares everything. The extension's process
// group is ended with it, whatever happens.
// `timeout` bounds the whole run; the extension is killed when it is exceeded.
Verdict play(const Conversation& conversation, const std::vector<std::string>& command,
             std::chrono::milliseconds timeout);

// Where the first difference between `expected` and `actual` lies, in words: the line,
// the byte offset, and both texts around it with unprintable bytes escaped.
std::string first_difference(const std::string& expected, const std::string& actual);

// `text` with bytes outside printable ASCII escaped (\n, \xHH), at most `limit` bytes of it.
std::string printable(const std::string& text, std::size_t limit);

#endif  // HOST_CONVERSATION_H_
