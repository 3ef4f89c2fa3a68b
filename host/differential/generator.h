// Generated conversations: what a host, a careless host and a hostile one might send an
// extension, drawn from a seed and from the extension's catalogue.
//
// Most conversations are right: a handshake, calls of the catalogue's callables within
// their arity with values of their declared input type, "shutdown". The rest go wrong in
// one or a few places: command lines of none, one, two and three words; handshakes with
// extra members; calls with the wrong arity or types, names off by case or by prefix,
// bad "arguments" and "request_id"; unknown, missing or non-string
// types; top-level arrays, strings, numbers; a second handshake; end of input anywhere;
// values of every JSON type and their edges, objects whose keys sort otherwise by UTF-16
// code unit than by byte among them; and faults of the line itself: a byte-order mark
// (on the first line and on a later one), NUL bytes (anywhere, and right after a complete
// object), invalid and overlong UTF-8, CR LF, white space between the tokens (a CR among
// it) and after them, no final line feed,
// blank lines, two objects on one line, lines of exactly the longest length and one byte
// more. These are the classes a port gets wrong, each at a rate that a few seconds meet.
//
// Integers mostly stay from 0 to 20, now and then from 50 to 300, as a callable may take
// one as a time to sleep. Calls of the sample's wait so ask for times long enough to
// measure, and very rarely for its limit, 5000 ms: time is checked as a lower bound only
// (an answer cannot come sooner than asked), which a busy machine cannot break.
#ifndef HOST_DIFFERENTIAL_GENERATOR_H_
#define HOST_DIFFERENTIAL_GENERATOR_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "differential/catalogue.h"
#include "differential/json_text.h"

struct GeneratedLine {
  std::optional<JsonText> message;  // a line built as JSON; none for raw bytes
  std::string raw;                  // a raw line's bytes
  std::string trailer;              // bytes after the message: white space, another object, a NUL
  std::string end = "\n";           // "\n", "\r\n", or "" for none
  std::string prefix;               // bytes before it: a byte-order mark
  std::string spacing;              // JSON's white space before and between the message's tokens

  [[nodiscard]] std::string render() const;
};

// A line holding `message` and a line feed.
GeneratedLine message_line(JsonText message);

struct GeneratedConversation {
  std::vector<std::string> arguments;
  std::vector<GeneratedLine> lines;
  std::string timed_callable;  // the catalogue's, whose calls are timed; "" for none

  // Every byte written to the extension's input.
  [[nodiscard]] std::string input() const;
};

// One call of the timed callable that rightly asks for a wait.
struct AskedWait {
  std::string request_id;  // as written in the call: a JSON string
  long long milliseconds = 0;
  std::size_t line = 0;  // the index of the call's line
};

// The calls of the timed callable in `conversation` that rightly ask for a wait (from 0 to
// the limit, with a string "request_id"), in their order.
std::vector<AskedWait> asked_waits(const GeneratedConversation& conversation);

// The longest line an extension takes, line feed included.
inline constexpr std::size_t LONGEST_INPUT_LINE = 1048577;

// `conversation` with its first wait that sleeps raised to `milliseconds` when it asks for
// less: an answer that comes too soon then stands out of any start-up or load.
GeneratedConversation with_longer_wait(GeneratedConversation conversation, long long milliseconds);

// The milliseconds that the calls of the timed callable in `conversation` rightly ask for,
// summed: the least time an extension needs to answer them all.
long long asked_wait_ms(const GeneratedConversation& conversation);

// Conversation number `index` of the run seeded with `seed`, its calls drawn from
// `catalogue`. The same three give the same conversation, byte for byte, on every machine
// and in any order.
GeneratedConversation generate_conversation(const Catalogue& catalogue, std::uint64_t seed,
                                            std::uint64_t index);

#endif  // HOST_DIFFERENTIAL_GENERATOR_H_
