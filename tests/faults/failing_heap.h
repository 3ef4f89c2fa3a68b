// A source of memory for tests that refuses one chosen request, and counts the blocks
// still given out, so that a finished conversation can be shown to have released all.
#ifndef TESTS_FAULTS_FAILING_HEAP_H_
#define TESTS_FAULTS_FAILING_HEAP_H_

#include <cstddef>

// From now on, refuse the `k`-th request (counting from 1); 0 refuses none.
void refuse_allocation(std::size_t k);

// Requests made since refuse_allocation.
std::size_t allocations_requested();

// Blocks given out and not yet given back.
std::size_t blocks_outstanding();

#endif  // TESTS_FAULTS_FAILING_HEAP_H_
