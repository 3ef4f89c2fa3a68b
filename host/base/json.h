// The host's handle on a jansson value, and the one way it writes a message.
#ifndef HOST_BASE_JSON_H_
#define HOST_BASE_JSON_H_

#include <jansson.h>

#include <memory>
#include <string>

struct JsonDeleter {
  void operator()(json_t* value) const { json_decref(value); }
};
// One owned reference to a jansson value; null when empty.
using Json = std::unique_ptr<json_t, JsonDeleter>;

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
