// Reading calls from text.
#include "conversation/calls.h"

#include <cstdlib>

std::optional<Call> parse_call(const std::string& callable, const std::string& arguments,
                               std::string* problem) {
  json_error_t error;
  // Any value is read, so that one given bare ("x", 10) is answered with its array.
  Json parsed(json_loads(arguments.c_str(), JSON_DECODE_ANY, &error));
  if (!parsed) {
    *problem = "the arguments of " + callable + " are not JSON (" + error.text + "): " + arguments;
    // Text given bare, as a person types a word, is answered with the string it meant.
    if (arguments.find_first_of("[]{}\"") == std::string::npos) {
      const Json as_string(json_stringn(arguments.data(), arguments.size()));
      char* quoted =
          as_string ? json_dumps(as_string.get(), JSON_ENCODE_ANY | JSON_ENSURE_ASCII) : nullptr;
      if (quoted != nullptr) {
        *problem += "; a string goes in quotes, in a JSON array: " + callable + " [" + quoted + "]";
        std::free(quoted);  // NOLINT(cppcoreguidelines-no-malloc): jansson's own allocation
      }
    }
    return std::nullopt;
  }
  if (!json_is_array(parsed.get())) {
    *problem = "the arguments go in a JSON array: " + callable + " [" + arguments + "]";
    return std::nullopt;
  }
  return Call{callable, std::move(parsed)};
}

LineKind parse_call_line(const std::string& line, std::optional<Call>* call, std::string* problem) {
  const std::size_t start = line.find_first_not_of(" \t\r");
  if (start == std::string::npos || line[start] == '#') {
    return LineKind::kNothing;
  }
  if (line[start] == '[' || line[start] == '{' || line[start] == '"') {
    *problem = "a call starts with the callable's name: NAME JSON_ARRAY";
    return LineKind::kBad;
  }
  const std::size_t space = line.find_first_of(" \t", start);
  const std::string callable = line.substr(start, space - start);
  const std::size_t rest =
      space == std::string::npos ? space : line.find_first_not_of(" \t", space);
  const std::string arguments = rest == std::string::npos ? "[]" : line.substr(rest);
  *call = parse_call(callable, arguments, problem);
  return *call ? LineKind::kCall : LineKind::kBad;
}

bool parse_script(std::istream& script, const std::string& origin, std::vector<Call>* calls,
                  std::string* problem) {
  int number = 0;
  for (std::string line; std::getline(script, line);) {
    ++number;
    std::optional<Call> call;
    switch (parse_call_line(line, &call, problem)) {
      case LineKind::kNothing:
        break;
      case LineKind::kBad:
        *problem = origin + ":" + std::to_string(number) + ": " + *problem;
        return false;
      case LineKind::kCall:
        calls->push_back(std::move(*call));
        break;
    }
  }
  return true;
}
