// The call handler: runs one call of a catalogue callable and says how to answer it.
#ifndef SAMPLE_CALLABLES_HANDLERS_H_
#define SAMPLE_CALLABLES_HANDLERS_H_

#include <jansson.h>

#include <string_view>

// The longest wait "sample.wait" accepts, in milliseconds.
inline constexpr json_int_t WAIT_LIMIT_MS = 5000;

struct CallOutcome {
  enum class Kind {
    kValue,       // answer with a "call_result" carrying `value`
    kFixedError,  // answer with the sample error
    kViolation,   // the call is malformed: end the conversation, answer nothing
  };
  Kind kind;
  // With kValue: an element of the call's arguments array, still owned by the array. The
  // reply takes its own reference when it shares it. Null otherwise.
  json_t* value;
};

// Runs the call of `callable` with `arguments`, blocking for "sample.wait".
// "sample.fail" accepts any arguments; "sample.echo" takes exactly one argument of any
// type; "sample.wait" exactly one integer from 0 to WAIT_LIMIT_MS. Anything else, and any
// other name, is a violation. Neither keeps nor releases `arguments`.
// REQUIRES: json_is_array(arguments).
CallOutcome handle_call(std::string_view callable, const json_t* arguments);

#endif  // SAMPLE_CALLABLES_HANDLERS_H_
