// Reading a typed entry: commands, unfinished values, calls against the catalogue.
#include "conversation/typed_line.h"

#include "conversation/call_check.h"
#include "conversation/examples.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "text/visible.h"

namespace {

struct CommandWord {
  std::string_view word;
  std::string_view command;
};

// The bare words a newcomer types first; each is a command only while no callable is
// named so.
constexpr std::array<CommandWord, 5> BARE_COMMANDS = {{{"help", "help"},
                                                       {"?", "help"},
                                                       {"quit", "quit"},
                                                       {"exit", "quit"},
                                                       {"catalogue", "catalogue"}}};
constexpr std::array<CommandWord, 5> COLON_COMMANDS = {{{":help", "help"},
                                                        {":quit", "quit"},
                                                        {":q", "quit"},
                                                        {":catalogue", "catalogue"},
                                                        {":send", "send"}}};

// Whether JSON text is still open at its end: inside a string, or with more brackets
// opened than closed.
bool still_open(std::string_view json) {
  long depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char character : json) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (character == '\\') {
        escaped = true;
      } else if (character == '"') {
        in_string = false;
      }
    } else if (character == '"') {
      in_string = true;
    } else if (character == '[' || character == '{') {
      ++depth;
    } else if (character == ']' || character == '}') {
      --depth;
    }
  }
  return in_string || depth > 0;
}

}  // namespace

Typed read_typed(const std::string& text, const std::vector<AnnouncedCallable>& catalogue) {
  Typed typed;
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || text[start] == '#') {
    return typed;
  }
  const std::size_t space = text.find_first_of(" \t\r\n", start);
  const std::string word = text.substr(start, space - start);
  const std::size_t rest_start =
      space == std::string::npos ? std::string::npos : text.find_first_not_of(" \t\r\n", space);
  const std::string rest = rest_start == std::string::npos ? "" : text.substr(rest_start);

  for (const CommandWord& command : COLON_COMMANDS) {
    if (word == command.word) {
      typed.kind = Typed::Kind::kCommand;
      typed.command = command.command;
      typed.line = rest;
      if (typed.command == "send" && rest.empty()) {
        typed.kind = Typed::Kind::kBad;
        typed.problem = R"(:send takes the line to send as it stands: :send {"type":"call"})";
      }
      return typed;
    }
  }
  if (rest.empty() && !announced(word, catalogue)) {
    for (const CommandWord& command : BARE_COMMANDS) {
      if (word == command.word) {
        typed.kind = Typed::Kind::kCommand;
        typed.command = command.command;
        return typed;
      }
    }
  }
  if (word.front() == '[' || word.front() == '{' || word.front() == '"' || word.front() == ']' ||
      word.front() == '}') {
    typed.kind = Typed::Kind::kBad;
    typed.problem = "a call starts with the callable's name: NAME JSON_ARRAY, as in " +
                    example_call(catalogue) + " (':send' sends a line as it stands)";
    return typed;
  }
  if (still_open(rest)) {
    typed.kind = Typed::Kind::kIncomplete;
    return typed;
  }
  typed.kind = Typed::Kind::kBad;
  if (!announced(word, catalogue)) {
    typed.problem = "the extension announced no callable named '" + visible(word) + "'";
    const std::optional<std::string> nearest = nearest_name(word, catalogue);
    typed.problem += nearest ? "; did you mean " + visible(*nearest) + "?"
                             : " (':catalogue' lists those it did)";
    return typed;
  }
  std::optional<Call> call = parse_call(word, rest.empty() ? "[]" : rest, &typed.problem);
  if (!call) {
    return typed;
  }
  typed.problem = unfit_call(*call, catalogue);
  if (!typed.problem.empty()) {
    typed.problem += " (':send' sends a line as it stands)";
    return typed;
  }
  typed.kind = Typed::Kind::kCall;
  typed.call = std::move(call);
  return typed;
}
