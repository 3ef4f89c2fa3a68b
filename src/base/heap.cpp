// The out-of-memory policy: heap_allocate ends the process when the heap refuses.
#include "base/heap.h"

#include <unistd.h>

#include "protocol/exit_status.h"

void* heap_allocate(std::size_t size) {
  void* block = take_from_heap(size);
  if (block == nullptr) {
    // _exit, not exit: stdio must not flush or run anything more; every line is out already.
    // Run by every fault-injection child, which ends right here, before coverage is saved.
    _exit(EXIT_PROTOCOL);  // GCOVR_EXCL_LINE
  }
  return block;
}

void heap_release(void* block) { give_back_to_heap(block); }
