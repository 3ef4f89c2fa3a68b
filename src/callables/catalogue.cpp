// The callable descriptors. The flags and type words are declarations for the host: the
// extension itself never acts on them.
#include "callables/catalogue.h"

#include <jansson.h>

namespace {

struct Descriptor {
  const char* name;
  int minimum_arity;
  int maximum_arity;
  const char* input;
  const char* output;
  const char* effect;
  bool lazy;
  bool cancel;
  bool sendable;
  bool action;
};

constexpr Descriptor CATALOGUE[] = {
    {CALLABLE_ECHO, 1, 1, "Value", "Value", "none", false, false, true, false},
    {CALLABLE_FAIL, 0, 0, "()", "Never", "custom", false, false, true, true},
    {CALLABLE_WAIT, 1, 1, "Int", "Int", "none", false, true, true, false},
};

constexpr char THREADING[] = "isolated_process";

JsonRef build_descriptor(const Descriptor& row) {
  return JsonRef::adopt(
      json_pack("{s:s,s:i,s:i,s:s,s:s,s:s,s:b,s:b,s:b,s:b,s:s}", "name", row.name, "minimum_arity",
                row.minimum_arity, "maximum_arity", row.maximum_arity, "input", row.input, "output",
                row.output, "effect", row.effect, "lazy", static_cast<int>(row.lazy), "cancel",
                static_cast<int>(row.cancel), "sendable", static_cast<int>(row.sendable), "action",
                static_cast<int>(row.action), "threading", THREADING));
}

}  // namespace

JsonRef build_catalogue() {
  JsonRef callables = JsonRef::adopt(json_array());
  bool whole = static_cast<bool>(callables);
  for (const Descriptor& row : CATALOGUE) {
    JsonRef descriptor = build_descriptor(row);
    whole =
        whole && descriptor && json_array_append_new(callables.get(), descriptor.release()) == 0;
  }
  return whole ? std::move(callables) : JsonRef();
}
