// Reading a typed entry: commands, unfinished values, calls against the catalogue.
#include "conversation/typed_line.h"

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

bool announced(const std::string& name, const std::vector<AnnouncedCallable>& catalogue) {
  return std::any_of(catalogue.begin(), catalogue.end(),
                     [&](const AnnouncedCallable& callable) { return callable.name == name; });
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string lower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered;
}

std::string arguments_in_words(long long count) {
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

// Why `count` arguments are too few or too many for `callable`, or "".
std::string arity_problem(const AnnouncedCallable& callable, std::size_t count) {
  const auto given = static_cast<long long>(count);
  if (given >= callable.minimum_arity && given <= callable.maximum_arity) {
    return "";
  }
  const std::string takes =
      callable.minimum_arity == callable.maximum_arity
          ? (callable.minimum_arity == 0 ? std::string("no arguments")
                                         : arguments_in_words(callable.minimum_arity))
          : "from " + std::to_string(callable.minimum_arity) + " to " +
                arguments_in_words(callable.maximum_arity);
  return visible(callable.name) + " takes " + takes + ", not " + std::to_string(count) +
         " (':send' sends a line as it stands)";
}

}  // namespace

std::optional<std::string> nearest_name(const std::string& name,
                                        const std::vector<AnnouncedCallable>& catalogue) {
  std::optional<std::string> nearest;
  std::size_t best = std::max<std::size_t>(2, name.size() / 4) + 1;
  for (const AnnouncedCallable& callable : catalogue) {
    const std::size_t dot = callable.name.find('.');
    const bool same_but_case = lower(callable.name) == lower(name);
    const bool verb_alone = dot != std::string::npos && callable.name.substr(dot + 1) == name;
    // Lengths that differ by the best distance or more cannot come nearer: an announced
    // name may be megabytes long, and is not compared letter by letter.
    const std::size_t length_apart =
        std::max(name.size(), callable.name.size()) - std::min(name.size(), callable.name.size());
    const std::size_t distance = same_but_case || verb_alone ? 0
                                 : length_apart >= best      ? best
                                                             : edit_distance(name, callable.name);
    if (distance < best) {
      best = distance;
      nearest = callable.name;
    }
  }
  return nearest;
}

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
    typed.problem =
        "a call starts with the callable's name: NAME JSON_ARRAY, as in "
        "sample.echo [\"hi\"] (':send' sends a line as it stands)";
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
  const auto callable =
      std::find_if(catalogue.begin(), catalogue.end(),
                   [&](const AnnouncedCallable& each) { return each.name == word; });
  typed.problem = arity_problem(*callable, json_array_size(call->arguments.get()));
  if (!typed.problem.empty()) {
    return typed;
  }
  typed.kind = Typed::Kind::kCall;
  typed.call = std::move(call);
  return typed;
}
