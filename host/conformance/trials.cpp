// Drawing the dialogues.
#include "conformance/trials.h"

#include <algorithm>
#include <map>

#include "base/json.h"

const char HANDSHAKE_LINE[] = "{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n";
const char SHUTDOWN_LINE[] = "{\"type\":\"shutdown\"}\n";

namespace {

// Arities past this are tried at their bounds' nearest only: a catalogue may say 1000.
constexpr long long WIDEST_ARITY_TRIED = 16;

const std::vector<std::string> PROTOCOL = {"--protocol", "1"};

// Longer than a pipe holds (64 KiB), so that an answer that echoes it cannot be written
// whole before the host reads.
constexpr std::size_t LONG_TEXT_BYTES = std::size_t{200} << 10U;

// Values of each input type conform knows, as JSON text. Integers stay small: a
// callable may take an Int as a time to sleep, or refuse one past a limit of its own.
const std::map<std::string, std::vector<std::string>>& known_values() {
  static const auto* const values = new std::map<std::string, std::vector<std::string>>{
      {"Value",
       {"null", "true", "0", "-1", "1.5", R"("text")", R"("h\u00e9llo \ud83d\ude00")",
        R"([1,"a",[]])", R"({"b":1,"a":[null,{}]})"}},
      {"Int", {"0", "1"}},
      {"Number", {"0", "2.5"}},
      {"String", {R"("")", R"("h\u00e9llo")"}},
      {"Bool", {"true", "false"}},
      {"Array", {"[]", "[1]"}},
      {"Object", {"{}", R"({"a":1})"}},
      {"()", {"null"}},
  };
  return *values;
}

Step step(std::string line, std::size_t answers) { return {std::move(line), answers, ""}; }

Step announcement_step() { return {HANDSHAKE_LINE, 2, "\"handshake_result\""}; }

// A call line: `arguments` is the array's JSON text.
std::string call_line(const std::string& request_id, const std::string& callable,
                      const std::string& arguments) {
  const Json values(json_loads(arguments.c_str(), 0, nullptr));
  const Json call(json_pack("{s:s,s:s%,s:s%,s:O}", "type", "call", "request_id", request_id.data(),
                            request_id.size(), "callable", callable.data(), callable.size(),
                            "arguments", values.get()));
  return call ? encode_line(call.get()) : std::string();
}

// The "request_id" of the n-th call of a dialogue: the second holds a quote, a backslash
// and a letter outside ASCII, the third is digits alone, the fourth empty and the fifth
// long; an answer must carry each back as it is, a string.
std::string request_id_of(std::size_t n) {
  switch (n) {
    case 1:
      return "c\"2\\\xc3\xa9";
    case 2:
      return "42";
    case 3:
      return "";
    case 4: {
      std::string long_id = "c5-";
      long_id.append(300, 'x');
      return long_id;
    }
    default:
      break;
  }
  // Appended, not prefixed: GCC 12 misreads a prefix on a temporary as an overlapping copy.
  std::string request_id = "c";
  request_id += std::to_string(n + 1);
  return request_id;
}

// `count` arguments, the k-th drawn from `values` from `first` on.
std::string arguments_of(const std::vector<std::string>& values, std::size_t first,
                         long long count) {
  std::string arguments = "[";
  for (long long k = 0; k < count; ++k) {
    arguments += (k > 0 ? "," : "") + values[(first + static_cast<std::size_t>(k)) % values.size()];
  }
  return arguments + "]";
}

Trial calls_trial(const AnnouncedCallable& callable, bool type_known,
                  const std::vector<std::string>& values) {
  Trial trial{TrialKind::kCallsWithin, {}, {}, type_known, {}};
  trial.dialogue.title = "calls of " + callable.name + " within its arity";
  trial.dialogue.arguments = PROTOCOL;
  trial.dialogue.steps.push_back(announcement_step());
  trial.request_ids.emplace_back();
  std::vector<long long> arities = {callable.minimum_arity};
  if (callable.maximum_arity != callable.minimum_arity) {
    arities.push_back(
        std::min(callable.maximum_arity, callable.minimum_arity + WIDEST_ARITY_TRIED));
  }
  std::size_t calls = 0;
  for (const long long arity : arities) {
    // No arguments: one call says all there is to say.
    const std::size_t draws = arity == 0 ? 1 : values.size();
    for (std::size_t first = 0; first < draws; ++first) {
      const std::string request_id = request_id_of(calls++);
      trial.dialogue.steps.push_back(
          step(call_line(request_id, callable.name, arguments_of(values, first, arity)), 1));
      trial.request_ids.push_back(request_id);
    }
  }
  trial.dialogue.steps.push_back(step(SHUTDOWN_LINE, 0));
  trial.request_ids.emplace_back();
  trial.dialogue.closing = Closing::kAwaitTheEnd;
  return trial;
}

Trial call_outside_trial(const AnnouncedCallable& callable, long long arity,
                         const std::vector<std::string>& values) {
  Trial trial{TrialKind::kCallOutside, {}, {}, false, {}};
  trial.dialogue.title =
      "a call of " + callable.name + " with " + std::to_string(arity) + " arguments";
  trial.dialogue.arguments = PROTOCOL;
  trial.dialogue.steps = {announcement_step(),
                          step(call_line("c1", callable.name, arguments_of(values, 0, arity)), 1),
                          step(SHUTDOWN_LINE, 0)};
  trial.request_ids = {"", "c1", ""};
  trial.dialogue.closing = Closing::kAwaitTheEnd;
  return trial;
}

// A violation after the announcement: the host awaits an answer, and none may come.
Trial violation_trial(const std::string& title, const std::string& line) {
  Trial trial{TrialKind::kViolation, {}, {}, false, {}};
  trial.dialogue.title = title;
  trial.dialogue.arguments = PROTOCOL;
  trial.dialogue.steps = {announcement_step(), step(line, 1)};
  trial.request_ids = {"", ""};
  return trial;
}

// A call of `callable` that a lax parser takes, where the protocol's refuses the line.
Trial strict_input_trial(const std::string& title, const std::string& line, bool first_line) {
  Trial trial{TrialKind::kStrictInput, {}, {}, false, {}};
  trial.dialogue.title = title;
  trial.dialogue.arguments = PROTOCOL;
  if (first_line) {
    trial.dialogue.steps = {step(line, 0)};
    trial.request_ids = {""};
  } else {
    trial.dialogue.steps = {announcement_step(), step(line, 1)};
    trial.request_ids = {"", ""};
  }
  return trial;
}

// Lines that would be a well-formed call of `callable` with `arguments` (a JSON array's
// text) but for one thing that the protocol's parser refuses.
std::vector<Trial> strict_input_trials(const std::string& callable, const std::string& arguments) {
  const std::string call = call_line("c1", callable, arguments);
  const std::string head = call.substr(0, call.size() - 2);  // without "}\n"
  const std::string opening = R"({"type":"call","callable":")" + callable + "\",";
  std::string deep(2101, '[');
  deep.append(2101, ']');
  // Past the longest line by a string of spaces in the arguments.
  std::string long_argument = "[\"";
  long_argument.append(std::size_t{1} << 20U, ' ');
  long_argument += "\"]";
  std::vector<Trial> trials;
  trials.push_back(strict_input_trial("a call with \"request_id\" twice",
                                      head + ",\"request_id\":\"c2\"}\n", false));
  trials.push_back(strict_input_trial(
      "a call with a key twice in an object among its arguments",
      opening + R"("request_id":"c1","arguments":[{"a":1,"a":2}]})" + "\n", false));
  trials.push_back(
      strict_input_trial("a call with an escaped NUL in a string",
                         opening + R"("request_id":"c1","arguments":["a\u0000b"]})" + "\n", false));
  trials.push_back(
      strict_input_trial("a call with an escaped lone surrogate",
                         opening + R"("request_id":"c1","arguments":["a\ud800b"]})" + "\n", false));
  trials.push_back(strict_input_trial("a call nested 2102 deep",
                                      opening + R"("request_id":"c1","arguments":)" + deep + "}\n",
                                      false));
  trials.push_back(strict_input_trial(
      "a call of 1,048,600 bytes, past the longest line",
      opening + R"("request_id":"c1","arguments":)" + long_argument + "}\n", false));
  trials.push_back(strict_input_trial("a call followed by a second value on its line",
                                      call.substr(0, call.size() - 1) + " {}\n", false));
  std::string marked = "\xEF\xBB\xBF";
  marked += HANDSHAKE_LINE;
  trials.push_back(strict_input_trial("a handshake after a byte-order mark", marked, true));
  return trials;
}

