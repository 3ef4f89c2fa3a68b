// Holding a conversation: every line checked against the protocol and shown.
#include "conversation/session.h"

#include <cstdio>

namespace {

constexpr std::size_t MAX_EXTENSION_LINE = 64U << 20U;  // far above any honest reply
constexpr std::size_t SHOWN_LINE = 160;
constexpr std::chrono::milliseconds STARTUP_TIMEOUT{5000};
constexpr std::chrono::milliseconds ENDING_TIMEOUT{5000};

bool is_string(const json_t* value) { return json_is_string(value); }
bool is_integer(const json_t* value) { return json_is_integer(value); }
bool is_boolean(const json_t* value) { return json_is_boolean(value); }

struct Member {
  const char* key;
  bool (*test)(const json_t*);
  const char* type_name;
};

constexpr Member DESCRIPTOR_MEMBERS[] = {
    {"name", is_string, "a string"},
    {"minimum_arity", is_integer, "an integer"},
    {"maximum_arity", is_integer, "an integer"},
    {"input", is_string, "a string"},
    {"output", is_string, "a string"},
    {"effect", is_string, "a string"},
    {"lazy", is_boolean, "a boolean"},
    {"cancel", is_boolean, "a boolean"},
    {"sendable", is_boolean, "a boolean"},
    {"action", is_boolean, "a boolean"},
    {"threading", is_string, "a string"},
};

const char* text_of(const json_t* object, const char* key) {
  const char* text = json_string_value(json_object_get(object, key));
  return text != nullptr ? text : "?";
}

}  // namespace

std::string shown(const std::string& line, bool raw) {
  std::string text = line;
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  if (!raw && text.size() > SHOWN_LINE) {
    text = text.substr(0, SHOWN_LINE - 20) + " ... (" + std::to_string(text.size()) + " bytes)";
  }
  return text;
}

std::optional<Session> Session::start(const std::vector<std::string>& command,
                                      const SessionSettings& settings, ChildOptions options,
                                      std::string* error) {
  options.whole_error = options.whole_error || settings.raw;
  std::optional<ChildProcess> child = ChildProcess::start(command, error, options);
  if (!child) {
    return std::nullopt;
  }
  return Session(std::move(*child), settings);
}

bool Session::send(const std::string& line) {
  std::printf("-> %s\n", shown(line, settings_.raw).c_str());
  std::fflush(stdout);
  if (!child_.send(line, Clock::now() + settings_.timeout)) {
    return fault("the extension does not take its input (it has closed it, or is stuck)");
  }
  return true;
}

Json Session::receive(const char* expected_type, std::chrono::milliseconds timeout,
                      const std::string& awaiting) {
  std::string line;
  switch (child_.read_line(&line, MAX_EXTENSION_LINE, Clock::now() + timeout)) {
    case LineRead::kLine:
      break;
    case LineRead::kTimedOut:
      hung_ = true;
      fault("no answer within " + std::to_string(timeout.count()) + " ms while awaiting " +
            awaiting);
      return nullptr;
    case LineRead::kTooLong:
      hung_ = true;  // a runaway writer: stop it rather than wait for it
      fault("the extension wrote a line of more than " + std::to_string(MAX_EXTENSION_LINE) +
            " bytes");
      return nullptr;
    case LineRead::kEndOfOutput:
      if (!line.empty()) {
        std::printf("<- %s\n", shown(line, settings_.raw).c_str());
        fault("the extension's last line has no line feed");
      } else {
        fault("the extension closed its output while awaiting " + awaiting);
      }
      return nullptr;
  }
  std::printf("<- %s\n", shown(line, settings_.raw).c_str());
  Json message(json_loadb(line.data(), line.size(), JSON_REJECT_DUPLICATES, nullptr));
  if (!json_is_object(message.get())) {
    fault("protocol error: that line is not a JSON object");
    return nullptr;
  }
  const char* type = json_string_value(json_object_get(message.get(), "type"));
  if (type == nullptr || (expected_type != nullptr && std::string(type) != expected_type)) {
    fault(std::string("protocol error: expected a \"") + (expected_type ? expected_type : "?") +
          "\" message, got type " + (type ? std::string("\"") + type + "\"" : "none"));
    return nullptr;
  }
  return message;
}

bool Session::fault(const std::string& problem) {
  std::printf("!! %s\n", problem.c_str());
  std::fflush(stdout);
  faulted_ = true;
  return false;
}

