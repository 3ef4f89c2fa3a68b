// One case of a check, as the reports see it.
#ifndef HOST_REPORT_CASE_RESULT_H_
#define HOST_REPORT_CASE_RESULT_H_

#include <string>

#include "conversation/play.h"

struct CaseResult {
  std::string name;  // the case folder's name, as it is on disk
  bool run = false;  // false: skipped, as --fail-fast stopped at an earlier failure
  Verdict verdict;
};

// Why a skipped case did not run.
inline constexpr char SKIPPED[] = "not run: --fail-fast stopped at an earlier failure";

// Whether the case could not be played at all (a bad case, an extension that cannot
// start, a sandbox that failed): an error in the check rather than a failure of the extension.
inline bool is_error(const CaseResult& result) {
  return result.run && (result.verdict.failure == Failure::kBadCase ||
                        result.verdict.failure == Failure::kCannotStart ||
                        result.verdict.failure == Failure::kSandboxFailed);
}

// The first line of a verdict's detail.
inline std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

#endif  // HOST_REPORT_CASE_RESULT_H_
