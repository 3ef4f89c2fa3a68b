// Member readers for incoming messages.
#include "protocol/incoming.h"

std::optional<std::string_view> string_member(const json_t* message, const char* key) {
  const json_t* member = json_object_get(message, key);
  if (!json_is_string(member)) {
    return std::nullopt;
  }
  return std::string_view(json_string_value(member), json_string_length(member));
}

json_t* arguments_member(const json_t* call) { return json_object_get(call, "arguments"); }
