// Holding a conversation: every line checked against the protocol and shown.
#include "conversation/session.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "conversation/call_check.h"
#include "conversation/descriptor.h"
#include "text/visible.h"
#include "text/words.h"

namespace {

constexpr std::size_t SHOWN_LINE = 160;
constexpr std::chrono::milliseconds STARTUP_TIMEOUT{5000};
constexpr std::chrono::milliseconds ENDING_TIMEOUT{5000};
// How long a line written too early has to arrive whole, to be shown.
constexpr std::chrono::milliseconds EARLY_LINE_TIMEOUT{100};

// A string member as it was sent, or "?"; never made visible here.
std::string text_of(const json_t* object, const char* key) {
  const json_t* member = json_object_get(object, key);
  return json_is_string(member) ? std::string(json_string_value(member), json_string_length(member))
                                : std::string("?");
}

// A decoded text made visible and, unless `raw`, shortened: an identity or a callable's
// name may be megabytes long, as a whole line may.
std::string shown_text(std::string_view text, bool raw) {
  if (raw) {
    return visible(text);
  }
  // Only the start of a long text is made visible.
  bool cut = false;
  std::string start = visible_prefix(text, SHOWN_LINE + 1, &cut);
  if (!cut && start.size() <= SHOWN_LINE) {
    return start;
  }
  start = visible_prefix(text, SHOWN_LINE - 20);
  start.resize(start.size() - 3);  // its "..."
  return start + " ... (" + std::to_string(text.size()) + " bytes)";
}

// A string member, made visible for the terminal.
std::string shown_member(const json_t* object, const char* key, bool raw) {
  return shown_text(text_of(object, key), raw);
}

void say(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// How often a wait looks whether a person has interrupted it.
constexpr std::chrono::milliseconds INTERRUPT_CHECK{100};

constexpr char CATALOGUE_HEADER[] =
    "   callable       arity   input   output  effect  lazy  cancel sendable action threading";

}  // namespace

std::string legend() {
  return "   The lines below, by their marks:\n"
         "     ->  a line the host sent to the extension\n"
         "     <-  a line the extension wrote (JSON's escapes kept; '=' shows the value read)\n"
         "     !!  a fault: something the protocol does not allow; it ends the conversation\n"
         "     ??  a call that was not sent (it does not fit the catalogue), and why\n"
         "      |  a line the extension wrote to standard error\n"
         "     ==  how the extension ended\n"
         "     --  what the host did besides: the command line it ran, the sandbox it ran it\n"
         "         in (what the extension may reach), closing the input\n"
         "   The catalogue, by its columns:\n"
         "     arity      the fewest..most arguments a call takes\n"
         "     input      the arguments' type, output the result's: Value (any JSON value),\n"
         "                Int (an integer), Number (any number), String, Bool (true or\n"
         "                false), Array, Object, () (none), Never (no result: it always\n"
         "                fails); a word the host does not know is taken as Value\n"
         "     effect     none, or custom (it acts on the world)\n"
         "     lazy, cancel, sendable, action  the flags it declares: called lazily, can be\n"
         "                cancelled, may be sent elsewhere, is an action\n"
         "     threading  how it runs its calls (isolated_process: in its own process)\n"
         "   Control characters, bytes that are not UTF-8 and direction overrides it sends are\n"
         "   shown as escapes (\\x1b, \\u{202E}), so that nothing it writes commands the "
         "terminal.\n";
}

std::string shown(std::string_view line, bool raw) {
  std::string_view text = line;
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  return shown_text(text, raw);
}

namespace {

// What an exit status says in the protocol, for a status that is not a clean end: 2, a
// violation (with the last line sent, which it answered so); 3, a command line refused.
std::string status_meaning(const Termination& termination, const std::string& last_sent, bool raw) {
  if (termination.signaled || termination.left_behind > 0) {
    return "";
  }
  if (termination.code == 2) {
    return "   exit status 2: the extension took something as a protocol violation" +
           (last_sent.empty() ? std::string(", before anything was sent")
                              : "; the last line sent was: " + shown(last_sent, raw));
  }
  if (termination.code == 3) {
    return "   exit status 3: the extension refused its command line";
  }
  return "";
}

}  // namespace

std::optional<Session> Session::start(const std::vector<std::string>& command,
                                      const SessionSettings& settings, ChildOptions options,
                                      std::string* error) {
  options.whole_error = options.whole_error || settings.raw;
  options.kept_output = MAX_EXTENSION_LINE;
  std::optional<ChildProcess> child = ChildProcess::start(command, error, options);
  if (!child) {
    return std::nullopt;
  }
  return Session(std::move(*child), settings);
}

bool Session::send(const std::string& line) {
  say("-> " + shown(line, settings_.raw));
  last_sent_ = line;
  if (!child_.send(line, Clock::now() + settings_.timeout)) {
    return fault("the extension does not take its input (it has closed it, or is stuck)");
  }
  return true;
}

bool Session::ask(const std::string& line, const std::string& what) {
  const bool waiting = child_.unread_output() > 0;
  const std::size_t received = child_.output_total();
  if (!send(line)) {
    return false;
  }
  if (waiting || child_.output_total() > received) {
    std::string early;
    read_line(&early, Clock::now() + EARLY_LINE_TIMEOUT, "the line written too early");
    show_received(early);
    return fault("protocol error: answered before " + what + " was sent");
  }
  return true;
}

void Session::show_received(const std::string& line) const {
  say("<- " + shown(line, settings_.raw));
}

Json Session::receive(const char* expected_type, std::chrono::milliseconds timeout,
                      const std::string& awaiting) {
  std::string line;
  switch (read_line(&line, Clock::now() + timeout, awaiting)) {
    case LineRead::kLine:
      break;
    case LineRead::kTimedOut:
      hung_ = true;
      fault(abandoned_ ? "ended by Ctrl-C while awaiting " + awaiting
                       : "no answer within " + std::to_string(timeout.count()) +
                             " ms while awaiting " + awaiting);
      return nullptr;
    case LineRead::kTooLong:
      hung_ = true;  // a runaway writer: stop it rather than wait for it
      fault("the extension wrote a line of more than " + std::to_string(MAX_EXTENSION_LINE) +
            " bytes");
      return nullptr;
    case LineRead::kEndOfOutput:
      if (!line.empty()) {
        show_received(line);
        fault("the extension's last line has no line feed");
      } else {
        fault("the extension closed its output while awaiting " + awaiting);
      }
      return nullptr;
  }
  show_received(line);
  line_had_escapes_ = line.find("\\u") != std::string::npos;
  json_error_t error;
  Json message = parse_line(line, &error);
  if (!message) {
    fault("protocol error: that line is not JSON: " + visible(error.text) + ", at column " +
          std::to_string(error.column));
    return nullptr;
  }
  if (!json_is_object(message.get())) {
    fault("protocol error: that line is JSON but not an object");
    return nullptr;
  }
  const json_t* type = json_object_get(message.get(), "type");
  if (!json_is_string(type) ||
      (expected_type != nullptr && text_of(message.get(), "type") != expected_type)) {
    fault(std::string("protocol error: expected a \"") + (expected_type ? expected_type : "?") +
          "\" message, got type " +
          (json_is_string(type) ? "\"" + shown_member(message.get(), "type", settings_.raw) + "\""
                                : "none"));
    return nullptr;
  }
  return message;
}

bool Session::fault(const std::string& problem) {
  say("!! " + problem);
  faulted_ = true;
  return false;
}

bool Session::send_as_is(const std::string& line) {
  if (!ask(line + "\n", "the line")) {
    return false;
  }
  std::string reply;
  switch (read_line(&reply, Clock::now() + settings_.timeout, "an answer to that line")) {
    case LineRead::kLine:
      show_received(reply);
      return true;
    case LineRead::kTimedOut:
      if (abandoned_) {
        hung_ = true;
        return fault("ended by Ctrl-C while awaiting an answer to that line");
      }
      say("   no answer within " + std::to_string(settings_.timeout.count()) + " ms");
      return true;
    case LineRead::kTooLong:
      hung_ = true;
      return fault("the extension wrote a line of more than " + std::to_string(MAX_EXTENSION_LINE) +
                   " bytes");
    case LineRead::kEndOfOutput:
      if (!reply.empty()) {
        show_received(reply);
      }
      return fault("the extension closed its output");
  }
  return true;
}

bool Session::check_identity(const json_t* result) {
  for (const char* key : {"extension_id", "extension_version", "protocol_version", "request_id"}) {
    if (!json_is_string(json_object_get(result, key))) {
      return fault(std::string(R"(protocol error: "handshake_result" lacks the string ")") + key +
                   "\"");
    }
  }
  const bool raw = settings_.raw;
  say("   extension " + shown_member(result, "extension_id", raw) + " " +
      shown_member(result, "extension_version", raw) + ", protocol " +
      shown_member(result, "protocol_version", raw));
  return true;
}

bool Session::check_catalogue(const json_t* registration) {
  const json_t* callables = json_object_get(registration, "callables");
  if (!json_is_array(callables)) {
    return fault(R"(protocol error: "register" has no "callables" array)");
  }
  catalogue_lines_.emplace_back(CATALOGUE_HEADER);
  for (std::size_t i = 0; i < json_array_size(callables); ++i) {
    const json_t* descriptor = json_array_get(callables, i);
    for (const DescriptorMember& member : DESCRIPTOR_MEMBERS) {
      if (!member.holds(json_object_get(descriptor, member.key))) {
        return fault("protocol error: in callable " + std::to_string(i + 1) + ", \"" + member.key +
                     "\" is missing or not " + member.type_name);
      }
    }
    const auto flag = [&](const char* key) {
      return json_is_true(json_object_get(descriptor, key)) ? "yes" : "no";
    };
    AnnouncedCallable callable{text_of(descriptor, "name"),
                               json_integer_value(json_object_get(descriptor, "minimum_arity")),
                               json_integer_value(json_object_get(descriptor, "maximum_arity")),
                               text_of(descriptor, "input")};
    const std::string arity =
        std::to_string(callable.minimum_arity) + ".." + std::to_string(callable.maximum_arity);
    const bool raw = settings_.raw;
    const auto column = [](std::string text, std::size_t width) {
      text.resize(std::max(text.size(), width), ' ');
      return text + " ";
    };
    catalogue_lines_.push_back(
        "   " + column(shown_text(callable.name, raw), 14) + column(arity, 7) +
        column(shown_member(descriptor, "input", raw), 7) +
        column(shown_member(descriptor, "output", raw), 7) +
        column(shown_member(descriptor, "effect", raw), 7) + column(flag("lazy"), 5) +
        column(flag("cancel"), 6) + column(flag("sendable"), 8) + column(flag("action"), 6) +
        shown_member(descriptor, "threading", raw));
    catalogue_.push_back(std::move(callable));
  }
  show_catalogue();
  return true;
}

void Session::show_catalogue() const {
  for (const std::string& line : catalogue_lines_) {
    say(line);
  }
}

LineRead Session::read_line(std::string* line, Clock::time_point deadline,
                            const std::string& awaiting) {
  const LineRead read = read_line_heeding_interrupts(line, deadline, awaiting);
  taken_bytes_ += line->size();  // empty but for a line taken, or the last piece
  return read;
}

LineRead Session::read_line_heeding_interrupts(std::string* line, Clock::time_point deadline,
                                               const std::string& awaiting) {
  if (settings_.interrupts == nullptr) {
    return child_.read_line(line, MAX_EXTENSION_LINE, deadline);
  }
  const int before = settings_.interrupts->load();
  bool told = false;
  for (;;) {
    const Clock::time_point slice = std::min(deadline, Clock::now() + INTERRUPT_CHECK);
    const LineRead read = child_.read_line(line, MAX_EXTENSION_LINE, slice);
    if (read != LineRead::kTimedOut || Clock::now() >= deadline) {
      return read;
    }
    const int interrupts = settings_.interrupts->load() - before;
    if (interrupts >= 2) {
      abandoned_ = true;
      return LineRead::kTimedOut;
    }
    if (interrupts == 1 && !told) {
      told = true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      // After the "^C" the terminal shows, on a line of its own.
      say("\n?? still awaiting " + awaiting + " (at most " + std::to_string(left.count()) +
          " ms more); Ctrl-C again ends the extension");
    }
  }
}

bool Session::open() {
  if (!ask("{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n", "the handshake")) {
    return false;
  }
  const Json result = receive("handshake_result", STARTUP_TIMEOUT, "\"handshake_result\"");
  if (!result || !check_identity(result.get())) {
    return false;
  }
  const Json registration = receive("register", STARTUP_TIMEOUT, "\"register\"");
  return registration && check_catalogue(registration.get());
}

bool Session::perform(const Call& call) {
  if (!settings_.send_anyway) {
    if (const std::string unfit = unfit_call(call, catalogue_); !unfit.empty()) {
      say("?? not sent: " + unfit + " (" + settings_.send_anyway_hint + ")");
      refused_call_ = true;
      return true;
    }
  }
  const std::string request_id = "call-" + std::to_string(++calls_made_);
  const Json message(json_pack("{s:s,s:s,s:s%,s:O}", "type", "call", "request_id",
                               request_id.c_str(), "callable", call.callable.data(),
                               call.callable.size(), "arguments", call.arguments.get()));
  if (!message) {
    return fault("the callable's name is not UTF-8: " + visible(call.callable));
  }
  const Clock::time_point started = Clock::now();
  if (!ask(encode_line(message.get()), "the call")) {
    return false;
  }
  const Json reply = receive(nullptr, settings_.timeout, "the reply to " + request_id);
  if (!reply) {
    return false;
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
  const std::string type = text_of(reply.get(), "type");
  if (type != "call_result" && type != "error") {
    return fault("protocol error: a call was answered by \"" + shown_text(type, settings_.raw) +
                 "\"");
  }
  if (text_of(reply.get(), "request_id") != request_id) {
    return fault(R"(protocol error: the reply's "request_id" is not ")" + request_id + "\"");
  }
  // JSON's escapes are the wire's; the value as read is shown beside them.
  const json_t* value = json_object_get(reply.get(), "value");
  if (type == "call_result" && value != nullptr && line_had_escapes_) {
    char* text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY | JSON_SORT_KEYS);
    if (text != nullptr) {
      say("   = " + shown(text, settings_.raw));
      free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
    }
  }
  std::printf("   %s %s in %.3f ms\n", shown_text(call.callable, settings_.raw).c_str(),
              type == "error" ? "failed" : "answered",
              static_cast<double>(elapsed.count()) / 1000.0);
  std::fflush(stdout);
  // The time a recording of this conversation must allow for.
  const json_t* asked = json_array_get(call.arguments.get(), 0);
  if (call.callable == "sample.wait" && type == "call_result" && json_is_integer(asked)) {
    called_wait_ = true;
    waited_ms_ += json_integer_value(asked);
  }
  return true;
}

