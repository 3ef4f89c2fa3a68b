// Playing a golden case against an extension and judging what it did.
#include "conversation/play.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/json.h"
#include "process/child_process.h"
#include "text/difference.h"
#include "text/visible.h"

const char* failure_name(Failure failure) {
  switch (failure) {
    case Failure::kNone:
      return "passed";
    case Failure::kBadCase:
      return "bad case";
    case Failure::kCannotStart:
      return "cannot start";
    case Failure::kSandboxFailed:
      return "sandbox failed";
    case Failure::kTimedOut:
      return "timed out";
    case Failure::kSignal:
      return "ended by a signal";
    case Failure::kOutputDiffers:
      return "output differs";
    case Failure::kExitStatus:
      return "exit status differs";
    case Failure::kStandardError:
      return "wrote to standard error";
    case Failure::kProcessLeft:
      return "left a process behind";
    case Failure::kDuration:
      return "duration out of bounds";
  }
  return "?";
}

namespace {

Verdict failed(Failure failure, const std::string& detail, std::chrono::milliseconds elapsed) {
  return {failure, std::string(failure_name(failure)) + ": " + detail, elapsed, {}};
}

}  // namespace

const char ANNOUNCED[] = R"("type":"register"})"
                         "\n";

Observed observe(const std::vector<std::string>& command, const Sandbox& sandbox,
                 const std::vector<std::string>& arguments, const std::string& input,
                 std::chrono::milliseconds timeout, std::size_t kept_output,
                 const std::optional<Probe>& probe, const std::optional<HandshakeWait>& handshake) {
  Observed observed;
  std::vector<std::string> argv = command;
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const Clock::time_point started = Clock::now();
  Clock::time_point deadline = started + timeout;
  const bool start_apart = handshake && handshake->within;
  if (start_apart) {
    deadline += *handshake->within;
  }
  ChildOptions options;
  options.sandbox = &sandbox;
  options.kept_output = kept_output;
  std::optional<ChildProcess> child = ChildProcess::start(argv, &observed.start_error, options);
  if (!child) {
    return observed;
  }
  observed.started = true;
  // The extension may end before it has read all its input (a violation ends it at once),
  // so a refused write is not a failure here; the output and the status tell.
  std::size_t written = 0;
  // Writes the input up to `end`, from where it stands; false once the extension takes no
  // more.
  const auto send_until = [&](std::size_t end) {
    const bool sent = child->send(std::string_view(input).substr(written, end - written), deadline);
    written = end;
    return sent;
  };
  bool sent = true;
  if (handshake && handshake->input_end <= input.size()) {
    sent = send_until(handshake->input_end);
    if (written == input.size()) {
      child->close_input();  // nothing more will come: an extension may end without waiting
    }
    const std::string_view announcement = handshake->announcement;
    // Line feeds are counted in new bytes only: a flood without them is read in many pieces.
    std::size_t counted = 0;
    std::size_t lines = 0;
    const auto announced = [&](std::string_view held) {
      if (announcement.empty()) {
        lines += static_cast<std::size_t>(
            std::count(held.begin() + static_cast<std::ptrdiff_t>(counted), held.end(), '\n'));
        counted = held.size();
        return lines >= 2;
      }
      const std::size_t common = std::min(held.size(), announcement.size());
      return common == announcement.size() ||
             held.substr(0, common) != announcement.substr(0, common);
    };
    if (sent && start_apart) {
      observed.announcement_wait =
          child->await_held_while_at_work(announced, started + *handshake->within);
      observed.took_first_line = child->unread_input() == 0;
    } else if (sent) {
      child->await_held(announced, deadline);
    }
    observed.written_while_awaited = child->output_total();
    if (start_apart) {
      // The conversation's own time starts once the host goes on.
      deadline = std::min(deadline, Clock::now() + timeout);
    }
  }
  if (probe && written <= probe->line_start && probe->line_start <= probe->line_end &&
      probe->line_end <= input.size()) {
    const auto soon = [&](std::chrono::milliseconds within) {
      return std::min(deadline, Clock::now() + within);
    };
    sent = sent && send_until(probe->line_start);
    if (sent) {
      // Announced or not in time, the line goes: the probe only times.
      child->await_output(probe->ready, soon(probe->ready_within));
      sent = send_until(probe->line_end);
    }
    if (sent && child->await_output(probe->answer, soon(probe->answer_within))) {
      observed.probed = std::chrono::duration_cast<std::chrono::microseconds>(
          Clock::now() - child->last_write_began());
    }
  }
  if (sent) {
    send_until(input.size());
  }
  child->close_input();
  const bool in_time = child->read_to_end(deadline);
  const bool output_ended = child->output_ended();
  observed.termination = child->wait(deadline);
  observed.timed_out = !in_time || observed.termination.killed_by_host;
  observed.ran_on_closed = observed.timed_out && output_ended;
  observed.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  observed.output = child->take_output();
  observed.output_total = child->output_total();
  observed.error_bytes = child->error_output().total();
  observed.error_head = child->error_output().head();
  return observed;
}

