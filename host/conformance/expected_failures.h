// A baseline for CI: the failures a project knows of and has not mended yet, so that
// conform fails on a new one and on an entry that no longer fails, and passes otherwise.
//
// The file holds one entry a line: a requirement's identifier ("answers-in-order"), or an
// identifier, a colon and the title of the conversation it must fail in ("answers-in-order:
// three calls of weather.now written at once"). '#' starts a comment; blank lines are
// passed over.
#ifndef HOST_CONFORMANCE_EXPECTED_FAILURES_H_
#define HOST_CONFORMANCE_EXPECTED_FAILURES_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "conformance/judgement.h"

struct ExpectedFailure {
  std::size_t line = 0;  // in the file, from 1
  Requirement requirement = Requirement::kCommandLine;
  std::string conversation;  // "" for any
};

// The entries of the file at `path`, read whole (at most 1 MiB). None, with why in
// `*problem` (naming the line), when it cannot be read or an entry names no requirement.
std::optional<std::vector<ExpectedFailure>> read_expected_failures(const std::string& path,
                                                                   std::string* problem);

struct Excusal {
  std::array<bool, REQUIREMENT_COUNT> excused{};  // failed, and named by an entry
  std::vector<std::string> stale;                 // each entry that no longer fails, and why
};

// Which of `conformance`'s failures `expected` excuses, and which of its entries are stale:
// their requirement held or was not verified, or failed in another conversation.
Excusal excuse(const Conformance& conformance, const std::vector<ExpectedFailure>& expected);

#endif  // HOST_CONFORMANCE_EXPECTED_FAILURES_H_
