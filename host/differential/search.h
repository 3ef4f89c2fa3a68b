// The search for a difference: generated conversations played against both sides, many
// at once, in order; each difference played again before it counts.
#ifndef HOST_DIFFERENTIAL_SEARCH_H_
#define HOST_DIFFERENTIAL_SEARCH_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "differential/pair.h"

struct SearchSettings {
  const Catalogue* catalogue = nullptr;  // what the calls are drawn from; not owned. REQUIRES: set
  std::uint64_t seed = 1;
  std::optional<std::uint64_t> conversations;          // how many to play, when not bounded by time
  Clock::time_point until = Clock::time_point::max();  // no conversation starts after
  Clock::time_point confirm_until = Clock::time_point::max();  // a second play ends by then
  std::chrono::milliseconds timeout = DEFAULT_PLAY_TIMEOUT;
  std::size_t jobs = 1;
};

// A conversation that differed when first played and not when played again.
struct Unsteady {
  std::uint64_t index = 0;
  std::vector<Aspect> first_play;  // how it differed the first time
  bool at_the_deadline = false;    // one side was killed at the deadline the first time
  Observed reference;              // the reference's first play
};

struct SearchResult {
  std::uint64_t played = 0;                      // conversations played whole
  std::optional<std::uint64_t> first_different;  // the lowest-numbered one that differs twice
  std::vector<Aspect> confirmed;                 // how it differed the second time
  bool confirmed_at_the_deadline = false;        // one side was killed at the deadline then
  std::vector<Unsteady> unsteady;                // in their order
  double seconds = 0;
};

// Plays conversations 0, 1, 2, ... of the seed against both sides until one differs twice,
// the count is played, or `until`. Conversations start in order on `jobs` threads (one
// that waits a second or more on a lane of its own beside them) and none starts after a
// difference is confirmed, so the first difference is the lowest-numbered one.
SearchResult search(const Contestants& contestants, const SearchSettings& settings);

#endif  // HOST_DIFFERENTIAL_SEARCH_H_
