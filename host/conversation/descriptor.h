// The eleven members of a callable descriptor, each with the JSON type it must have, and
// the catalogue an announcement's "callables" make: what the session checks of an
// announcement, what conform judges, and what compare draws its calls from.
#ifndef HOST_CONVERSATION_DESCRIPTOR_H_
#define HOST_CONVERSATION_DESCRIPTOR_H_

#include <jansson.h>

#include <array>
#include <string>
#include <vector>

struct DescriptorMember {
  const char* key;
  bool (*holds)(const json_t* value);  // whether a value has its type; false for none
  const char* type_name;               // "a string", "an integer", "a boolean"
};

extern const std::array<DescriptorMember, 11> DESCRIPTOR_MEMBERS;

// One callable as the extension announced it.
struct AnnouncedCallable {
  std::string name;
  long long minimum_arity = 0;
  long long maximum_arity = 0;
  std::string input;  // the type word of its arguments: "Value", "Int", "()", ...
};

// Reads the "callables" of `registration` (a "register" message) into `*catalogue`, in
// their order. Returns "" when each is an object with the eleven members of their types,
// an arity range, and a name no callable before it has; else what is wrong with the first
// that is not, having added those before it.
std::string read_catalogue(const json_t* registration, std::vector<AnnouncedCallable>* catalogue);

#endif  // HOST_CONVERSATION_DESCRIPTOR_H_
