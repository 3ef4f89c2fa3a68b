// The dialogues conform holds with an extension, drawn from the protocol and from the
// catalogue the extension announced: each is short, and tests a few requirements, so that
// a failure is shown by the shortest conversation that breaks it.
#ifndef HOST_CONFORMANCE_TRIALS_H_
#define HOST_CONFORMANCE_TRIALS_H_

#include <string>
#include <vector>

#include "conformance/dialogue.h"
#include "conversation/session.h"

enum class TrialKind {
  kAnnouncement,        // the handshake, the announcement, and "shutdown"
  kCommandLine,         // another command line: status 3, nothing written
  kEndOfInput,          // the input closed after the announcement: status 0
  kCallsWithin,         // calls within a callable's arity, of its declared input type
  kCallOutside,         // a call outside a callable's arity: an answer, or status 2
  kViolation,           // a violation after the announcement: status 2, nothing more
  kViolationFirstLine,  // a first line that is no handshake: status 2, nothing written
  kStrictInput,         // a message a strict parser refuses: status 2, nothing more written
  kPipelined,           // calls written together, then their answers awaited, in order
  kClosedAfterCall,     // the input closed right after a call: its answer, then status 0
};

struct Trial {
  TrialKind kind;
  Dialogue dialogue;
  // For each step, the "request_id" of the call it writes, or "" when it writes no call.
  std::vector<std::string> request_ids;
  // Calls of a callable whose input type conform knows: each must be answered. Of any
  // other, a refusal (status 2) is the extension's right.
  bool answer_owed = false;
  // The "request_id"s of calls written together in step 1, in their order.
  std::vector<std::string> together;
};

// The handshake line conform writes, and its "shutdown" line.
extern const char HANDSHAKE_LINE[];
extern const char SHUTDOWN_LINE[];

// The first dialogue, which learns the extension's identity and catalogue.
Trial announcement_trial();

// The dialogues that need nothing of the catalogue: other command lines, the end of
// input, and violations.
std::vector<Trial> protocol_trials();

// The dialogues drawn from `catalogue`: calls of each callable within its arity, with
// arguments of its declared input type (any JSON when the type is not one conform knows),
// and calls outside it; and a call of a callable not announced.
std::vector<Trial> catalogue_trials(const std::string& extension_id,
                                    const std::vector<AnnouncedCallable>& catalogue);

#endif  // HOST_CONFORMANCE_TRIALS_H_
