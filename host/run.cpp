// Holds one conversation with an extension, checks each line it writes, and shows it all.
#include "run.h"

#include <jansson.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "child_process.h"
#include "options.h"

namespace {

constexpr char RUN_HELP[] =
    "usage: extension-host run [OPTIONS] -- EXTENSION [ARGS...]\n"
    "\n"
    "Starts EXTENSION, sends the handshake, checks its \"handshake_result\" and \"register\"\n"
    "lines, shows its identity and callables, makes the calls given, then sends \"shutdown\"\n"
    "and reports how the extension ended. Every line is shown as it passes: '->' to the\n"
    "extension, '<-' from it.\n"
    "\n"
    "  --call NAME JSON_ARRAY   call NAME with these arguments (repeatable, in order)\n"
    "  --script FILE            calls from FILE, one 'NAME JSON_ARRAY' per line ('#' comments)\n"
    "  --demo                   a built-in script: echo, fail, a 300 ms wait\n"
    "  --close                  end by closing the extension's input instead of \"shutdown\"\n"
    "  --timeout-ms N           give up on a call after N ms and kill the extension\n"
    "                           (default 8000: above the 5 s wait limit)\n"
    "  --raw                    show long lines whole instead of shortened\n"
    "\n"
    "exit status: 0 when the conversation kept to the protocol and the extension exited 0;\n"
    "1 when it did not; 2 for a usage error.\n"
    "\n"
    "example:\n"
    "  extension-host run --call sample.echo '[{\"b\":1,\"a\":\"\\u00e9\"}]' \\\n"
    "      --call sample.wait '[250]' -- sample-extension --protocol 1\n";

constexpr char DEMO_SCRIPT[] =
    "sample.echo [{\"greeting\":\"h\\u00e9llo, "
    "\\u4e16\\u754c\",\"nested\":{\"b\":[1,2.5,null],\"a\":true}}]\n"
    "sample.fail []\n"
    "sample.wait [300]\n";

constexpr std::size_t MAX_EXTENSION_LINE = 64U << 20U;  // far above any honest reply
constexpr std::size_t SHOWN_LINE = 160;
constexpr std::chrono::milliseconds STARTUP_TIMEOUT{5000};
constexpr std::chrono::milliseconds ENDING_TIMEOUT{5000};

struct JsonDeleter {
  void operator()(json_t* value) const { json_decref(value); }
};
using Json = std::unique_ptr<json_t, JsonDeleter>;

struct Call {
  std::string callable;
  Json arguments;
};

struct Settings {
  std::vector<Call> calls;
  bool close_instead = false;
  bool raw = false;
  std::chrono::milliseconds timeout{8000};
  std::vector<std::string> extension;
};

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

// Parses "NAME JSON_ARRAY" calls; returns false and a reason on a bad one.
bool parse_call(const std::string& callable, const std::string& arguments, Call* call,
                std::string* problem) {
  Json parsed(json_loads(arguments.c_str(), 0, nullptr));
  if (!json_is_array(parsed.get())) {
    *problem = "the arguments of " + callable + " are not a JSON array: " + arguments;
    return false;
  }
  *call = Call{callable, std::move(parsed)};
  return true;
}

bool parse_script(std::istream& script, const std::string& origin, std::vector<Call>* calls,
                  std::string* problem) {
  int number = 0;
  for (std::string line; std::getline(script, line);) {
    ++number;
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') {
      continue;
    }
    const std::size_t space = line.find_first_of(" \t", start);
    const std::string callable = line.substr(start, space - start);
    const std::string arguments = space == std::string::npos ? "[]" : line.substr(space + 1);
    Call call;
    if (!parse_call(callable, arguments, &call, problem)) {
      *problem = origin + ":" + std::to_string(number) + ": " + *problem;
      return false;
    }
    calls->push_back(std::move(call));
  }
  return true;
}

