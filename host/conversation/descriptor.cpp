// The descriptor's members, and the catalogue read from them.
#include "conversation/descriptor.h"

#include <algorithm>

#include "base/json.h"
#include "text/visible.h"

namespace {

bool is_string(const json_t* value) { return json_is_string(value); }
bool is_integer(const json_t* value) { return json_is_integer(value); }
bool is_boolean(const json_t* value) { return json_is_boolean(value); }

}  // namespace

const std::array<DescriptorMember, 11> DESCRIPTOR_MEMBERS = {{
    {"name", is_string, "a string"},
    {"minimum_arity", is_integer, "an integer"},
    {"maximum_arity", is_integer, "an integer"},
    {"input", is_string, "a string"},
    {"output", is_string, "a string"},
    {"effect", is_string, "a string"},
    {"lazy", is_boolean, "a boolean"},
    {"cancel", is_boolean, "a boolean"},
    {"sendable", is_boolean, "a boolean"},
    {"action", is_boolean, "a boolean"},
    {"threading", is_string, "a string"},
}};

std::string read_catalogue(const json_t* registration, std::vector<AnnouncedCallable>* catalogue) {
  const json_t* callables = json_object_get(registration, "callables");
  if (!json_is_array(callables)) {
    return std::string("\"callables\" is ") +
           (callables == nullptr ? "missing" : json_kind(callables)) + ", not an array";
  }
  for (std::size_t index = 0; index < json_array_size(callables); ++index) {
    const json_t* descriptor = json_array_get(callables, index);
    const std::string where = "callable " + std::to_string(index + 1);
    if (!json_is_object(descriptor)) {
      return where + " is " + json_kind(descriptor) + ", not an object";
    }
    for (const DescriptorMember& member : DESCRIPTOR_MEMBERS) {
      const json_t* value = json_object_get(descriptor, member.key);
      if (!member.holds(value)) {
        return where + ": \"" + member.key + "\" is " +
               (value == nullptr ? std::string("missing")
                                 : std::string(json_kind(value)) + ", not " + member.type_name);
      }
    }
    AnnouncedCallable callable{string_member(descriptor, "name"),
                               json_integer_value(json_object_get(descriptor, "minimum_arity")),
                               json_integer_value(json_object_get(descriptor, "maximum_arity")),
                               string_member(descriptor, "input")};
    if (callable.minimum_arity < 0 || callable.minimum_arity > callable.maximum_arity) {
      return where + " (" + visible(callable.name) + "): \"minimum_arity\" " +
             std::to_string(callable.minimum_arity) + " and \"maximum_arity\" " +
             std::to_string(callable.maximum_arity) + " are no range";
    }
    if (std::any_of(catalogue->begin(), catalogue->end(), [&](const AnnouncedCallable& before) {
          return before.name == callable.name;
        })) {
      return where + " is named \"" + visible(callable.name) + "\", as one before it";
    }
    catalogue->push_back(std::move(callable));
  }
  return "";
}
