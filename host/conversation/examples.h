// Calls made up from a catalogue: the demo's script and the examples that hints show, in
// the extension's own names and types, so that neither assumes the sample.
#ifndef HOST_CONVERSATION_EXAMPLES_H_
#define HOST_CONVERSATION_EXAMPLES_H_

#include <string>
#include <vector>

#include "conversation/calls.h"
#include "conversation/descriptor.h"

// One call of each callable of `catalogue`, in its order, each with the fewest arguments
// it takes (one at least, where it takes any) and a value that shows its type off: text
// outside ASCII for a string, a nested object for any value, 300 for an integer (the
// sample's wait sleeps that long). A callable that would take more arguments than a
// demo shows is left out.
std::vector<Call> demo_calls(const std::vector<AnnouncedCallable>& catalogue);

// "NAME JSON_ARRAY" of a short call of the first callable of `catalogue` that one can be
// made of: `forecast.today ["hi"]`. "NAME JSON_ARRAY" itself when none can.
std::string example_call(const std::vector<AnnouncedCallable>& catalogue);

#endif  // HOST_CONVERSATION_EXAMPLES_H_
