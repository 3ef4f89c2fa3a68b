// The extension's only way to the heap.
//
// jansson is given these two functions at start-up, and the read buffer is taken through
// them too, so one policy covers every allocation: when the heap refuses, the process ends
// at once with EXIT_PROTOCOL and writes nothing more. Going on is not an option, because
// some of jansson's own out-of-memory paths are unsound (a failed allocation inside the
// parser can alter a number or overrun a buffer), and a message built with a member missing
// must never reach the host. Every outgoing line is flushed as it is written, so ending
// without flushing loses nothing.
#ifndef SAMPLE_BASE_HEAP_H_
#define SAMPLE_BASE_HEAP_H_

#include <cstddef>

// Returns a block of at least `size` bytes, owned by the caller until heap_release.
// Never returns null: if no memory is to be had, the process ends with EXIT_PROTOCOL.
void* heap_allocate(std::size_t size);

// Gives back a block from heap_allocate; null is allowed and does nothing.
void heap_release(void* block);

// The seam under heap_allocate: the raw source of memory, null when the heap refuses.
// The program links the system's allocator here; the fault-injection tests link one that
// refuses the k-th request.
void* take_from_heap(std::size_t size);
void give_back_to_heap(void* block);

#endif  // SAMPLE_BASE_HEAP_H_
