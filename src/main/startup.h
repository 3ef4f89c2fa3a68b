// Start-up of the JSON library, once per process, before any JSON value exists.
#ifndef SAMPLE_MAIN_STARTUP_H_
#define SAMPLE_MAIN_STARTUP_H_

#include <cstddef>

// Routes jansson's allocations through heap_allocate, and seeds its hash tables so that it
// never opens /dev/urandom itself: the extension reads no files.
void prepare_json_library();

// A hash seed from the platform's entropy call, or, where that fails, from the clock and
// the process id. Never zero: jansson takes a zero seed as "seed yourself from a file".
std::size_t unpredictable_seed();

#endif  // SAMPLE_MAIN_STARTUP_H_
