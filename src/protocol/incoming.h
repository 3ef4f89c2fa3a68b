// Readers of the members the extension takes from the host's messages.
#ifndef SAMPLE_PROTOCOL_INCOMING_H_
#define SAMPLE_PROTOCOL_INCOMING_H_

#include <jansson.h>

#include <optional>
#include <string_view>

// The members of an incoming message that the driver reads; every other member is
// ignored. All are owned by the message and live as long as it does.
struct MessageMembers {
  std::optional<std::string_view> type;      // none when missing or not a string
  std::optional<std::string_view> callable;  // none when missing or not a string
  // The "request_id" string; null when missing or not a string.
  json_t* request_id = nullptr;
  // Null when missing; whether it is an array is the caller's to test.
  json_t* arguments = nullptr;
};

// Reads the members of `message` in one pass over them, which costs less than looking
// each key up in the message's hash table. REQUIRES: `message` is an object.
MessageMembers read_members(json_t* message);

// The text of a string member found by read_members.
// REQUIRES: `string` is a JSON string.
inline std::string_view text_of(const json_t* string) {
  return {json_string_value(string), json_string_length(string)};
}

#endif  // SAMPLE_PROTOCOL_INCOMING_H_
