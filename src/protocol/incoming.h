// Readers of the members the extension takes from the host's messages.
#ifndef SAMPLE_PROTOCOL_INCOMING_H_
#define SAMPLE_PROTOCOL_INCOMING_H_

#include <jansson.h>

#include <optional>
#include <string_view>

// The text of the string member `key` of `message`; none when the member is missing or
// not a string. The text is owned by `message` and lives as long as it does.
std::optional<std::string_view> string_member(const json_t* message, const char* key);

// The "arguments" member of a call, still owned by the call; null when it is missing.
// Whether it is an array is the caller's to test.
json_t* arguments_member(const json_t* call);

#endif  // SAMPLE_PROTOCOL_INCOMING_H_
