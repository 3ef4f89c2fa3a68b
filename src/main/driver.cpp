// The conversation: command line, handshake, announcement, then one call at a time.
#include "main/driver.h"

#include <array>
#include <optional>
#include <string_view>

#include "callables/catalogue.h"
#include "callables/handlers.h"
#include "channel/channel.h"
#include "protocol/exit_status.h"
#include "protocol/incoming.h"
#include "protocol/messages.h"
#include "protocol/outgoing.h"

namespace {

bool command_line_accepted(int argc, const char* const* argv) {
  return argc == 3 && std::string_view(argv[1]) == "--protocol" && std::string_view(argv[2]) == "1";
}

// Reads the first message and tells whether it is a handshake. Nothing else in it is read.
bool receive_handshake(std::FILE* in) {
  const ReadResult read = read_message(in);
  if (read.outcome != ReadOutcome::kMessage) {
    return false;
  }
  return read_members(read.message.get()).type == TYPE_HANDSHAKE;
}

// Writes "handshake_result" and "register". The extension waits for no acknowledgement.
bool announce(std::FILE* out) {
  const JsonRef handshake_result = build_handshake_result();
  if (!handshake_result || !emit(out, handshake_result.get())) {
    return false;
  }
  const JsonRef registration = build_register(build_catalogue());
  return registration && emit(out, registration.get());
}

// Answers one call. Returns the exit status if the conversation ends here, none if it
// goes on.
std::optional<int> answer_call(std::FILE* out, const LineTemplate& call_result,
                               const MessageMembers& call) {
  if (call.request_id == nullptr || !call.callable || !json_is_array(call.arguments)) {
    return EXIT_PROTOCOL;
  }
  const CallOutcome outcome = handle_call(*call.callable, call.arguments);
  bool written = false;
  switch (outcome.kind) {
    case CallOutcome::Kind::kValue: {
      const std::array<const json_t*, 2> members{call.request_id, outcome.value};
      written = call_result.emit(out, members);
      break;
    }
    case CallOutcome::Kind::kFixedError: {
      const JsonRef reply = build_error(call.request_id);
      written = reply && emit(out, reply.get());
      break;
    }
    case CallOutcome::Kind::kViolation:
      return EXIT_PROTOCOL;
  }
  return written ? std::nullopt : std::optional<int>(EXIT_PROTOCOL);
}

// Answers one message of the serving loop. Returns the exit status if the conversation
// ends here, none if it goes on.
std::optional<int> answer(std::FILE* out, const LineTemplate& call_result, json_t* message) {
  const MessageMembers members = read_members(message);
  if (members.type == TYPE_SHUTDOWN) {
    return EXIT_OK;
  }
  if (members.type == TYPE_CALL) {
    return answer_call(out, call_result, members);
  }
  // A missing or non-string type, a second handshake, or any other type.
  return EXIT_PROTOCOL;
}

int serve(std::FILE* in, std::FILE* out, const LineTemplate& call_result) {
  for (;;) {
    // The message is released at the end of each turn, before the next read.
    const ReadResult read = read_message(in);
    switch (read.outcome) {
      case ReadOutcome::kMessage:
        break;
      case ReadOutcome::kEndOfInput:
        return EXIT_OK;
      case ReadOutcome::kNotAMessage:
      case ReadOutcome::kReadError:
        // A corrupt line or a failed read is a failure; only a clean end of input is not.
        return EXIT_PROTOCOL;
    }
    if (const std::optional<int> status = answer(out, call_result, read.message.get())) {
      return *status;
    }
  }
}

}  // namespace

int run_extension(int argc, const char* const* argv, std::FILE* in, std::FILE* out) {
  if (!command_line_accepted(argc, argv)) {
    return EXIT_USAGE;
  }
  if (!receive_handshake(in)) {
    return EXIT_PROTOCOL;
  }
  // The line of every "call_result", encoded once.
  const std::optional<LineTemplate> call_result = make_call_result_template();
  if (!call_result || !announce(out)) {
    return EXIT_PROTOCOL;
  }
  return serve(in, out, *call_result);
}
