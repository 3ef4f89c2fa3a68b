// The reports of a check: lines for people, TAP version 14 for test harnesses, and JUnit
// XML for CI dashboards.
#ifndef HOST_REPORT_CHECK_REPORT_H_
#define HOST_REPORT_CHECK_REPORT_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "conversation/play.h"

struct CaseResult {
  std::string name;
  bool run = false;  // false: skipped, as --fail-fast stopped at an earlier failure
  Verdict verdict;
};

// "PASS name (12 ms)", "FAIL name: detail" or "SKIP name: ...", with its line feed.
std::string people_line(const CaseResult& result);

// The version line and the plan: "TAP version 14", or 13 for a harness that says it is
// older (see tap_version_for_harness).
std::string tap_header(int version, std::size_t cases);

// The TAP version to write: 14, unless run by a Perl harness that says in HARNESS_ACTIVE
// and HARNESS_VERSION that it is older than 3.48, the first to take version 14 (Debian
// 12's prove is 3.44, and fails a whole stream on a version line it does not know). The
// stream is the same either way: it uses nothing that version 14 added.
int tap_version_for_harness();
// "ok N - name" or "not ok N - name" with a YAML block of the failure, or a skip.
std::string tap_line(std::size_t number, const CaseResult& result);

// Writes the JUnit XML of `results` to `path`: one testsuite named `suite`, one testcase
// per case with its time, a failure element (message: the category; text: the details)
// for each failure, a skipped element for each skip. Returns false when it cannot be
// written.
bool write_junit(const std::string& path, const std::string& suite,
                 const std::vector<CaseResult>& results, std::chrono::milliseconds elapsed);

#endif  // HOST_REPORT_CHECK_REPORT_H_