// Of the callables whose calls must be answered, the first: the trials of how calls are
// written and read call it. None when no callable's input type is one conform knows.
const AnnouncedCallable* owed_an_answer(const std::vector<AnnouncedCallable>& catalogue) {
  const auto& known = known_values();
  for (const AnnouncedCallable& callable : catalogue) {
    if (known.contains(callable.input) && (callable.input != "()" || callable.maximum_arity == 0) &&
        callable.minimum_arity <= WIDEST_ARITY_TRIED) {
      return &callable;
    }
  }
  return nullptr;
}

// Calls written as hosts write them when they do not wait: several before any answer is
// read, and the input closed right after the last.
std::vector<Trial> host_pace_trials(const AnnouncedCallable& callable) {
  const std::vector<std::string>& values = known_values().at(callable.input);
  const auto call_of = [&](std::size_t n) {
    return call_line(request_id_of(n), callable.name,
                     arguments_of(values, n, callable.minimum_arity));
  };
  std::vector<Trial> trials;
  // In one write, so that they reach the extension in one read as often as not.
  Trial pipelined{TrialKind::kPipelined, {}, {"", "", ""}, true, {}};
  pipelined.dialogue.title = "three calls of " + callable.name + " written at once";
  pipelined.dialogue.arguments = PROTOCOL;
  std::string lines;
  for (const std::size_t n : {0U, 2U, 3U}) {
    lines += call_of(n);
    pipelined.together.push_back(request_id_of(n));
  }
  pipelined.dialogue.steps = {announcement_step(), step(lines, 3), step(SHUTDOWN_LINE, 0)};
  pipelined.dialogue.closing = Closing::kAwaitTheEnd;
  trials.push_back(std::move(pipelined));

  // Of a callable that takes text, a long one: its answer fills the pipe, and what the
  // extension has not written when it ends, a host that reads late never gets.
  const bool takes_text =
      (callable.input == "String" || callable.input == "Value") && callable.maximum_arity >= 1;
  std::string long_text = "[\"";
  long_text.append(LONG_TEXT_BYTES, 'w');
  long_text += "\"]";
  Trial closed{TrialKind::kClosedAfterCall, {}, {"", request_id_of(0)}, true, {}};
  closed.together = {request_id_of(0)};
  closed.dialogue.title = "a call of " + callable.name + ", the input closed right after it" +
                          (takes_text ? ", read late" : "");
  closed.dialogue.arguments = PROTOCOL;
  closed.dialogue.steps = {announcement_step(),
                           step(takes_text && callable.minimum_arity <= 1
                                    ? call_line(request_id_of(0), callable.name, long_text)
                                    : call_of(0),
                                0)};
  closed.dialogue.closing = Closing::kCloseInputReadLate;
  trials.push_back(std::move(closed));
  return trials;
}

}  // namespace

