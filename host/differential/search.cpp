// A pool of workers over the conversations' numbers.
#include "differential/search.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace {

// A conversation that asks for this much waiting is played in a lane of its own, beside
// the others, so that its sleep holds up no worker: it costs the search nothing.
constexpr long long SLOW_LANE_MS = 1000;
constexpr std::size_t SLOW_LANES = 32;

}  // namespace

SearchResult search(const Contestants& contestants, const SearchSettings& settings) {
  const Clock::time_point started = Clock::now();
  SearchResult result;
  std::mutex mutex;
  std::uint64_t next = 0;
  std::atomic<bool> stop = false;
  std::vector<std::thread> slow_lanes;
  // Plays one conversation, twice when it differs, and notes what it showed.
  const auto judge = [&](std::uint64_t index, const GeneratedConversation& conversation) {
    const std::optional<Pair> pair =
        play_both(contestants, conversation, settings.timeout, settings.until);
    std::vector<Aspect> first = pair ? differences(*pair, conversation) : std::vector<Aspect>{};
    // Played again before it counts: a difference that does not recur is told apart.
    std::optional<Pair> again;
    if (!first.empty()) {
      again = play_both(contestants, conversation, settings.timeout, settings.confirm_until);
    }
    std::vector<Aspect> second = again ? differences(*again, conversation) : std::vector<Aspect>{};
    const bool recurred = !second.empty();
    const std::lock_guard lock(mutex);
    result.played += pair ? 1U : 0U;
    if (!first.empty() && again && !recurred) {
      result.unsteady.push_back(
          {index, std::move(first), killed_at_the_deadline(*pair), pair->reference});
    }
    if (recurred && (!result.first_different || index < *result.first_different)) {
      result.first_different = index;
      result.confirmed = std::move(second);
      result.confirmed_at_the_deadline = killed_at_the_deadline(*again);
      stop = true;
    }
  };
  const auto work = [&] {
    for (;;) {
      std::uint64_t index = 0;
      {
        const std::lock_guard lock(mutex);
        if (stop || (settings.conversations && next >= *settings.conversations) ||
            Clock::now() >= settings.until) {
          return;
        }
        index = next++;
      }
      GeneratedConversation conversation =
          generate_conversation(*settings.catalogue, settings.seed, index);
      if (asked_wait_ms(conversation) >= SLOW_LANE_MS) {
        const std::lock_guard lock(mutex);
        if (slow_lanes.size() < SLOW_LANES) {
          slow_lanes.emplace_back(judge, index, std::move(conversation));
          continue;
        }
      }
      judge(index, conversation);
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < settings.jobs; ++i) {
    workers.emplace_back(work);
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  // No worker is left to start a lane now.
  for (std::thread& lane : slow_lanes) {
    lane.join();
  }
  std::sort(result.unsteady.begin(), result.unsteady.end(),
            [](const Unsteady& a, const Unsteady& b) { return a.index < b.index; });
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return result;
}