// Reads the options; returns the usage exit status on a bad command line, none if fine.
std::optional<int> read_settings(const std::vector<std::string>& arguments, Settings* settings) {
  const CommandLine line = split_command_line(arguments);
  const std::vector<std::string>& options = line.options;
  std::string problem;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    const bool has_value = i + 1 < options.size();
    if (option == "--help" || option == "-h") {
      std::fputs(RUN_HELP, stdout);
      return 0;
    }
    if (option == "--call" && i + 2 < options.size()) {
      Call call;
      if (!parse_call(options[i + 1], options[i + 2], &call, &problem)) {
        return usage_error(RUN_HELP, problem);
      }
      settings->calls.push_back(std::move(call));
      i += 2;
    } else if (option == "--script" && has_value) {
      std::ifstream script(options[++i]);
      if (!script) {
        return usage_error(RUN_HELP, "cannot read the script " + options[i]);
      }
      if (!parse_script(script, options[i], &settings->calls, &problem)) {
        return usage_error(RUN_HELP, problem);
      }
    } else if (option == "--demo") {
      std::istringstream script(DEMO_SCRIPT);
      parse_script(script, "demo", &settings->calls, &problem);
    } else if (option == "--close") {
      settings->close_instead = true;
    } else if (option == "--raw") {
      settings->raw = true;
    } else if (option == "--timeout-ms" && has_value) {
      const std::optional<long> milliseconds = parse_positive(options[++i]);
      if (!milliseconds) {
        return usage_error(RUN_HELP, "--timeout-ms takes a positive number of milliseconds");
      }
      settings->timeout = std::chrono::milliseconds(*milliseconds);
    } else {
      return usage_error(RUN_HELP, "unexpected argument '" + option + "'");
    }
  }
  if (line.command.empty()) {
    return usage_error(RUN_HELP, "name the extension to run after '--'");
  }
  settings->extension = line.command;
  return std::nullopt;
}

// One conversation in progress: the child, how lines are shown, and what went wrong.
class Session {
 public:
  Session(ChildProcess child, const Settings& settings)
      : child_(std::move(child)), settings_(settings) {}

  bool send(const std::string& line) {
    std::printf("-> %s\n", shown(line, settings_.raw).c_str());
    std::fflush(stdout);
    if (!child_.send(line, Clock::now() + settings_.timeout)) {
      return fault("the extension does not take its input (it has closed it, or is stuck)");
    }
    return true;
  }

