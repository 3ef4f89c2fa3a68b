// Writing TAP lines and their YAML blocks.
#include "report/tap_report.h"

#include "text/visible.h"

namespace {

// A YAML double-quoted scalar of visible text.
std::string yaml_quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char character : visible(text)) {
    if (character == '"' || character == '\\') {
      quoted += '\\';
    }
    quoted += character;
  }
  return quoted + "\"";
}

// A TAP description: visible, on one line, with '#' escaped, since "# SKIP" or "# TODO"
// in a case's name would turn a failure into a skip; and so with backslashes, the
// escape itself.
std::string tap_description(const std::string& name) {
  std::string description;
  for (const char character : visible_name(name)) {
    if (character == '#' || character == '\\') {
      description += '\\';
    }
    description += character;
  }
  return description;
}

// A YAML literal block of `text` made visible: its line breaks stay line breaks, and a
// "\\n" in the data stays two characters. Indented under a key at two spaces; the plain
// "|" form, the only one TAP's YAMLish readers take (the first line never begins with a space).
std::string yaml_block(const std::string& text) {
  std::string block = "|\n    ";
  for (const char character : visible_lines(text)) {
    block += character;
    if (character == '\n') {
      block += "    ";
    }
  }
  return block;
}

}  // namespace

std::string tap_header(std::size_t cases, const std::string& containment) {
  return "TAP version 13\n1.." + std::to_string(cases) + "\n# sandbox: " + containment + "\n";
}

std::string tap_line(std::size_t number, const CaseResult& result) {
  const std::string head = std::to_string(number) + " - " + tap_description(result.name);
  if (!result.run) {
    return "ok " + head + " # SKIP " + SKIPPED + "\n";
  }
  if (result.verdict.passed()) {
    return "ok " + head + "\n";
  }
  std::string block = "not ok " + head +
                      "\n  ---\n  category: " + yaml_quoted(failure_name(result.verdict.failure)) +
                      "\n  message: " + yaml_block(result.verdict.detail);
  if (!result.verdict.command_line.empty()) {
    block += "\n  command_line: " + yaml_quoted(shell_quoted_short(result.verdict.command_line));
  }
  return block + "\n  duration_ms: " + std::to_string(result.verdict.elapsed.count()) + "\n  ...\n";
}
