// Generated conversations: what a host, a careless host and a hostile one might send an
// extension, drawn from a seed.
//
// Most conversations are right: a handshake, calls of the three callables, "shutdown".
// The rest go wrong in one or a few places: command lines, handshakes with extra
// members, calls with the wrong arity or types, names off by case or by prefix, bad
// "arguments" and "request_id", unknown or non-string types, a second handshake, end of
// input anywhere; values of every JSON type and their edges; and faults of the line
// itself: NUL bytes, invalid UTF-8, CR LF, trailing white space, no final line feed,
// blank lines, two objects on one line, lines of exactly the longest length and one byte
// more. Calls of "sample.wait" ask for 0 to 20 ms, so that time makes no difference.
#ifndef HOST_DIFFERENTIAL_GENERATOR_H_
#define HOST_DIFFERENTIAL_GENERATOR_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "differential/json_text.h"

struct GeneratedLine {
  std::optional<JsonText> message;  // a line built as JSON; none for raw bytes
  std::string raw;                  // a raw line's bytes
  std::string trailer;              // bytes after the message: white space, another object
  std::string end = "\n";           // "\n", "\r\n", or "" for none

  [[nodiscard]] std::string render() const;
};

struct GeneratedConversation {
  std::vector<std::string> arguments;
  std::vector<GeneratedLine> lines;

  // Every byte written to the extension's input.
  [[nodiscard]] std::string input() const;
};

// The longest line an extension takes, line feed included.
inline constexpr std::size_t LONGEST_INPUT_LINE = 1048577;

// The milliseconds that the calls of "sample.wait" in `conversation` rightly ask for
// (from 0 to the limit), summed: the least time an extension needs to answer them all.
long long asked_wait_ms(const GeneratedConversation& conversation);

// Conversation number `index` of the run seeded with `seed`. The same pair gives the same
// conversation, byte for byte, on every machine and in any order.
GeneratedConversation generate_conversation(std::uint64_t seed, std::uint64_t index);

#endif  // HOST_DIFFERENTIAL_GENERATOR_H_
