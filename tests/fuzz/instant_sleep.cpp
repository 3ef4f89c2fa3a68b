// The fuzzing build's sleep: returns at once, so "sample.wait" costs the fuzzer nothing.
#include "callables/sleep.h"

void sleep_milliseconds(json_int_t /*milliseconds*/) {}
