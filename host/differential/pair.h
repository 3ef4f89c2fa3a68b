// One generated conversation played against a reference and a candidate side by side,
// and what differs between the two.
#ifndef HOST_DIFFERENTIAL_PAIR_H_
#define HOST_DIFFERENTIAL_PAIR_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "conversation/play.h"
#include "differential/generator.h"

// The two extensions compared, as their command lines before a conversation's arguments.
struct Contestants {
  std::vector<std::string> reference;
  std::vector<std::string> candidate;
  // Where each runs: the same view and bounds, each its own environment. Not owned.
  // REQUIRES: both set.
  const Sandbox* reference_sandbox = nullptr;
  const Sandbox* candidate_sandbox = nullptr;
};

struct Pair {
  Observed reference;
  Observed candidate;
  std::optional<Probe> probe;  // the wait both were timed at, if any
};

// How long a conversation may take beyond the waits it asks for, before both sides are
// killed: long enough for a busy machine, short enough that a candidate that hangs is
// found in seconds.
inline constexpr std::chrono::milliseconds DEFAULT_PLAY_TIMEOUT{2000};

// How much of each side's output is kept for a conversation whose input is `input_bytes`
// long: more than any honest extension writes for it (each input byte written as at most
// six, and the fixed lines), so memory is bounded by the work, not by what is written.
std::size_t kept_output_for(std::size_t input_bytes);

// The wait to time in `conversation`, when it has one worth timing: the first that sleeps,
// timed from the moment its call is all written (see Probe).
std::optional<Probe> wait_probe(const GeneratedConversation& conversation);

// Plays `conversation` against both at once, each timed at its wait probe, each killed after
// `timeout` and the waits the conversation asks for, or at `deadline`, whichever comes first.
// Returns none when the deadline cut a side short, as such a play tells nothing.
std::optional<Pair> play_both(const Contestants& contestants,
                              const GeneratedConversation& conversation,
                              std::chrono::milliseconds timeout, Clock::time_point deadline);

// One way in which the two sides differ: "standard output", "ending", "standard error" or
// "time", and how, in words (possibly over several lines).
struct Aspect {
  std::string name;
  std::string detail;
};

// Every way in which the two sides differ, in that order; empty when they do not. Time is
// a lower bound: a side that ended sooner than the waits it answered asked for differs,
// whatever the machine's load; a slow one never does.
std::vector<Aspect> differences(const Pair& pair, const GeneratedConversation& conversation);

// The aspects as lines for people: each "  NAME: DETAIL", its further lines indented.
std::string describe(const std::vector<Aspect>& aspects);

// Whether one side was killed at the deadline: a difference that a busy machine can make.
bool killed_at_the_deadline(const Pair& pair);

#endif  // HOST_DIFFERENTIAL_PAIR_H_
