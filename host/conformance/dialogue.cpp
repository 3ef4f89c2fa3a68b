// Holding a dialogue through the child's pipes.
#include "conformance/dialogue.h"

#include <algorithm>

#include "conversation/play.h"

namespace {

// Far more than any honest extension writes in a dialogue of conform: a catalogue of
// thousands of callables, and answers that echo what was sent.
constexpr std::size_t KEPT_OUTPUT = std::size_t{8} << 20U;

Stall stall_of(Awaited awaited) {
  switch (awaited) {
    case Awaited::kEnough:
      return Stall::kNone;
    case Awaited::kEnded:
      return Stall::kEnded;
    case Awaited::kAsleep:
      return Stall::kAsleep;
    case Awaited::kTimedOut:
      return Stall::kTimedOut;
  }
  return Stall::kTimedOut;
}

// Moves the whole lines of `*pending` into `*exchange`, as written after `steps` lines of
// the host, and after it had closed the input or not.
void take_lines(std::string* pending, std::size_t steps, bool input_closed, Exchange* exchange) {
  std::size_t start = 0;
  for (std::size_t end = pending->find('\n'); end != std::string::npos;
       end = pending->find('\n', start)) {
    exchange->lines.push_back({pending->substr(start, end + 1 - start), steps, input_closed});
    start = end + 1;
  }
  pending->erase(0, start);
}

}  // namespace

Exchange hold_dialogue(const std::vector<std::string>& command, const Sandbox& sandbox,
                       const Dialogue& dialogue, std::chrono::milliseconds timeout) {
  Exchange exchange;
  std::vector<std::string> argv = command;
  argv.insert(argv.end(), dialogue.arguments.begin(), dialogue.arguments.end());
  ChildOptions options;
  options.sandbox = &sandbox;
  options.kept_output = KEPT_OUTPUT;
  std::optional<ChildProcess> child = ChildProcess::start(argv, &exchange.start_error, options);
  if (!child) {
    return exchange;
  }
  exchange.started = true;
  std::string pending;  // output taken, not yet a whole line
  bool first_wait = true;
  for (const Step& step : dialogue.steps) {
    if (!child->send(step.line, Clock::now() + timeout)) {
      break;  // it stopped reading: what it wrote tells why
    }
    ++exchange.steps_written;
    if (step.answers == 0) {
      continue;
    }
    const std::size_t taken_before = exchange.lines.size();
    // The lines taken and held since this step's line, from the first that holds
    // `counted_from` when it is given.
    const auto answers = [&](std::string_view held) {
      std::size_t counted = 0;
      bool counting = step.counted_from.empty();
      const auto count = [&](std::string_view line) {
        if (line.empty() || line == "\n") {
          return;  // a line of nothing answers nothing
        }
        counting = counting || line.find(step.counted_from) != std::string_view::npos;
        counted += counting ? 1 : 0;
      };
      for (std::size_t index = taken_before; index < exchange.lines.size(); ++index) {
        count(exchange.lines[index].bytes);
      }
      // A partial line taken is the start of the first held.
      std::string joined;
      std::string_view rest = held;
      if (!pending.empty()) {
        joined = pending + std::string(held);
        rest = joined;
      }
      for (std::size_t end = rest.find('\n'); end != std::string_view::npos;
           end = rest.find('\n')) {
        count(rest.substr(0, end));
        rest.remove_prefix(end + 1);
      }
      return counted;
    };
    const auto enough = [&](std::string_view held) { return answers(held) >= step.answers; };
    const std::chrono::milliseconds within = first_wait ? ANNOUNCEMENT_ALLOWANCE : timeout;
    first_wait = false;
    const Awaited awaited = child->await_held_while_at_work(enough, Clock::now() + within);
    pending += child->take_output();
    take_lines(&pending, exchange.steps_written, false, &exchange);
    if (awaited != Awaited::kEnough) {
      exchange.stall = stall_of(awaited);
      exchange.stalled_at = exchange.steps_written - 1;
      break;
    }
  }
  if (exchange.stall == Stall::kNone && dialogue.closing == Closing::kAwaitTheEnd &&
      exchange.steps_written == dialogue.steps.size()) {
    const Awaited awaited = child->await_held_while_at_work(
        [](std::string_view /*held*/) { return false; }, Clock::now() + timeout);
    pending += child->take_output();
    take_lines(&pending, exchange.steps_written, false, &exchange);
    if (awaited != Awaited::kEnded) {
      exchange.stall = stall_of(awaited);
      exchange.stalled_at = dialogue.steps.size();
    }
  }
  child->close_input();
  if (dialogue.closing == Closing::kCloseInputReadLate && exchange.stall == Stall::kNone) {
    child->await_quiet_unread(Clock::now() + timeout);
  }
  exchange.timeout = timeout;
  const Clock::time_point deadline = Clock::now() + timeout;
  exchange.ended_in_time = child->read_to_end(deadline);
  pending += child->take_output();
  take_lines(&pending, exchange.steps_written, true, &exchange);
  if (!pending.empty()) {
    exchange.lines.push_back({pending, exchange.steps_written, true});
  }
  std::size_t collected = 0;
  for (const WrittenLine& line : exchange.lines) {
    collected += line.bytes.size();
  }
  exchange.too_long = child->output_total() > collected;
  exchange.termination = exchange.ended_in_time ? child->wait(deadline) : child->kill_now();
  exchange.ended_in_time = exchange.ended_in_time && !exchange.termination.killed_by_host;
  exchange.error_bytes = child->error_output().total();
  exchange.error_head = child->error_output().head();
  return exchange;
}
