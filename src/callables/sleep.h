// The one blocking wait of the extension, behind a link-time seam: the fuzzing build links
// a version that returns at once.
#ifndef SAMPLE_CALLABLES_SLEEP_H_
#define SAMPLE_CALLABLES_SLEEP_H_

#include <jansson.h>
#include <ctime>

// The interval of `milliseconds` as nanosleep takes it: whole seconds in tv_sec, the rest
// in tv_nsec, always below one second. REQUIRES: milliseconds >= 0.
timespec interval_of(json_int_t milliseconds);

// Sleeps `milliseconds` in full: a signal that interrupts the sleep does not shorten it,
// the time still left is slept again. Any other failure of the sleep ends it early,
// silently. REQUIRES: 0 <= milliseconds <= WAIT_LIMIT_MS.
void sleep_milliseconds(json_int_t milliseconds);

#endif  // SAMPLE_CALLABLES_SLEEP_H_
