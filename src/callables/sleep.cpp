// The real sleep of "sample.wait".
#include <cerrno>

#include "callables/sleep.h"

void sleep_milliseconds(json_int_t milliseconds) {
  timespec remaining = interval_of(milliseconds);
  // On EINTR nanosleep has written the time still to sleep into `remaining`.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}
