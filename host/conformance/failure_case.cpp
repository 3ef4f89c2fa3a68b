// Building a failure's case from its evidence.
#include "conformance/failure_case.h"

#include "base/json.h"
#include "conformance/trials.h"

namespace {

// Whether the extension's own ending was an exit, which a case can expect again.
bool exited(const Exchange& exchange) {
  return exchange.ended_in_time && !exchange.termination.signaled &&
         exchange.stall != Stall::kTimedOut;
}

// The lines written before the host wrote its `steps`-th line and not after the input
// closed, without blank ones (the framing's own fault, which a right extension lacks).
std::string written_before(const Exchange& exchange, std::size_t steps) {
  std::string output;
  for (const WrittenLine& line : exchange.lines) {
    if (line.after_steps < steps && !line.after_input_closed && line.bytes != "\n") {
      output += line.bytes;
    }
  }
  return output;
}

// Every line written, from the first "handshake_result" on; "" when none came.
std::string from_the_handshake_result(const Exchange& exchange, bool* found) {
  std::string output;
  *found = false;
  for (const WrittenLine& line : exchange.lines) {
    if (!*found) {
      const Json message = parse_line(line.bytes);
      *found = string_member(message.get(), "type") == "handshake_result";
    }
    if (*found) {
      output += line.bytes;
    }
  }
  return output;
}

std::string all_written(const Exchange& exchange) {
  std::string output;
  for (const WrittenLine& line : exchange.lines) {
    output += line.bytes;
  }
  return output;
}

}  // namespace

std::optional<Conversation> failure_case(Requirement requirement, const Evidence& evidence,
                                         std::string* why_not) {
  const Exchange& exchange = evidence.exchange;
  Conversation found;
  found.name = row_of(requirement).identifier;
  found.arguments = evidence.arguments;
  for (const std::string& line : evidence.sent) {
    found.input += line;
  }
  const std::size_t sent = evidence.sent.size();
  const char* const ITS_OWN =
      "the right bytes of that conversation are the extension's own: conform knows they are "
      "wrong, not what they should be";
  const char* const NO_EXIT =
      "the extension did not exit in that conversation, and the case would expect its ending";
  switch (requirement) {
    case Requirement::kCommandLine:
      found.output.clear();
      found.status = 3;
      return found;
    case Requirement::kViolationEnds:
    case Requirement::kStrictInput:
      // The violation is the last line written; what came before it stands.
      found.output = written_before(exchange, sent);
      found.status = 2;
      return found;
    case Requirement::kShutdown:
      if (sent == 0 || evidence.sent.back() != SHUTDOWN_LINE) {
        *why_not = "\"shutdown\" was not written in that conversation";
        return std::nullopt;
      }
      found.output = written_before(exchange, sent);
      found.status = 0;
      return found;
    case Requirement::kEndOfInput:
      found.output = written_before(exchange, sent + 1);
      found.status = 0;
      return found;
    case Requirement::kSilentBeforeHandshake: {
      bool has_result = false;
      found.output = from_the_handshake_result(exchange, &has_result);
      if (!has_result || !exited(exchange)) {
        *why_not = has_result ? NO_EXIT : "no \"handshake_result\" came in that conversation";
        return std::nullopt;
      }
      found.status = exchange.termination.code;
      return found;
    }
    case Requirement::kSilentOnStandardError:
      // Everything as the extension wrote it: a case's standard error must stay empty.
      if (!exited(exchange)) {
        *why_not = NO_EXIT;
        return std::nullopt;
      }
      found.output = all_written(exchange);
      found.status = exchange.termination.code;
      return found;
    case Requirement::kAnnouncesUnasked:
    case Requirement::kAnswersInOrder:
      *why_not =
          "check writes a case's input whole, where this shows only while a host waits for "
          "an answer with the input open; conform shows it again";
      return std::nullopt;
    case Requirement::kEnvelope:
    case Requirement::kDescriptors:
    case Requirement::kErrorMembers:
    case Requirement::kLineFraming:
    case Requirement::kCanonicalForm:
    case Requirement::kNaming:
      *why_not = ITS_OWN;
      return std::nullopt;
  }
  *why_not = ITS_OWN;
  return std::nullopt;
}
