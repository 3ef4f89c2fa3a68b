// Playing both sides at once, and telling where they part.
#include "differential/pair.h"

#include <algorithm>
#include <thread>

#include "text/difference.h"
#include "text/visible.h"

namespace {

// The fixed lines and envelopes an honest extension adds to what it echoes.
constexpr std::size_t KEPT_OUTPUT_FLOOR = std::size_t{64} << 10U;

std::string ending_of(const Observed& observed) {
  if (!observed.started) {
    return "not started (" + observed.start_error + ")";
  }
  return observed.timed_out ? "killed at the deadline" : describe(observed.termination);
}

}  // namespace

std::size_t kept_output_for(std::size_t input_bytes) { return 6 * input_bytes + KEPT_OUTPUT_FLOOR; }

std::optional<Pair> play_both(const Contestants& contestants,
                              const GeneratedConversation& conversation,
                              std::chrono::milliseconds timeout, Clock::time_point deadline) {
  const Clock::time_point started = Clock::now();
  const Clock::time_point ends =
      started + timeout + std::chrono::milliseconds(asked_wait_ms(conversation));
  const Clock::time_point cut = std::min(deadline, ends);
  if (cut <= started) {
    return std::nullopt;
  }
  const auto allowed = std::chrono::duration_cast<std::chrono::milliseconds>(cut - started);
  const std::string input = conversation.input();
  const std::size_t kept = kept_output_for(input.size());
  Pair pair;
  // Most of a conversation's time is spent waiting on the two processes, not working.
  std::thread reference([&] {
    pair.reference = observe(contestants.reference, conversation.arguments, input, allowed, kept);
  });
  pair.candidate = observe(contestants.candidate, conversation.arguments, input, allowed, kept);
  reference.join();
  const bool cut_short = cut < ends && (pair.reference.timed_out || pair.candidate.timed_out);
  if (cut_short) {
    return std::nullopt;
  }
  return pair;
}

std::string difference(const Pair& pair) {
  const Observed& mine = pair.reference;
  const Observed& theirs = pair.candidate;
  if (mine.output != theirs.output || mine.output_total != theirs.output_total) {
    return "standard output: " + first_difference(mine.output, theirs.output, theirs.output_total) +
           " (expected: the reference's)";
  }
  if (ending_of(mine) != ending_of(theirs)) {
    return "ending: the reference's " + ending_of(mine) + ", the candidate's " + ending_of(theirs);
  }
  if (mine.error_bytes != theirs.error_bytes || mine.error_head != theirs.error_head) {
    return "standard error: the reference wrote " + std::to_string(mine.error_bytes) +
           " bytes, the candidate " + std::to_string(theirs.error_bytes) + ", starting \"" +
           visible_prefix(theirs.error_head, 120) + "\"";
  }
  return "";
}
