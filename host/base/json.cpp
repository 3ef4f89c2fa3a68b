// Writing a message as the host sends it, and naming a value's type.
#include "base/json.h"

#include <cstdlib>

std::string encode_as_written(const json_t* value) {
  char* text =
      json_dumps(value, JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS | JSON_ENCODE_ANY);
  std::string written = text != nullptr ? text : "";
  free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
  return written;
}

Json parse_line(std::string_view line, json_error_t* error) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
  }
  return Json(json_loadb(line.data(), line.size(), JSON_REJECT_DUPLICATES, error));
}

std::string encode_line(const json_t* message) {
  char* text = json_dumps(message, JSON_COMPACT);
  std::string line = text != nullptr ? text : "";
  free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
  return line + "\n";
}

const char* json_kind(const json_t* value) {
  if (value == nullptr) {
    return "missing";
  }
  switch (json_typeof(value)) {
    case JSON_OBJECT:
      return "an object";
    case JSON_ARRAY:
      return "an array";
    case JSON_STRING:
      return "a string";
    case JSON_INTEGER:
      return "an integer";
    case JSON_REAL:
      return "a real";
    case JSON_TRUE:
    case JSON_FALSE:
      return "a boolean";
    case JSON_NULL:
      return "null";
  }
  return "a value";
}

std::string string_member(const json_t* object, const char* key) {
  const json_t* member = json_object_get(object, key);
  return json_is_string(member) ? std::string(json_string_value(member), json_string_length(member))
                                : std::string();
}
