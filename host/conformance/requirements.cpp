// The table of requirements.
#include "conformance/requirements.h"

const std::array<RequirementRow, REQUIREMENT_COUNT> REQUIREMENTS = {{
    // The framing first: a line that is no message fails much else, which follows from it.
    {Requirement::kLineFraming, "line-framing", Level::kMust, "framing",
     "every line written is one JSON object in UTF-8, without duplicate keys, ended by a line "
     "feed"},
    {Requirement::kCommandLine, "command-line", Level::kMust, "command line",
     "any command line but '--protocol 1' ends with status 3 and writes nothing"},
    {Requirement::kSilentBeforeHandshake, "silent-before-handshake", Level::kMust, "conversation",
     "nothing is written to standard output before \"handshake_result\""},
    {Requirement::kSilentOnStandardError, "silent-on-standard-error", Level::kMust, "conversation",
     "nothing is ever written to standard error"},
    {Requirement::kAnnouncesUnasked, "announces-unasked", Level::kMust, "conversation",
     "after the handshake, \"handshake_result\" then \"register\" are written and flushed at "
     "once, without waiting for anything more from the host"},
    {Requirement::kEnvelope, "envelope", Level::kMust, "messages",
     "every message carries the strings \"type\", \"request_id\", \"extension_id\" and "
     "\"protocol_version\", with one \"extension_id\" throughout and \"protocol_version\" "
     "\"1.0\"; \"handshake_result\" has \"request_id\" \"handshake\" and a string "
     "\"extension_version\", \"register\" has \"request_id\" \"register\""},
    {Requirement::kDescriptors, "descriptors", Level::kMust, "catalogue",
     "\"register\" holds a \"callables\" array of objects, each with the eleven members of a "
     "descriptor in their JSON types, a name of its own, and 0 <= \"minimum_arity\" <= "
     "\"maximum_arity\""},
    {Requirement::kAnswersInOrder, "answers-in-order", Level::kMust, "conversation",
     "each call is answered by one \"call_result\" (with a \"value\") or \"error\" carrying its "
     "\"request_id\", in the calls' order, while the host waits before writing the next"},
    {Requirement::kErrorMembers, "error-members", Level::kMust, "messages",
     R"(an "error" carries the strings "kind", "code" and "message")"},
    {Requirement::kShutdown, "shutdown", Level::kMust, "conversation",
     "\"shutdown\" is not answered, and the extension ends with status 0 while its input is "
     "still open"},
    {Requirement::kEndOfInput, "end-of-input", Level::kMust, "conversation",
     "the end of input after the announcement ends the extension with status 0, writing "
     "nothing more"},
    {Requirement::kViolationEnds, "violation-ends", Level::kMust, "conversation",
     "a protocol violation (a first message that is not \"handshake\", a message without a "
     "string \"type\" or of an unknown type, a second handshake, a call without a string "
     "\"request_id\" or \"callable\" or an \"arguments\" array, a call of a callable not "
     "announced) ends the extension with status 2, writing nothing more"},
    {Requirement::kStrictInput, "strict-input", Level::kShould, "framing",
     "a line the protocol's parser refuses is a violation (status 2, nothing more written), "
     "though the rest of it would be a message: a key twice in one object at any depth, an "
     "escaped NUL, an escaped lone surrogate, nesting past 2048, a line past 1,048,577 bytes, "
     "a byte-order mark, more than one value on the line"},
    {Requirement::kCanonicalForm, "canonical-form", Level::kShould, "framing",
     "every line is written as the reference writes it: compact, keys in byte order, ASCII "
     "with \\u escapes in upper case, reals in 17 significant digits"},
    {Requirement::kNaming, "naming", Level::kShould, "catalogue",
     "each callable is named ID.verb (its extension's identifier, a full stop, a lower-case "
     "word), and each error's \"kind\" is UpperCamel"},
}};

const RequirementRow& row_of(Requirement requirement) {
  return REQUIREMENTS.at(static_cast<std::size_t>(requirement));
}

const char* level_name(Level level) { return level == Level::kMust ? "must" : "should"; }
