// A failure conform found, kept as a golden case that check plays: the conversation that
// broke the requirement, with the ending the protocol asks for in place of the one the
// extension gave. The case fails the extension until it is mended, and passes after.
//
// Only where the protocol says what the right bytes are can such a case be written: the
// ending of a command line, a violation, "shutdown" and the end of input, the silence
// before the handshake and on standard error. Where only the extension knows its right
// answer (an envelope, a descriptor, a reply's request_id, the canonical form), or where
// the fault shows only while a host waits with the input open (check writes a case's
// input whole), no case is written, and the reason is told.
#ifndef HOST_CONFORMANCE_FAILURE_CASE_H_
#define HOST_CONFORMANCE_FAILURE_CASE_H_

#include <optional>
#include <string>

#include "conformance/judgement.h"
#include "conformance/requirements.h"
#include "conversation/case_folder.h"

// The case of `evidence`, the first conversation that broke `requirement`, named after
// the requirement. Returns none, with why in `*why_not`, where no right ending can be
// said: for the requirements above, and where the extension's own ending, which the case
// keeps, was no exit (killed, or ended by a signal).
std::optional<Conversation> failure_case(Requirement requirement, const Evidence& evidence,
                                         std::string* why_not);

#endif  // HOST_CONFORMANCE_FAILURE_CASE_H_