Trial announcement_trial() {
  Trial trial{TrialKind::kAnnouncement, {}, {"", ""}, false, {}};
  trial.dialogue.title = "the handshake, the announcement and \"shutdown\"";
  trial.dialogue.arguments = PROTOCOL;
  trial.dialogue.steps = {announcement_step(), step(SHUTDOWN_LINE, 0)};
  trial.dialogue.closing = Closing::kAwaitTheEnd;
  return trial;
}

std::vector<Trial> protocol_trials() {
  std::vector<Trial> trials;
  const std::vector<std::vector<std::string>> command_lines = {
      {},
      {"--protocol"},
      {"--protocol", "2"},
      {"--protocol", "1.0"},
      {"--protocol=1"},
      {"--PROTOCOL", "1"},
      {"--protocol", "1", "--protocol", "1"},
      {"1", "--protocol"}};
  for (const auto& arguments : command_lines) {
    Trial trial{TrialKind::kCommandLine, {}, {""}, false, {}};
    std::string shown;
    for (const std::string& word : arguments) {
      shown += (shown.empty() ? "" : " ") + word;
    }
    trial.dialogue.title = "the command line '" + shown + "'";
    trial.dialogue.arguments = arguments;
    // Written, not awaited: the extension may end before it reads it.
    trial.dialogue.steps = {step(HANDSHAKE_LINE, 0)};
    trials.push_back(std::move(trial));
  }
  Trial end{TrialKind::kEndOfInput, {}, {""}, false, {}};
  end.dialogue.title = "the input closed after the announcement";
  end.dialogue.arguments = PROTOCOL;
  end.dialogue.steps = {announcement_step()};
  trials.push_back(std::move(end));

  const std::vector<std::pair<std::string, std::string>> first_lines = {
      {"the input closed before any line", ""},
      {"a first line that is \"shutdown\"", SHUTDOWN_LINE},
      {"a first line that is a call",
       "{\"type\":\"call\",\"request_id\":\"c1\",\"callable\":\"x.y\",\"arguments\":[]}\n"},
      {"a first line without \"type\"", "{\"protocol_version\":\"1.0\"}\n"},
  };
  for (const auto& [title, line] : first_lines) {
    Trial trial{TrialKind::kViolationFirstLine, {}, {}, false, {}};
    trial.dialogue.title = title;
    trial.dialogue.arguments = PROTOCOL;
    if (!line.empty()) {
      trial.dialogue.steps = {step(line, 0)};
      trial.request_ids = {""};
    }
    trials.push_back(std::move(trial));
  }
  const std::vector<std::pair<std::string, std::string>> violations = {
      {"a message without \"type\"", "{\"request_id\":\"c1\"}\n"},
      {"a message whose \"type\" is 7", "{\"type\":7}\n"},
      {"a second handshake", HANDSHAKE_LINE},
      {"a message of an unknown type", "{\"type\":\"no_such_type\"}\n"},
      {"a call whose \"request_id\" is a number",
       "{\"type\":\"call\",\"request_id\":1,\"callable\":\"x.y\",\"arguments\":[]}\n"},
      {"a call without \"callable\"",
       "{\"type\":\"call\",\"request_id\":\"c1\",\"arguments\":[]}\n"},
  };
  for (const auto& [title, line] : violations) {
    trials.push_back(violation_trial(title, line));
  }
  return trials;
}

