// One conversation with an extension, held and shown line by line: the handshake, the
// check of its identity and catalogue, the calls, and the ending.
//
// Every line is printed as it passes ('->' sent, '<-' received), long lines shortened
// unless raw; a fault ('!!') is anything the protocol does not allow, and ends the
// conversation early. Whatever the extension sent is shown through visible(), so that
// nothing it writes can command the terminal; its standard error is shown line by line
// ('   | '), before the verdict, which is always the last line ('== extension ended').
#ifndef HOST_CONVERSATION_SESSION_H_
#define HOST_CONVERSATION_SESSION_H_

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "conversation/calls.h"
#include "conversation/descriptor.h"
#include "process/child_process.h"

struct SessionSettings {
  bool raw = false;          // show long lines and standard error whole
  bool send_anyway = false;  // send calls that do not fit the catalogue, as written
  // How the person sends such a call anyway: an option on the command line, or the
  // session's own command when calls are typed.
  const char* send_anyway_hint = "--send-anyway sends it as written";
  std::chrono::milliseconds timeout{8000};  // for each call's answer
  // When set, counts a person's interrupts (Ctrl-C): while an answer is awaited, the
  // first says what is awaited, the second ends the extension. Not owned.
  const std::atomic<int>* interrupts = nullptr;
};

// How a conversation ended, for the report and for a recording.
struct SessionEnding {
  Termination termination;
  bool faulted = false;       // something went against the protocol
  bool clean = false;         // no fault, exit status 0, nothing on standard error
  bool wrote_error = false;   // something on standard error
  bool refused_call = false;  // a call given did not fit the catalogue, and was not sent
  long long waited_ms = 0;    // the milliseconds that answered calls of "sample.wait" asked
  bool called_wait = false;   // whether any call of "sample.wait" was answered
};

// The longest line the host takes from an extension, line feed included: far above the
// longest honest reply (a mebibyte of input, each byte escaped as six).
inline constexpr std::size_t MAX_EXTENSION_LINE = std::size_t{16} << 20U;

class Session {
 public:
  // Starts the extension. On failure returns none and says why in `*error`.
  static std::optional<Session> start(const std::vector<std::string>& command,
                                      const SessionSettings& settings, ChildOptions options,
                                      std::string* error);

  // Sends the handshake; reads and checks "handshake_result" and "register", and shows
  // the identity and the catalogue. Returns false after a fault.
  bool open();

  // Makes one call and reads its answer; a call that does not fit the catalogue (see
  // unfit_call) is not sent unless the settings say so, but said, and the session goes
  // on. Returns false after a fault.
  bool perform(const Call& call);

  // Sends "shutdown" (or, with `close_instead`, only closes the input) unless a fault
  // came first, waits for the extension to end, and reports what it wrote to standard
  // error and how it ended.
  SessionEnding finish(bool close_instead);

  // Sends `line` as it stands, with a line feed, and shows what comes back within the
  // timeout, if anything. Returns false after a fault, or when the extension has ended.
  bool send_as_is(const std::string& line);

  // Shows the catalogue again, as open() did.
  void show_catalogue() const;

  // The callables the extension announced, in its order.
  [[nodiscard]] const std::vector<AnnouncedCallable>& catalogue() const { return catalogue_; }
  [[nodiscard]] const ChildProcess& child() const { return child_; }

 private:
  Session(ChildProcess child, const SessionSettings& settings)
      : child_(std::move(child)), settings_(settings) {}

  bool send(const std::string& line);
  // Sends `line`; a fault when the extension wrote before it was all sent, as no answer
  // can come before its question.
  bool ask(const std::string& line, const std::string& what);
  // Receives one line and parses it as a JSON object of `expected_type` (any, if null).
  // Returns none, after reporting why, for anything else.
  Json receive(const char* expected_type, std::chrono::milliseconds timeout,
               const std::string& awaiting);
  void show_received(const std::string& line) const;
  bool fault(const std::string& problem);
  bool check_identity(const json_t* result);
  bool check_catalogue(const json_t* registration);
  // Reads a line as child_.read_line does, heeding a person's interrupts meanwhile, and
  // counts what it took. REQUIRES: `*line` is empty.
  LineRead read_line(std::string* line, Clock::time_point deadline, const std::string& awaiting);
  LineRead read_line_heeding_interrupts(std::string* line, Clock::time_point deadline,
                                        const std::string& awaiting);

  ChildProcess child_;
  SessionSettings settings_;
  std::vector<AnnouncedCallable> catalogue_;
  std::vector<std::string> catalogue_lines_;  // the table, as shown
  std::size_t taken_bytes_ = 0;               // output taken as lines
  int calls_made_ = 0;
  long long waited_ms_ = 0;
  bool called_wait_ = false;
  bool faulted_ = false;
  bool refused_call_ = false;  // a call given did not fit the catalogue, and was not sent
  bool hung_ = false;
  std::string last_sent_;          // the last line sent, to say what a violation answered
  bool abandoned_ = false;         // a person ended it with a second interrupt
  bool line_had_escapes_ = false;  // the last line received held a \u escape
};

// What the markers and the catalogue's columns mean, for people: the demo shows it
// first, and the session's "help".
std::string legend();

// `line` without its line feed, made visible, and shortened for people unless `raw`.
std::string shown(std::string_view line, bool raw);

#endif  // HOST_CONVERSATION_SESSION_H_
