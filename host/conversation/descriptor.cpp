// The descriptor's members.
#include "conversation/descriptor.h"

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
