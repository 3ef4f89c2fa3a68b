// Checks of single lines and messages an extension wrote, each by the protocol alone:
// whether a line is a message at all, its envelope, its catalogue, its reply's shape, its
// form and its names. Each returns "" when the point holds, or what breaks it, naming the
// member; a check of bytes also says at which byte of the line (counted from 1).
#ifndef HOST_CONFORMANCE_MESSAGE_CHECKS_H_
#define HOST_CONFORMANCE_MESSAGE_CHECKS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.h"
#include "conversation/session.h"

// A problem with a line, and the byte of the line where it shows (0: the line as a whole).
struct LineProblem {
  std::string what;
  std::size_t byte = 0;
  [[nodiscard]] bool found() const { return !what.empty(); }
};

// The message `line` holds: one JSON object, in UTF-8, without duplicate keys, ended by one
// line feed. On failure returns none, and why in `*problem`.
Json parse_written_line(std::string_view line, LineProblem* problem);

// The four envelope strings of `message`, and "protocol_version" "1.0". When
// `extension_id` is not empty, "extension_id" must be it.
std::string envelope_problem(const json_t* message, const std::string& extension_id);

// What "handshake_result" must hold beyond the envelope: "request_id" "handshake" and a
// string "extension_version".
std::string handshake_result_problem(const json_t* message);

// What "register" must hold beyond the envelope: "request_id" "register" and a
// "callables" array of well-formed descriptors with names of their own. Fills `*catalogue`
// with the callables as far as they are well-formed.
std::string register_problem(const json_t* message, std::vector<AnnouncedCallable>* catalogue);

// Whether `message` answers the call `request_id`: a "call_result" with a "value", or an
// "error"; with that "request_id".
std::string answer_problem(const json_t* message, const std::string& request_id);

// An "error"'s three strings: "kind", "code" and "message". "" for any other message.
std::string error_members_problem(const json_t* message);

// `line` against the bytes the reference writes for the same message: compact, keys in
// byte order, ASCII with upper-case \u escapes, reals in 17 significant digits.
LineProblem canonical_problem(std::string_view line, const json_t* message);

// Whether each callable is named ID.verb, a lower-case word after its extension's identifier.
std::string callable_name_problem(const std::string& name, const std::string& extension_id);

// Whether an "error"'s "kind" is UpperCamel. "" for any other message.
std::string error_kind_problem(const json_t* message);

#endif  // HOST_CONFORMANCE_MESSAGE_CHECKS_H_
