// Hostile lines: calls made to cost the extension the most time and memory that one line
// within its limit can. Each value fills its call line up to LONGEST_LINE, and is built
// from the parts that cost the parser and the encoder most per byte: small containers,
// each a heap block or more; keys to hash, check for duplicates and sort; nesting to the
// parser's depth limit; escapes to decode and encode again.
#ifndef BENCH_DRIVER_HOSTILE_H_
#define BENCH_DRIVER_HOSTILE_H_

#include <cstddef>
#include <vector>

#include "workload.h"

// The deepest a value may nest inside a call: the parser takes 2,048 levels, and the call
// object and its "arguments" array are two of them.
inline constexpr std::size_t DEEPEST_ARGUMENT = 2046;

// Every hostile workload, `calls` calls each, with values of at most `bytes` bytes of text.
// Each workload's name says what its value holds.
std::vector<Workload> hostile_workloads(std::size_t bytes, std::size_t calls);

#endif  // BENCH_DRIVER_HOSTILE_H_
