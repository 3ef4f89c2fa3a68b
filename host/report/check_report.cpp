// Writing the three kinds of report.
#include "report/check_report.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "text/visible.h"

namespace {

constexpr char SKIPPED[] = "not run: --fail-fast stopped at an earlier failure";

std::string seconds(std::chrono::milliseconds elapsed) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.3f", static_cast<double>(elapsed.count()) / 1000.0);
  return text.data();
}

// Text safe inside an XML element or a double-quoted attribute: made visible first, so
// that no character XML forbids, and no byte that is not UTF-8, can reach the file.
std::string xml_escaped(const std::string& text, bool keep_line_feeds = false) {
  std::string escaped;
  for (const char character : keep_line_feeds ? visible_lines(text) : visible(text)) {
    switch (character) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += character;
    }
  }
  return escaped;
}

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
  for (const char character : visible(name)) {
    if (character == '#' || character == '\\') {
      description += '\\';
    }
    description += character;
  }
  return description;
}

}  // namespace

std::string people_line(const CaseResult& result) {
  if (!result.run) {
    return "SKIP " + visible(result.name) + ": " + SKIPPED + "\n";
  }
  if (result.verdict.passed()) {
    return "PASS " + visible(result.name) + " (" + std::to_string(result.verdict.elapsed.count()) +
           " ms)\n";
  }
  return "FAIL " + visible(result.name) + ": " + visible(result.verdict.detail) + "\n";
}

std::string tap_header(int version, std::size_t cases) {
  return "TAP version " + std::to_string(version) + "\n1.." + std::to_string(cases) + "\n";
}

int tap_version_for_harness() {
  const char* active = std::getenv("HARNESS_ACTIVE");    // NOLINT(concurrency-mt-unsafe)
  const char* version = std::getenv("HARNESS_VERSION");  // NOLINT(concurrency-mt-unsafe)
  if (active == nullptr || version == nullptr || std::string(active) != "1") {
    return 14;
  }
  constexpr double FIRST_WITH_VERSION_14 = 3.48;
  return std::strtod(version, nullptr) < FIRST_WITH_VERSION_14 ? 13 : 14;
}

std::string tap_line(std::size_t number, const CaseResult& result) {
  const std::string head = std::to_string(number) + " - " + tap_description(result.name);
  if (!result.run) {
    return "ok " + head + " # SKIP " + SKIPPED + "\n";
  }
  if (result.verdict.passed()) {
    return "ok " + head + "\n";
  }
  return "not ok " + head +
         "\n  ---\n  category: " + yaml_quoted(failure_name(result.verdict.failure)) +
         "\n  message: " + yaml_quoted(result.verdict.detail) +
         "\n  duration_ms: " + std::to_string(result.verdict.elapsed.count()) + "\n  ...\n";
}

bool write_junit(const std::string& path, const std::string& suite,
                 const std::vector<CaseResult>& results, std::chrono::milliseconds elapsed) {
  std::size_t failures = 0;
  std::size_t skipped = 0;
  for (const CaseResult& result : results) {
    failures += result.run && !result.verdict.passed() ? 1U : 0U;
    skipped += result.run ? 0U : 1U;
  }
  std::array<char, 64> host{};
  gethostname(host.data(), host.size() - 1U);
  std::array<char, 32> stamp{};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H:%M:%S", &utc);

  const std::string counts = R"( tests=")" + std::to_string(results.size()) + R"(" failures=")" +
                             std::to_string(failures) + R"(" errors="0" skipped=")" +
                             std::to_string(skipped) + R"(" time=")" + seconds(elapsed) + "\"";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"extension-host check\"" + counts + ">\n";
  xml += "  <testsuite name=\"" + xml_escaped(suite) + "\"" + counts + " timestamp=\"" +
         stamp.data() + "\" hostname=\"" + xml_escaped(host.data()) + "\">\n";
  for (const CaseResult& result : results) {
    xml += "    <testcase name=\"" + xml_escaped(result.name) + "\" classname=\"" +
           xml_escaped(suite) + "\" time=\"" + seconds(result.verdict.elapsed) + "\"";
    if (!result.run) {
      xml += ">\n      <skipped message=\"" + std::string(SKIPPED) + "\"/>\n    </testcase>\n";
    } else if (!result.verdict.passed()) {
      const std::string category = failure_name(result.verdict.failure);
      xml += ">\n      <failure message=\"" + xml_escaped(category) + "\" type=\"" +
             xml_escaped(category) + "\">" + xml_escaped(result.verdict.detail, true) +
             "</failure>\n    </testcase>\n";
    } else {
      xml += "/>\n";
    }
  }
  xml += "  </testsuite>\n</testsuites>\n";
  std::ofstream file(path, std::ios::binary);
  file << xml;
  file.close();
  return static_cast<bool>(file);
}
