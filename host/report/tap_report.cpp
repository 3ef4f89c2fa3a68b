// Writing TAP lines and their YAML blocks.
#include "report/tap_report.h"

#include "text/markup.h"
#include "text/visible.h"

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
