// What the protocol asks of every extension, as conform judges it: one row per point, each
// with a short identifier that reports and issues can quote.
//
// "must" rows are what every extension of protocol 1.0 owes its host, whatever it offers;
// "should" rows are the form the reference writes and its naming, which hosts do not rely
// on but readers of a transcript do. What belongs to the sample alone (its identifier, its
// three callables, its one error, how long it sleeps) is no row at all.
#ifndef HOST_CONFORMANCE_REQUIREMENTS_H_
#define HOST_CONFORMANCE_REQUIREMENTS_H_

#include <array>
#include <cstddef>

enum class Level { kMust, kShould };

enum class Requirement : std::size_t {
  kLineFraming,  // first: what breaks the framing breaks what is judged of the messages
  kCommandLine,
  kSilentBeforeHandshake,
  kSilentOnStandardError,
  kAnnouncesUnasked,
  kEnvelope,
  kDescriptors,
  kAnswersInOrder,
  kErrorMembers,
  kShutdown,
  kEndOfInput,
  kViolationEnds,
  kStrictInput,
  kCanonicalForm,
  kNaming,
};

inline constexpr std::size_t REQUIREMENT_COUNT = 15;

struct RequirementRow {
  Requirement requirement;
  const char* identifier;  // "command-line": what reports and --markdown quote
  Level level;
  const char* part;       // where in the protocol it comes from: "command line", "framing", ...
  const char* statement;  // what holds when it is met, in one sentence
};

// The table, in the order reports list it.
extern const std::array<RequirementRow, REQUIREMENT_COUNT> REQUIREMENTS;

// The row of `requirement`.
const RequirementRow& row_of(Requirement requirement);

// "must" or "should".
const char* level_name(Level level);

#endif  // HOST_CONFORMANCE_REQUIREMENTS_H_
