// Member readers for incoming messages.
#include "protocol/incoming.h"

namespace {

std::optional<std::string_view> string_text(const json_t* member) {
  if (!json_is_string(member)) {
    return std::nullopt;
  }
  return text_of(member);
}

}  // namespace

MessageMembers read_members(json_t* message) {
  MessageMembers members;
  // The parser refuses a key that occurs twice, so each key is met at most once.
  for (void* member = json_object_iter(message); member != nullptr;
       member = json_object_iter_next(message, member)) {
    const std::string_view key(json_object_iter_key(member), json_object_iter_key_len(member));
    json_t* value = json_object_iter_value(member);
    if (key == "type") {
      members.type = string_text(value);
    } else if (key == "request_id") {
      members.request_id = json_is_string(value) ? value : nullptr;
    } else if (key == "callable") {
      members.callable = string_text(value);
    } else if (key == "arguments") {
      members.arguments = value;
    }
  }
  return members;
}