  // Receives one line and parses it as a JSON object of the given type. Returns none,
  // after reporting why, for anything else.
  Json receive(const char* expected_type, std::chrono::milliseconds timeout, const char* awaiting) {
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
          fault(std::string("the extension closed its output while awaiting ") + awaiting);
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

  bool fault(const std::string& problem) {
    std::printf("!! %s\n", problem.c_str());
    std::fflush(stdout);
    faulted_ = true;
    return false;
  }

  ChildProcess& child() { return child_; }
  [[nodiscard]] bool faulted() const { return faulted_; }
  // Whether the extension failed to answer in time or ran away with its output: it is
  // killed rather than waited for.
  [[nodiscard]] bool hung() const { return hung_; }
  [[nodiscard]] const Settings& settings() const { return settings_; }

 private:
  ChildProcess child_;
  const Settings& settings_;
  bool faulted_ = false;
  bool hung_ = false;
};

bool has_type(const json_t* object, const char* key, bool (*test)(const json_t*)) {
  return test(json_object_get(object, key));
}

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

bool check_identity(Session* session, const json_t* result) {
  for (const char* key : {"extension_id", "extension_version", "protocol_version", "request_id"}) {
    if (!has_type(result, key, is_string)) {
      return session->fault(
          std::string(R"(protocol error: "handshake_result" lacks the string ")") + key + "\"");
    }
  }
  std::printf("   extension %s %s, protocol %s\n", text_of(result, "extension_id"),
              text_of(result, "extension_version"), text_of(result, "protocol_version"));
  return true;
}

bool check_catalogue(Session* session, const json_t* registration) {
  const json_t* callables = json_object_get(registration, "callables");
  if (!json_is_array(callables)) {
    return session->fault(R"(protocol error: "register" has no "callables" array)");
  }
  std::printf("   %-14s %-7s %-7s %-7s %-7s %-5s %-6s %-8s %-6s %s\n", "callable", "arity", "input",
              "output", "effect", "lazy", "cancel", "sendable", "action", "threading");
  for (std::size_t i = 0; i < json_array_size(callables); ++i) {
    const json_t* descriptor = json_array_get(callables, i);
    for (const Member& member : DESCRIPTOR_MEMBERS) {
      if (!has_type(descriptor, member.key, member.test)) {
        return session->fault("protocol error: in callable " + std::to_string(i + 1) + ", \"" +
                              member.key + "\" is missing or not " + member.type_name);
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
  }
  return true;
}

std::string encode(const json_t* message) {
  char* text = json_dumps(message, JSON_COMPACT);
  std::string line = text != nullptr ? text : "";
  free(text);  // NOLINT(cppcoreguidelines-no-malloc)
  return line + "\n";
}

bool perform(Session* session, const Call& call, int number) {
  const std::string request_id = "call-" + std::to_string(number);
  Json message(json_pack("{s:s,s:s,s:s,s:O}", "type", "call", "request_id", request_id.c_str(),
                         "callable", call.callable.c_str(), "arguments", call.arguments.get()));
  const Clock::time_point started = Clock::now();
  if (!session->send(encode(message.get()))) {
    return false;
  }
  Json reply = session->receive(nullptr, session->settings().timeout,
                                ("the reply to " + request_id).c_str());
  if (!reply) {
    return false;
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
  const std::string type = text_of(reply.get(), "type");
  if (type != "call_result" && type != "error") {
    return session->fault("protocol error: a call was answered by \"" + type + "\"");
  }
  if (std::string(text_of(reply.get(), "request_id")) != request_id) {
    return session->fault(R"(protocol error: the reply's "request_id" is not ")" + request_id +
                          "\"");
  }
  std::printf("   %s %s in %.3f ms\n", call.callable.c_str(),
              type == "error" ? "failed" : "answered",
              static_cast<double>(elapsed.count()) / 1000.0);
  return true;
}

}  // namespace

int run_command(const std::vector<std::string>& arguments) {
  Settings settings;
  if (const std::optional<int> status = read_settings(arguments, &settings)) {
    return *status;
  }
  std::string error;
  std::optional<ChildProcess> child = ChildProcess::start(settings.extension, &error);
  if (!child) {
    std::fprintf(stderr, "extension-host: %s\n", error.c_str());
    return 1;
  }
  Session session(std::move(*child), settings);
  bool going = session.send("{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n");
  if (going) {
    const Json result =
        session.receive("handshake_result", STARTUP_TIMEOUT, "\"handshake_result\"");
    going = result && check_identity(&session, result.get());
  }
  if (going) {
    const Json registration = session.receive("register", STARTUP_TIMEOUT, "\"register\"");
    going = registration && check_catalogue(&session, registration.get());
  }
  for (std::size_t i = 0; going && i < settings.calls.size(); ++i) {
    going = perform(&session, settings.calls[i], static_cast<int>(i + 1));
  }
  ChildProcess& extension = session.child();
  if (going && !settings.close_instead) {
    session.send("{\"type\":\"shutdown\"}\n");
  } else if (going) {
    std::printf("-- closing the extension's input\n");
  }
  extension.close_input();
  Termination ending;
  if (session.hung()) {
    ending = extension.kill_now();
  } else {
    const Clock::time_point deadline = Clock::now() + ENDING_TIMEOUT;
    if (!extension.read_to_end(deadline)) {
      session.fault("the extension did not end within " + std::to_string(ENDING_TIMEOUT.count()) +
                    " ms of its input closing; killed");
    }
    ending = extension.wait(deadline);
    const std::string extra = extension.take_output();
    if (going && !extra.empty()) {
      session.fault("the extension wrote after the conversation ended: " +
                    shown(extra, settings.raw));
    }
  }
  std::printf("== extension ended: %s\n", describe(ending).c_str());
  if (!extension.error_output().empty()) {
    std::printf("== and wrote to standard error:\n%s", extension.error_output().c_str());
    if (extension.error_output().back() != '\n') {
      std::printf("\n");
    }
  }
  const bool clean = !session.faulted() && !ending.signaled && ending.code == 0 &&
                     extension.error_output().empty();
  return clean ? 0 : 1;
}
