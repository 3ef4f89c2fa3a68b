// check's report for people: a line a case, its details indented below a failure.
#ifndef HOST_REPORT_PEOPLE_REPORT_H_
#define HOST_REPORT_PEOPLE_REPORT_H_

#include <string>

#include "report/case_result.h"

// "PASS name (12 ms)", "FAIL name: detail" with the command line the extension got on the
// next line, or "SKIP name: ...", with its line feed. Everything from the case or the
// extension is made visible.
std::string people_line(const CaseResult& result);

#endif  // HOST_REPORT_PEOPLE_REPORT_H_
