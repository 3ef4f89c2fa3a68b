// The test build's take_from_heap: the system allocator, but for the one refused request.
#include "faults/failing_heap.h"

#include <cstdlib>

#include "base/heap.h"

namespace {

std::size_t refused = 0;
std::size_t requested = 0;
std::size_t outstanding = 0;

}  // namespace

void refuse_allocation(std::size_t k) {
  refused = k;
  requested = 0;
}

std::size_t allocations_requested() { return requested; }

std::size_t blocks_outstanding() { return outstanding; }

void* take_from_heap(std::size_t size) {
  if (++requested == refused) {
    return nullptr;
  }
  void* block = std::malloc(size == 0 ? 1 : size);  // NOLINT(cppcoreguidelines-no-malloc)
  outstanding += block != nullptr ? 1 : 0;
  return block;
}

void give_back_to_heap(void* block) {
  if (block != nullptr) {
    --outstanding;
    std::free(block);  // NOLINT(cppcoreguidelines-no-malloc)
  }
}
