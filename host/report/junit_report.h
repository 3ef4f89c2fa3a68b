// check's report in JUnit XML, for CI dashboards.
#ifndef HOST_REPORT_JUNIT_REPORT_H_
#define HOST_REPORT_JUNIT_REPORT_H_

#include <chrono>
#include <string>
#include <vector>

#include "report/case_result.h"

// Whether a report can be written at `path`, tried before any work: a file there is
// opened for writing, and one made for the try is removed. On failure says why in
// `*problem`.
bool report_can_be_written(const std::string& path, std::string* problem);

// Writes the JUnit XML of `results` to `path`: one testsuite named `suite` (two
// extensions' reports stay apart on a dashboard when it names the extension), a
// timestamp with its zone, one testcase per case with its time; for a case that could
// not be played (bad case, cannot start) an error element, for any other failure a
// failure element, each with the first line of its detail as message and the whole
// detail and command line as text; a skipped element for each skip. The suite's
// property "sandbox" says how the extension was contained (`containment`). Everything
// from the cases or the extension is made visible, so the file is well-formed XML
// whatever they hold. Returns false when it cannot be written.
bool write_junit(const std::string& path, const std::string& suite, const std::string& containment,
                 const std::vector<CaseResult>& results, std::chrono::milliseconds elapsed);

#endif  // HOST_REPORT_JUNIT_REPORT_H_
