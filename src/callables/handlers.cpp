// The three handlers: echo returns its argument, fail always fails, wait sleeps first.
#include "callables/handlers.h"

#include "callables/catalogue.h"
#include "callables/sleep.h"

namespace {

constexpr CallOutcome VIOLATION{CallOutcome::Kind::kViolation, nullptr};

// The sole argument of a one-argument call, or null when there is not exactly one.
json_t* sole_argument(const json_t* arguments) {
  return json_array_size(arguments) == 1 ? json_array_get(arguments, 0) : nullptr;
}

CallOutcome echo(const json_t* arguments) {
  json_t* argument = sole_argument(arguments);
  if (argument == nullptr) {
    return VIOLATION;
  }
  return {CallOutcome::Kind::kValue, argument};
}

CallOutcome wait(const json_t* arguments) {
  json_t* argument = sole_argument(arguments);
  // json_is_integer is false for reals: 5.0 is not a number of milliseconds here.
  if (!json_is_integer(argument)) {
    return VIOLATION;
  }
  const json_int_t milliseconds = json_integer_value(argument);
  if (milliseconds < 0 || milliseconds > WAIT_LIMIT_MS) {
    return VIOLATION;
  }
  sleep_milliseconds(milliseconds);
  return {CallOutcome::Kind::kValue, argument};
}

}  // namespace

CallOutcome handle_call(std::string_view callable, const json_t* arguments) {
  if (callable == CALLABLE_FAIL) {
    return {CallOutcome::Kind::kFixedError, nullptr};
  }
  if (callable == CALLABLE_ECHO) {
    return echo(arguments);
  }
  if (callable == CALLABLE_WAIT) {
    return wait(arguments);
  }
  return VIOLATION;
}
