// Preparing jansson: allocation functions and hash seed.
#include "main/startup.h"

#include <jansson.h>
#include <unistd.h>
#include <ctime>

#include "base/heap.h"

std::size_t seed_from_clock_and_process() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::size_t seed = static_cast<std::size_t>(now.tv_sec) ^
                           (static_cast<std::size_t>(now.tv_nsec) << 20U) ^
                           static_cast<std::size_t>(getpid());
  return seed == 0 ? 1 : seed;
}

std::size_t unpredictable_seed() {
  std::size_t seed = 0;
  const bool from_entropy = getentropy(&seed, sizeof seed) == 0 && seed != 0;
  return from_entropy ? seed : seed_from_clock_and_process();
}

void prepare_json_library() {
  json_set_alloc_funcs(heap_allocate, heap_release);
  json_object_seed(unpredictable_seed());
}
