// Start-up of the JSON library, once per process, before any JSON value exists.
#ifndef SAMPLE_MAIN_STARTUP_H_
#define SAMPLE_MAIN_STARTUP_H_

#include <cstddef>

// Routes jansson's allocations through heap_allocate, and seeds its hash tables so that it
// never opens /dev/urandom itself: the extension reads no files.
void prepare_json_library();

// A hash seed from the platform's entropy call, or, where that fails, from
// seed_from_clock_and_process. Never zero: jansson takes a zero seed as "seed yourself
// from a file".
std::size_t unpredictable_seed();

// The fallback seed: the clock and the process id mixed. Never zero.
std::size_t seed_from_clock_and_process();

#endif  // SAMPLE_MAIN_STARTUP_H_