namespace {

// How long a probe waits for the extension to announce itself, and for an answer beyond
// its wait: what comes later is not timed, as only an answer too soon is a fault.
constexpr std::chrono::milliseconds PROBE_SLACK{500};
// The longest wait a call may ask for.
constexpr long long WAIT_LIMIT_MS = 5000;

}  // namespace

std::string wait_answer(const std::string& request_id, long long milliseconds) {
  return R"("request_id":)" + request_id + R"(,"type":"call_result","value":)" +
         std::to_string(milliseconds) + "}";
}

Probe wait_probe_at(std::size_t line_start, std::size_t line_end, const std::string& request_id,
                    long long milliseconds) {
  // The lines as the extension writes them, keys in order: nothing else can hold them.
  return Probe{line_start,
               line_end,
               ANNOUNCED,
               PROBE_SLACK,
               wait_answer(request_id, milliseconds),
               std::chrono::milliseconds(milliseconds) + PROBE_SLACK,
               milliseconds};
}

std::string answered_too_soon(const Probe& probe, const Observed& observed) {
  if (!observed.probed || *observed.probed >= std::chrono::milliseconds(probe.milliseconds)) {
    return "";
  }
  std::array<char, 32> taken{};
  std::snprintf(taken.data(), taken.size(), "%.1f",
                static_cast<double>(observed.probed->count()) / 1000.0);
  return "answered the wait of " + std::to_string(probe.milliseconds) + " ms " + taken.data() +
         " ms after its call was all written: sooner than it asked";
}

std::optional<Probe> wait_probe_of(const Conversation& conversation) {
  std::size_t line_start = 0;
  while (line_start < conversation.input.size()) {
    std::size_t line_end = conversation.input.find('\n', line_start);
    line_end = line_end == std::string::npos ? conversation.input.size() : line_end + 1;
    const Json line =
        parse_line(std::string_view(conversation.input).substr(line_start, line_end - line_start));
    const json_t* callable = json_object_get(line.get(), "callable");
    const json_t* arguments = json_object_get(line.get(), "arguments");
    const json_t* wait = json_array_get(arguments, 0);
    const json_t* request_id = json_object_get(line.get(), "request_id");
    if (json_is_string(callable) &&
        std::string_view(json_string_value(callable)) == "sample.wait" &&
        json_array_size(arguments) == 1 && json_is_integer(wait) && json_is_string(request_id) &&
        json_integer_value(wait) > 0 && json_integer_value(wait) <= WAIT_LIMIT_MS) {
      Probe probe = wait_probe_at(line_start, line_end, encode_as_written(request_id),
                                  json_integer_value(wait));
      if (conversation.output.find(probe.answer) == std::string::npos) {
        return std::nullopt;
      }
      return probe;
    }
    line_start = line_end;
  }
  return std::nullopt;
}