std::vector<Trial> catalogue_trials(const std::string& extension_id,
                                    const std::vector<AnnouncedCallable>& catalogue) {
  std::vector<Trial> trials;
  const auto& known = known_values();
  const std::vector<std::string>& any = known.at("Value");
  for (const AnnouncedCallable& callable : catalogue) {
    const auto found = known.find(callable.input);
    const bool type_known =
        found != known.end() && (callable.input != "()" || callable.maximum_arity == 0);
    const std::vector<std::string>& values = type_known ? found->second : any;
    trials.push_back(calls_trial(callable, type_known, values));
    if (callable.maximum_arity < WIDEST_ARITY_TRIED) {
      trials.push_back(call_outside_trial(callable, callable.maximum_arity + 1, values));
    }
    if (callable.minimum_arity > 0) {
      trials.push_back(call_outside_trial(callable, callable.minimum_arity - 1, values));
    }
  }
  const AnnouncedCallable* first = catalogue.empty() ? nullptr : &catalogue.front();
  const std::string arguments =
      first != nullptr ? arguments_of(any, 0, std::min(first->minimum_arity, WIDEST_ARITY_TRIED))
                       : "[]";
  for (const std::string& name :
       {extension_id + ".no_such_callable", std::string("no.such.callable")}) {
    trials.push_back(violation_trial("a call of \"" + name + "\", a callable not announced",
                                     call_line("c1", name, arguments)));
  }
  if (const AnnouncedCallable* owed = owed_an_answer(catalogue)) {
    for (Trial& trial : host_pace_trials(*owed)) {
      trials.push_back(std::move(trial));
    }
  }
  const std::string called = first != nullptr ? first->name : extension_id + ".x";
  for (Trial& trial : strict_input_trials(called, arguments)) {
    trials.push_back(std::move(trial));
  }
  const Json object_arguments(json_object());
  const Json object_call(json_pack("{s:s,s:s,s:s%,s:O}", "type", "call", "request_id", "c1",
                                   "callable", called.data(), called.size(), "arguments",
                                   object_arguments.get()));
  if (object_call) {
    trials.push_back(
        violation_trial("a call whose \"arguments\" is an object", encode_line(object_call.get())));
  }
  return trials;
}
