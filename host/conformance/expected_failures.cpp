// Reading a baseline of expected failures, and holding a verdict against it.
#include "conformance/expected_failures.h"

#include <fstream>

#include "text/visible.h"

namespace {

constexpr std::size_t MOST_BYTES = std::size_t{1} << 20U;

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::optional<std::vector<ExpectedFailure>> read_expected_failures(const std::string& path,
                                                                   std::string* problem) {
  std::ifstream file(path, std::ios::binary);
  std::string text(MOST_BYTES + 1, '\0');
  if (file) {
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
  }
  if (!file && !file.eof()) {
    *problem = "--expected-failures: cannot read " + visible(path);
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > MOST_BYTES) {
    *problem = "--expected-failures: " + visible(path) + " is larger than 1 MiB";
    return std::nullopt;
  }
  std::vector<ExpectedFailure> entries;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = trimmed(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const std::size_t colon = line.find(':');
    const std::string identifier = trimmed(line.substr(0, colon));
    ExpectedFailure entry;
    entry.line = number;
    entry.conversation = colon == std::string::npos ? "" : trimmed(line.substr(colon + 1));
    bool known = false;
    for (const RequirementRow& row : REQUIREMENTS) {
      if (identifier == row.identifier) {
        entry.requirement = row.requirement;
        known = true;
      }
    }
    if (!known) {
      *problem = "--expected-failures: line " + std::to_string(number) + " of " + visible(path) +
                 " names no requirement: '" + visible(identifier) +
                 "' (the identifiers are those conform reports, as answers-in-order)";
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

Excusal excuse(const Conformance& conformance, const std::vector<ExpectedFailure>& expected) {
  Excusal excusal;
  for (const ExpectedFailure& entry : expected) {
    const auto index = static_cast<std::size_t>(entry.requirement);
    const Outcome& outcome = conformance.outcomes.at(index);
    const char* identifier = row_of(entry.requirement).identifier;
    const std::string named = "line " + std::to_string(entry.line) + ", " + identifier +
                              (entry.conversation.empty() ? "" : ": " + entry.conversation);
    if (outcome.standing != Standing::kFailed) {
      excusal.stale.push_back(named + ": it " +
                              (outcome.standing == Standing::kHeld ? "holds" : "was not verified") +
                              " now; take the entry out");
      continue;
    }
    // A conversation's title may go on (", cut to the call that breaks it").
    const std::string& title = outcome.evidence.front().title;
    if (!entry.conversation.empty() && !title.starts_with(entry.conversation)) {
      excusal.stale.push_back(named + ": it fails in another conversation now, \"" +
                              visible(title) + "\"");
      continue;
    }
    excusal.excused.at(index) = true;
  }
  return excusal;
}
