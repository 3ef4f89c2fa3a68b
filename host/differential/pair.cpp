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
  if (observed.ran_on_closed) {
    return "killed at the deadline, having closed its output and run on";
  }
  return observed.timed_out ? "killed at the deadline" : describe(observed.termination);
}

// How a side that wrote nothing after the handshake line spent the host's wait, in words.
std::string unannounced(const Observed& side) {
  const std::string as_hosts_do = " while the host awaited its announcement, as hosts do";
  if (side.ran_on_closed) {
    return "closed its output without a word, and ran on";
  }
  if (side.announcement_wait == Awaited::kAsleep) {
    return side.took_first_line
               ? "read the handshake line, then wrote nothing and slept" + as_hosts_do +
                     ": is each line it writes flushed at once?"
               : "wrote nothing, nor read its input: all its processes slept" + as_hosts_do;
  }
  if (side.announcement_wait == Awaited::kEnded) {
    return "ended its output without a word while the host awaited its announcement";
  }
  if (side.announcement_wait == Awaited::kTimedOut) {
    return "wrote nothing in " + std::to_string(ANNOUNCEMENT_ALLOWANCE.count()) + " ms of work" +
           as_hosts_do;
  }
  return "wrote nothing" + as_hosts_do + ": is each line it writes flushed at once?";
}

}  // namespace

std::optional<Probe> wait_probe(const GeneratedConversation& conversation) {
  // The first wait that sleeps at all: no earlier one is queued before it.
  const std::vector<AskedWait> waits = asked_waits(conversation);
  const auto first = std::find_if(waits.begin(), waits.end(),
                                  [](const AskedWait& wait) { return wait.milliseconds > 0; });
  if (first == waits.end()) {
    return std::nullopt;
  }
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < first->line; ++i) {
    line_start += conversation.lines[i].render().size();
  }
  return wait_probe_at(line_start, line_start + conversation.lines[first->line].render().size(),
                       first->request_id, first->milliseconds);
}

std::size_t kept_output_for(std::size_t input_bytes) { return 6 * input_bytes + KEPT_OUTPUT_FLOOR; }

std::optional<Pair> play_both(const Contestants& contestants,
                              const GeneratedConversation& conversation,
                              std::chrono::milliseconds timeout, Clock::time_point deadline) {
  using std::chrono::milliseconds;
  const Clock::time_point started = Clock::now();
  const milliseconds play = timeout + milliseconds(asked_wait_ms(conversation));
  const Clock::time_point ends = started + ANNOUNCEMENT_ALLOWANCE + play;
  const Clock::time_point cut = std::min(deadline, ends);
  if (cut <= started) {
    return std::nullopt;
  }
  const auto room = std::chrono::duration_cast<milliseconds>(cut - started);
  const milliseconds allowed = std::min(play, room);
  const milliseconds start_allowance = std::min(ANNOUNCEMENT_ALLOWANCE, room);
  const std::string input = conversation.input();
  const std::size_t kept = kept_output_for(input.size());
  Pair pair;
  pair.probe = wait_probe(conversation);
  const std::optional<Probe>& probe = pair.probe;
  // Each side announces itself, or ends, after the first line alone, as a host waits; and
  // its start, however slow, is not counted against it.
  const std::size_t first_line_end = input.find('\n');
  const HandshakeWait handshake{
      first_line_end == std::string::npos ? input.size() : first_line_end + 1, "", start_allowance};
  // Most of a conversation's time is spent waiting on the two processes, not working.
  std::thread reference([&] {
    pair.reference = observe(contestants.reference, *contestants.reference_sandbox,
                             conversation.arguments, input, allowed, kept, probe, handshake);
  });
  pair.candidate = observe(contestants.candidate, *contestants.candidate_sandbox,
                           conversation.arguments, input, allowed, kept, probe, handshake);
  reference.join();
  // A side cut short by the end of the search, killed or still starting, tells nothing.
  const auto cut_off = [](const Observed& side) {
    return side.timed_out || side.announcement_wait == Awaited::kTimedOut;
  };
  const bool cut_short =
      cut < ends && Clock::now() >= cut && (cut_off(pair.reference) || cut_off(pair.candidate));
  if (cut_short) {
    return std::nullopt;
  }
  return pair;
}

std::vector<Aspect> differences(const Pair& pair, const GeneratedConversation& conversation) {
  const Observed& mine = pair.reference;
  const Observed& theirs = pair.candidate;
  std::vector<Aspect> aspects;
  if (mine.output != theirs.output || mine.output_total != theirs.output_total) {
    aspects.push_back(
        {"standard output",
         first_difference(mine.output, theirs.output, theirs.output_total,
                          {"reference", "candidate", "from the reference", "from the candidate"})});
  }
  if (ending_of(mine) != ending_of(theirs)) {
    aspects.push_back({"ending", "the reference's " + ending_of(mine) + ", the candidate's " +
                                     ending_of(theirs)});
  }
  if (mine.written_while_awaited > std::size_t{0} &&
      theirs.written_while_awaited == std::size_t{0}) {
    aspects.push_back({"announcement",
                       "the reference announced itself after the handshake line "
                       "alone; the candidate " +
                           unannounced(theirs)});
  }
  if (mine.error_bytes != theirs.error_bytes || mine.error_head != theirs.error_head) {
    const auto wrote = [](const Observed& side) {
      return side.error_bytes == 0 ? std::string("nothing")
                                   : std::to_string(side.error_bytes) + " bytes, \"" +
                                         visible_prefix(side.error_head, 120) + "\"";
    };
    aspects.push_back({"standard error",
                       "the reference wrote " + wrote(mine) + "; the candidate " + wrote(theirs)});
  }
  // The waits each side answered, each of which took it at least its milliseconds.
  const std::vector<AskedWait> waits = asked_waits(conversation);
  const auto answered_ms = [&](const Observed& side) {
    long long total = 0;
    for (const AskedWait& wait : waits) {
      if (side.output.find(wait_answer(wait.request_id, wait.milliseconds)) != std::string::npos) {
        total += wait.milliseconds;
      }
    }
    return total;
  };
  for (const auto& [side, observed] : {std::pair{"reference", &mine}, {"candidate", &theirs}}) {
    const std::string too_soon = pair.probe ? answered_too_soon(*pair.probe, *observed) : "";
    const long long answered = answered_ms(*observed);
    if (!too_soon.empty()) {
      aspects.push_back({"time", std::string("the ") + side + " " + too_soon});
    } else if (observed->started && !observed->timed_out && observed->elapsed.count() < answered) {
      aspects.push_back({"time", std::string("the ") + side + " ended " +
                                     std::to_string(observed->elapsed.count()) +
                                     " ms after it started, sooner than the " +
                                     std::to_string(answered) +
                                     " ms that the waits it answered asked for"});
    }
  }
  return aspects;
}

std::string describe(const std::vector<Aspect>& aspects) {
  std::string text;
  for (const Aspect& aspect : aspects) {
    text += "  " + aspect.name + ": " + continued(aspect.detail, "  ") + "\n";
  }
  return text;
}

bool killed_at_the_deadline(const Pair& pair) {
  return pair.reference.timed_out || pair.candidate.timed_out;
}
