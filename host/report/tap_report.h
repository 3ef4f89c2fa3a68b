// check's report in TAP, for test harnesses.
//
// The stream says "TAP version 13": it uses nothing that version 14 added, and every
// consumer reads 13, Debian 12's prove among them (it refuses a whole stream that names
// version 14, even one where every test passed).
#ifndef HOST_REPORT_TAP_REPORT_H_
#define HOST_REPORT_TAP_REPORT_H_

#include <cstddef>
#include <string>

#include "report/case_result.h"

// The version line, the plan, and a comment saying how the extension was contained
// (`containment`: "sandbox: ..." follows the '#').
std::string tap_header(std::size_t cases, const std::string& containment);

// "ok N - name" or "not ok N - name" with a YAML block of the failure, or a skip. The
// name is made visible and its '#' and '\' escaped, so that no case can forge a line or
// a directive ("# SKIP", "# TODO").
std::string tap_line(std::size_t number, const CaseResult& result);

#endif  // HOST_REPORT_TAP_REPORT_H_
