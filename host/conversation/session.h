// One conversation with an extension, held and shown line by line: the handshake, the
// check of its identity and catalogue, the calls, and the ending.
//
// Every line is printed as it passes ('->' sent, '<-' received), long lines shortened
// unless raw; a fault ('!!') is anything the protocol does not allow, and ends the
// conversation early.
#ifndef HOST_CONVERSATION_SESSION_H_
#define HOST_CONVERSATION_SESSION_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "conversation/calls.h"
#include "process/child_process.h"

struct SessionSettings {
  bool raw = false;                         // show long lines and standard error whole
  std::chrono::milliseconds timeout{8000};  // for each call's answer
};

// How a conversation ended, for the report and for a recording.
struct SessionEnding {
  Termination termination;
  bool faulted = false;      // something went against the protocol
  bool clean = false;        // no fault, exit status 0, nothing on standard error
  bool wrote_error = false;  // something on standard error
  long long waited_ms = 0;   // the milliseconds that answered calls of "sample.wait" asked
  bool called_wait = false;  // whether any call of "sample.wait" was answered
};

class Session {
 public:
  // Starts the extension. On failure returns none and says why in `*error`.
  static std::optional<Session> start(const std::vector<std::string>& command,
                                      const SessionSettings& settings, ChildOptions options,
                                      std::string* error);

  // Sends the handshake; reads and checks "handshake_result" and "register", and shows
  // the identity and the catalogue. Returns false after a fault.
  bool open();

  // Makes one call and reads its answer. Returns false after a fault.
  bool perform(const Call& call);

  // Sends "shutdown" (or, with `close_instead`, only closes the input) unless a fault
  // came first, waits for the extension to end, and reports how it ended and what it
  // wrote to standard error.
  SessionEnding finish(bool close_instead);

  // The callables the extension announced, in its order.
  [[nodiscard]] const std::vector<std::string>& callables() const { return callables_; }
  [[nodiscard]] const ChildProcess& child() const { return child_; }

 private:
  Session(ChildProcess child, const SessionSettings& settings)
      : child_(std::move(child)), settings_(settings) {}

  bool send(const std::string& line);
  // Receives one line and parses it as a JSON object of `expected_type` (any, if null).
  // Returns none, after reporting why, for anything else.
  Json receive(const char* expected_type, std::chrono::milliseconds timeout,
               const std::string& awaiting);
  bool fault(const std::string& problem);
  bool check_identity(const json_t* result);
  bool check_catalogue(const json_t* registration);

  ChildProcess child_;
  SessionSettings settings_;
  std::vector<std::string> callables_;
  int calls_made_ = 0;
  long long waited_ms_ = 0;
  bool called_wait_ = false;
  bool faulted_ = false;
  bool hung_ = false;
};

// `line` without its line feed, shortened for people unless `raw`.
std::string shown(const std::string& line, bool raw);

#endif  // HOST_CONVERSATION_SESSION_H_