bool Session::check_identity(const json_t* result) {
  for (const char* key : {"extension_id", "extension_version", "protocol_version", "request_id"}) {
    if (!json_is_string(json_object_get(result, key))) {
      return fault(std::string(R"(protocol error: "handshake_result" lacks the string ")") + key +
                   "\"");
    }
  }
  std::printf("   extension %s %s, protocol %s\n", text_of(result, "extension_id"),
              text_of(result, "extension_version"), text_of(result, "protocol_version"));
  return true;
}

bool Session::check_catalogue(const json_t* registration) {
  const json_t* callables = json_object_get(registration, "callables");
  if (!json_is_array(callables)) {
    return fault(R"(protocol error: "register" has no "callables" array)");
  }
  std::printf("   %-14s %-7s %-7s %-7s %-7s %-5s %-6s %-8s %-6s %s\n", "callable", "arity", "input",
              "output", "effect", "lazy", "cancel", "sendable", "action", "threading");
  for (std::size_t i = 0; i < json_array_size(callables); ++i) {
    const json_t* descriptor = json_array_get(callables, i);
    for (const Member& member : DESCRIPTOR_MEMBERS) {
      if (!member.test(json_object_get(descriptor, member.key))) {
        return fault("protocol error: in callable " + std::to_string(i + 1) + ", \"" + member.key +
                     "\" is missing or not " + member.type_name);
      }
    }
    const auto flag = [&](const char* key) {
      return json_is_true(json_object_get(descriptor, key)) ? "yes" : "no";
    };
    const std::string arity =
        std::to_string(json_integer_value(json_object_get(descriptor, "minimum_arity"))) + ".." +
        std::to_string(json_integer_value(json_object_get(descriptor, "maximum_arity")));
    std::printf("   %-14s %-7s %-7s %-7s %-7s %-5s %-6s %-8s %-6s %s\n",
                text_of(descriptor, "name"), arity.c_str(), text_of(descriptor, "input"),
                text_of(descriptor, "output"), text_of(descriptor, "effect"), flag("lazy"),
                flag("cancel"), flag("sendable"), flag("action"), text_of(descriptor, "threading"));
    callables_.emplace_back(text_of(descriptor, "name"));
  }
  return true;
}

bool Session::open() {
  if (!send("{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n")) {
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
  const std::string request_id = "call-" + std::to_string(++calls_made_);
  const Json message(json_pack("{s:s,s:s,s:s,s:O}", "type", "call", "request_id",
                               request_id.c_str(), "callable", call.callable.c_str(), "arguments",
                               call.arguments.get()));
  const Clock::time_point started = Clock::now();
  if (!send(encode_line(message.get()))) {
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
    return fault("protocol error: a call was answered by \"" + type + "\"");
  }
  if (std::string(text_of(reply.get(), "request_id")) != request_id) {
    return fault(R"(protocol error: the reply's "request_id" is not ")" + request_id + "\"");
  }
  std::printf("   %s %s in %.3f ms\n", call.callable.c_str(),
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
    std::printf("-- closing the extension's input\n");
  }
  child_.close_input();
  SessionEnding ending;
  if (hung_) {
    ending.termination = child_.kill_now();
  } else {
    const Clock::time_point deadline = Clock::now() + ENDING_TIMEOUT;
    if (!child_.read_to_end(deadline)) {
      fault("the extension did not end within " + std::to_string(ENDING_TIMEOUT.count()) +
            " ms of its input closing; killed");
    }
    ending.termination = child_.wait(deadline);
    const std::string extra = child_.take_output();
    if (going && !extra.empty()) {
      fault("the extension wrote after the conversation ended: " + shown(extra, settings_.raw));
    }
  }
  if (ending.termination.output_held_open) {
    faulted_ = true;
  }
  std::printf("== extension ended: %s\n", describe(ending.termination).c_str());
  const BoundedText& errors = child_.error_output();
  if (!errors.empty()) {
    const std::string text = errors.for_people();
    std::printf("== and wrote %zu bytes to standard error:\n%s", errors.total(), text.c_str());
    if (text.back() != '\n') {
      std::printf("\n");
    }
  }
  std::fflush(stdout);
  ending.faulted = faulted_;
  ending.wrote_error = !errors.empty();
  ending.clean =
      !faulted_ && !ending.termination.signaled && ending.termination.code == 0 && errors.empty();
  ending.waited_ms = waited_ms_;
  ending.called_wait = called_wait_;
  return ending;
}