SessionEnding Session::finish(bool close_instead) {
  const bool going = !faulted_;
  if (going && !close_instead) {
    send("{\"type\":\"shutdown\"}\n");
  } else if (going) {
    say("-- closing the extension's input");
  }
  child_.close_input();
  SessionEnding ending;
  if (hung_) {
    ending.termination = child_.kill_now();
  } else {
    const Clock::time_point deadline = Clock::now() + ENDING_TIMEOUT;
    // Whatever comes after the end is a fault however much it is: a flood is not read on.
    const std::size_t stop_after = taken_bytes_ + MAX_EXTENSION_LINE;
    const bool ended = child_.read_to_end(deadline, stop_after);
    const std::size_t extra = child_.output_total() - taken_bytes_;
    const std::string held = child_.take_output();
    if (going && extra > 0) {
      fault("the extension wrote " +
            (ended ? counted(extra, "byte", "bytes")
                   : "more than " + counted(extra, "byte", "bytes")) +
            " after the conversation ended: " + shown(held, settings_.raw));
    }
    if (!ended && child_.output_total() > stop_after) {
      ending.termination = child_.kill_now();
    } else {
      if (!ended) {
        fault("the extension did not end within " + std::to_string(ENDING_TIMEOUT.count()) +
              " ms of its input closing; killed");
      }
      ending.termination = child_.wait(deadline);
    }
  }
  if (ending.termination.left_behind > 0) {
    faulted_ = true;
  }
  const BoundedText& errors = child_.error_output();
  if (!errors.empty()) {
    say("== standard error, " + counted(errors.total(), "byte", "bytes") + ":");
    std::string text =
        visible_lines(errors.for_people(settings_.raw ? "" : "--raw shows more of them"));
    if (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    say("   | " + continued(text, "   | "));
  }
  if (const std::string meaning = status_meaning(ending.termination, last_sent_, settings_.raw);
      !meaning.empty()) {
    say(meaning);
  }
  say("== extension ended: " + describe(ending.termination));
  ending.faulted = faulted_;
  ending.wrote_error = !errors.empty();
  ending.refused_call = refused_call_;
  ending.clean = !faulted_ && !refused_call_ && !ending.termination.signaled &&
                 ending.termination.code == 0 && errors.empty();
  ending.waited_ms = waited_ms_;
  ending.called_wait = called_wait_;
  return ending;
}
