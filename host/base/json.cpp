// Writing a message as the host sends it.
#include "base/json.h"

#include <cstdlib>

std::string encode_as_written(const json_t* value) {
  char* text =
      json_dumps(value, JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS | JSON_ENCODE_ANY);
  std::string written = text != nullptr ? text : "";
  free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
  return written;
}

std::string encode_line(const json_t* message) {
  char* text = json_dumps(message, JSON_COMPACT);
  std::string line = text != nullptr ? text : "";
  free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
  return line + "\n";
}
