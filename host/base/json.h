// The host's handle on a jansson value, and the one way it writes a message.
#ifndef HOST_BASE_JSON_H_
#define HOST_BASE_JSON_H_

#include <jansson.h>

#include <memory>
#include <string>
#include <string_view>

struct JsonDeleter {
  void operator()(json_t* value) const { json_decref(value); }
};
// One owned reference to a jansson value; null when empty.
using Json = std::unique_ptr<json_t, JsonDeleter>;

// One line of the protocol read as the protocol's channel reads it: one JSON value, a
// duplicate key refused anywhere in it, \u0000 refused, nothing after it. A line feed
// at its end is not part of it. Returns none when it is not such a value, with why in
// `*error` (if not null). Every reader of an extension's lines reads them here, so that
// none takes what another refuses.
Json parse_line(std::string_view line, json_error_t* error = nullptr);

// `message` as one compact line with its line feed.
std::string encode_line(const json_t* message);

// `value` as the extension writes it: compact, every character outside ASCII escaped.
std::string encode_as_written(const json_t* value);

// The JSON type of `value` in words, as messages name it: "an object", "an integer", "a
// boolean", "null", ...; "missing" for no value.
const char* json_kind(const json_t* value);

// The bytes of the string member `key` of `object`, NULs included; "" when it is missing,
// no string, or `object` is no object.
std::string string_member(const json_t* object, const char* key);

#endif  // HOST_BASE_JSON_H_
