// Reading the words after "--" the one way every command reads them.
#include "commands/extension_line.h"

#include <algorithm>

#include "process/program.h"
#include "text/visible.h"

const std::vector<std::string> PROTOCOL_ARGUMENTS = {"--protocol", "1"};

bool ends_in_protocol_arguments(const std::vector<std::string>& words) {
  return words.size() > PROTOCOL_ARGUMENTS.size() &&
         std::equal(PROTOCOL_ARGUMENTS.begin(), PROTOCOL_ARGUMENTS.end(),
                    words.end() - static_cast<std::ptrdiff_t>(PROTOCOL_ARGUMENTS.size()));
}

std::vector<std::string> usual_form(const std::vector<std::string>& words) {
  std::vector<std::string> usual(words.begin(),
                                 std::find(words.begin() + 1, words.end(), PROTOCOL_ARGUMENTS[0]));
  usual.insert(usual.end(), PROTOCOL_ARGUMENTS.begin(), PROTOCOL_ARGUMENTS.end());
  return usual;
}

std::optional<std::vector<std::string>> words_before_case_arguments(
    const std::vector<std::string>& words, const std::string& command, std::string* problem) {
  std::vector<std::string> before = words;
  if (ends_in_protocol_arguments(before)) {
    before.resize(before.size() - PROTOCOL_ARGUMENTS.size());
  }
  const auto stray = std::find(before.begin() + 1, before.end(), PROTOCOL_ARGUMENTS[0]);
  if (stray != before.end()) {
    // conform holds conversations rather than cases: each with its own arguments too.
    *problem = std::string(command == "conform" ? "each conversation" : "each case") +
               " gives the extension its own arguments, so '" +
               shell_quoted(std::vector<std::string>(stray, before.end())) +
               "' cannot stand after it; type: extension-host " + command + " -- " +
               shell_quoted(usual_form(before));
    return std::nullopt;
  }
  return before;
}

std::vector<std::string> case_arguments(const std::vector<std::string>& words) {
  // An interpreter's script and a wrapper's program stand before "--protocol" and stay in
  // the words check is given; only the protocol's part is the case's own.
  return {std::find(words.begin() + 1, words.end(), PROTOCOL_ARGUMENTS[0]), words.end()};
}

bool program_runs(const std::vector<std::string>& words, std::string* problem) {
  std::string why;
  if (!find_program(words[0], &why)) {
    *problem = "cannot run the extension: " + why;
    return false;
  }
  return true;
}
