// The program's source of memory: the C library's allocator.
#include <cstdlib>

#include "base/heap.h"

void* take_from_heap(std::size_t size) {
  // malloc(0) may lawfully return null; ask for one byte so that null always means refusal.
  return std::malloc(size == 0 ? 1 : size);  // NOLINT(cppcoreguidelines-no-malloc)
}

void give_back_to_heap(void* block) {
  std::free(block);  // NOLINT(cppcoreguidelines-no-malloc)
}
