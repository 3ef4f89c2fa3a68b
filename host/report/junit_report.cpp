// Writing JUnit XML.
#include "report/junit_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "text/markup.h"
#include "text/visible.h"

namespace {

// Now, as ISO 8601 in UTC with its zone: "2026-12-08T15:04:05Z".
std::string timestamp() {
  std::array<char, 32> stamp{};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return stamp.data();
}

}  // namespace

bool report_can_be_written(const std::string& path, std::string* problem) {
  struct stat before = {};
  const bool existed = stat(path.c_str(), &before) == 0;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    *problem = "cannot write the report " + path + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  if (!existed) {
    unlink(path.c_str());
  }
  return true;
}

bool write_junit(const std::string& path, const std::string& suite, const std::string& containment,
                 const std::vector<CaseResult>& results, std::chrono::milliseconds elapsed) {
  std::size_t failures = 0;
  std::size_t errors = 0;
  std::size_t skipped = 0;
  for (const CaseResult& result : results) {
    errors += is_error(result) ? 1U : 0U;
    failures += result.run && !result.verdict.passed() && !is_error(result) ? 1U : 0U;
    skipped += result.run ? 0U : 1U;
  }
  std::array<char, 64> host{};
  gethostname(host.data(), host.size() - 1U);

  const std::string counts = R"( tests=")" + std::to_string(results.size()) + R"(" failures=")" +
                             std::to_string(failures) + R"(" errors=")" + std::to_string(errors) +
                             R"(" skipped=")" + std::to_string(skipped) + R"(" time=")" +
                             report_seconds(elapsed) + "\"";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"extension-host check\"" + counts + ">\n";
  xml += "  <testsuite name=\"" + xml_escaped(suite) + "\"" + counts + " timestamp=\"" +
         timestamp() + "\" hostname=\"" + xml_escaped(host.data()) + "\">\n";
  xml += "    <properties>\n      <property name=\"sandbox\" value=\"" + xml_escaped(containment) +
         "\"/>\n    </properties>\n";
  // Dashboards split a class name at its dots into packages: the suite's name ("./port.py")
  // is the class, whole, without them.
  std::string class_name = suite;
  std::replace(class_name.begin(), class_name.end(), '.', '_');
  for (const CaseResult& result : results) {
    xml += "    <testcase name=\"" + xml_escaped(visible_name(result.name)) + "\" classname=\"" +
           xml_escaped(class_name) + "\" time=\"" + report_seconds(result.verdict.elapsed) + "\"";
    if (!result.run) {
      xml += ">\n      <skipped message=\"" + std::string(SKIPPED) + "\"/>\n    </testcase>\n";
    } else if (!result.verdict.passed()) {
      const char* element = is_error(result) ? "error" : "failure";
      const std::string category = failure_name(result.verdict.failure);
      std::string text = result.verdict.detail;
      if (!result.verdict.command_line.empty()) {
        text += "\ncommand line: " + shell_quoted_short(result.verdict.command_line);
      }
      xml += ">\n      <" + std::string(element) + " message=\"" +
             xml_escaped(first_line(result.verdict.detail)) + "\" type=\"" + xml_escaped(category) +
             "\">" + xml_escaped(text, true) + "</" + element + ">\n    </testcase>\n";
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