namespace {

// How much of standard error a verdict quotes: a traceback's start.
constexpr std::size_t SHOWN_ERROR_BYTES = 1200;
constexpr std::size_t SHOWN_ERROR_LINES = 16;

// What the extension wrote to standard error, line by line as run shows it ("  | "), by
// its start: "312 bytes:" and the lines.
std::string error_lines(const Observed& observed) {
  const std::string_view head = observed.error_head;
  std::string lines;
  std::size_t shown = 0;
  std::size_t start = 0;
  for (std::size_t count = 0; start < head.size() && count < SHOWN_ERROR_LINES; ++count) {
    if (shown >= SHOWN_ERROR_BYTES) {
      break;
    }
    const std::size_t end = std::min(head.find('\n', start), head.size());
    bool cut = false;
    const std::string line =
        visible_prefix(head.substr(start, end - start), SHOWN_ERROR_BYTES - shown, &cut);
    lines += "\n  | " + line;
    shown += line.size();
    start = end + 1;
  }
  const bool whole = start >= head.size() && observed.error_bytes == head.size();
  return std::to_string(observed.error_bytes) + " bytes" + (whole ? "" : ", the first") + ":" +
         lines;
}
constexpr char RAN_ON_CLOSED[] =
    "; it had closed its standard output, and ran on as if it had more to do";
constexpr char HELD_BACK[] =
    "; it wrote nothing after the handshake line while the host awaited its announcement "
    "before writing more, as hosts do: is each line it writes flushed at once?";

// The verdict on what a run of the case gave.
// Every way in which `observed` departs from the case, in the order of Failure: the
// first names the verdict, and all are told, so that a failure hides nothing the host
// saw (a traceback on standard error beside an exit status that differs).
Verdict judged(const Conversation& conversation, const Observed& observed,
               std::chrono::milliseconds timeout) {
  if (!observed.started) {
    return failed(Failure::kCannotStart, observed.start_error, {});
  }
  const Termination& termination = observed.termination;
  const std::string& output = observed.output;
  const auto elapsed = observed.elapsed;
  std::vector<std::pair<Failure, std::string>> aspects;
  if (!termination.sandbox_failure.empty()) {
    // Nothing it did is judged: what was seen cannot be told from what went wrong.
    return failed(Failure::kSandboxFailed, describe(termination), elapsed);
  }
  if (observed.timed_out) {
    aspects.emplace_back(Failure::kTimedOut,
                         "killed after " + std::to_string(timeout.count()) +
                             " ms, having written " + std::to_string(observed.output_total) +
                             " bytes: \"" + visible_prefix(output, 200) + "\"" +
                             (observed.ran_on_closed                             ? RAN_ON_CLOSED
                              : observed.written_while_awaited == std::size_t{0} ? HELD_BACK
                                                                                 : ""));
  } else if (termination.signaled) {
    aspects.emplace_back(Failure::kSignal, describe(termination));
  }
  if (output != conversation.output || observed.output_total != conversation.output.size()) {
    aspects.emplace_back(Failure::kOutputDiffers,
                         first_difference(conversation.output, output, observed.output_total));
  }
  if (!observed.timed_out && !termination.signaled && termination.code != conversation.status) {
    aspects.emplace_back(Failure::kExitStatus, "expected " + std::to_string(conversation.status) +
                                                   ", got " + std::to_string(termination.code));
  }
  if (observed.error_bytes != 0) {
    aspects.emplace_back(Failure::kStandardError, error_lines(observed));
  }
  if (termination.left_behind > 0) {
    aspects.emplace_back(Failure::kProcessLeft, describe(termination));
  }
  if (!observed.timed_out && conversation.min_duration && elapsed < *conversation.min_duration) {
    aspects.emplace_back(Failure::kDuration,
                         "ended after " + std::to_string(elapsed.count()) +
                             " ms, expected at least " +
                             std::to_string(conversation.min_duration->count()));
  } else if (!observed.timed_out && conversation.max_duration &&
             elapsed > *conversation.max_duration) {
    aspects.emplace_back(Failure::kDuration,
                         "ended after " + std::to_string(elapsed.count()) +
                             " ms, expected at most " +
                             std::to_string(conversation.max_duration->count()));
  }
  if (aspects.empty()) {
    return {Failure::kNone, "", elapsed, {}};
  }
  // Each aspect named once: "output differs at line 1" names itself.
  const auto told = [](const std::pair<Failure, std::string>& aspect) {
    const std::string name = failure_name(aspect.first);
    return aspect.second.starts_with(name) ? aspect.second : name + ": " + aspect.second;
  };
  Verdict verdict{aspects.front().first, told(aspects.front()), elapsed, {}};
  for (std::size_t i = 1; i < aspects.size(); ++i) {
    verdict.detail += '\n';
    verdict.detail += told(aspects[i]);
  }
  return verdict;
}

}  // namespace

Verdict play(const Conversation& conversation, const std::vector<std::string>& command,
             const Sandbox& sandbox, std::chrono::milliseconds timeout) {
  const std::optional<Probe> probe = wait_probe_of(conversation);
  // Where it is expected to announce itself, it must do so after the handshake line alone.
  const std::size_t first_line_end = conversation.input.find('\n');
  const std::size_t announced_end = conversation.output.find(ANNOUNCED);
  std::optional<HandshakeWait> handshake;
  if (first_line_end != std::string::npos && announced_end != std::string::npos) {
    handshake = HandshakeWait{first_line_end + 1,
                              conversation.output.substr(0, announced_end + std::strlen(ANNOUNCED)),
                              std::nullopt};
  }
  const Observed observed =
      observe(command, sandbox, conversation.arguments, conversation.input, timeout,
              conversation.output.size() + KEPT_BEYOND_EXPECTED, probe, handshake);
  Verdict verdict = judged(conversation, observed, timeout);
  if (probe) {
    if (const std::string too_soon = answered_too_soon(*probe, observed); !too_soon.empty()) {
      if (verdict.passed()) {
        verdict = failed(Failure::kDuration, too_soon, observed.elapsed);
      } else {
        verdict.detail += std::string("\n") + failure_name(Failure::kDuration) + ": " + too_soon;
      }
    }
  }
  verdict.command_line = command;
  verdict.command_line.insert(verdict.command_line.end(), conversation.arguments.begin(),
                              conversation.arguments.end());
  return verdict;
}
