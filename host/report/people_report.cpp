// Lines for people.
#include "report/people_report.h"

#include "text/visible.h"

std::string people_line(const CaseResult& result) {
  const std::string name = visible_name(result.name);
  if (!result.run) {
    return "SKIP " + name + ": " + SKIPPED + "\n";
  }
  if (result.verdict.passed()) {
    return "PASS " + name + " (" + std::to_string(result.verdict.elapsed.count()) + " ms)\n";
  }
  // The detail's further lines, and the command line, indented under the case's own.
  std::string line =
      "FAIL " + name + ": " + continued(visible_lines(result.verdict.detail), "     ") + "\n";
  if (!result.verdict.command_line.empty()) {
    line += "     command line: " + shell_quoted_short(result.verdict.command_line) + "\n";
  }
  return line;
}
