// The eleven members of a callable descriptor, each with the JSON type it must have: what
// the session checks of an announcement, and conform too.
#ifndef HOST_CONVERSATION_DESCRIPTOR_H_
#define HOST_CONVERSATION_DESCRIPTOR_H_

#include <jansson.h>

#include <array>

struct DescriptorMember {
  const char* key;
  bool (*holds)(const json_t* value);  // whether a value has its type; false for none
  const char* type_name;               // "a string", "an integer", "a boolean"
};

extern const std::array<DescriptorMember, 11> DESCRIPTOR_MEMBERS;

#endif  // HOST_CONVERSATION_DESCRIPTOR_H_
