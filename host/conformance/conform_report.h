// Conform's report, requirement by requirement, in the kit's forms: for people, TAP,
// JUnit XML, and Markdown to paste into an issue. Every byte that came from the extension
// is made visible (see text/visible.h) and escaped for the form.
#ifndef HOST_CONFORMANCE_CONFORM_REPORT_H_
#define HOST_CONFORMANCE_CONFORM_REPORT_H_

#include <string>

#include "conformance/expected_failures.h"
#include "conformance/judgement.h"

// What was judged: the extension's identity and callables, and how it was contained.
struct Judged {
  std::string command;      // the extension's command line, quoted for a shell
  std::string containment;  // "no terminal, ..." as the sandbox says it
  const Conformance* conformance = nullptr;
  std::string host_version;          // "1.4.0"
  std::string timestamp;             // when the judging began, in UTC: "2026-12-09T22:58:01Z"
  const Excusal* excusal = nullptr;  // the failures a baseline excuses; none without one
};

std::string people_conform_report(const Judged& judged);
std::string tap_conform_report(const Judged& judged);
std::string junit_conform_report(const Judged& judged);
std::string markdown_conform_report(const Judged& judged);
// One JSON object: the tool, its version and the time; the extension; and each
// requirement with its identifier, level, the part of the protocol it comes from, its
// statement, its status ("held", "failed", "not verified"), whether a baseline expects
// its failure, and the evidence: the conversation, the problem and the transcript.
std::string json_conform_report(const Judged& judged);

// The last line of each: "12 must: 11 held, 1 failed; 2 should: 2 held".
std::string conform_summary(const Conformance& conformance);

#endif  // HOST_CONFORMANCE_CONFORM_REPORT_H_
