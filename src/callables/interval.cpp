// Milliseconds to the platform's interval record.
#include "callables/sleep.h"

timespec interval_of(json_int_t milliseconds) {
  timespec interval{};
  interval.tv_sec = static_cast<time_t>(milliseconds / 1000);
  interval.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
  return interval;
}
