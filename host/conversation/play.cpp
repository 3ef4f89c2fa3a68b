// Playing a golden case against an extension and judging what it did.
#include "conversation/play.h"

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

Observed observe(const std::vector<std::string>& command, const std::vector<std::string>& arguments,
                 const std::string& input, std::chrono::milliseconds timeout,
                 std::size_t kept_output) {
  Observed observed;
  std::vector<std::string> argv = command;
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + timeout;
  ChildOptions options;
  options.kept_output = kept_output;
  std::optional<ChildProcess> child = ChildProcess::start(argv, &observed.start_error, options);
  if (!child) {
    return observed;
  }
  observed.started = true;
  // The extension may end before it has read all its input (a violation ends it at once),
  // so a refused write is not a failure here; the output and the status tell.
  child->send(input, deadline);
  child->close_input();
  const bool in_time = child->read_to_end(deadline);
  observed.termination = child->wait(deadline);
  observed.timed_out = !in_time || observed.termination.killed_by_host;
  observed.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  observed.output = child->take_output();
  observed.output_total = child->output_total();
  observed.error_bytes = child->error_output().total();
  observed.error_head = child->error_output().head();
  return observed;
}

namespace {

// The verdict on what a run of the case gave.
Verdict judged(const Conversation& conversation, const Observed& observed,
               std::chrono::milliseconds timeout) {
  if (!observed.started) {
    return failed(Failure::kCannotStart, observed.start_error, {});
  }
  const Termination& termination = observed.termination;
  const std::string& output = observed.output;
  const auto elapsed = observed.elapsed;

  if (observed.timed_out) {
    return failed(Failure::kTimedOut,
                  "killed after " + std::to_string(timeout.count()) + " ms, having written " +
                      std::to_string(observed.output_total) + " bytes: \"" +
                      visible_prefix(output, 200) + "\"",
                  elapsed);
  }
  if (termination.signaled) {
    return failed(Failure::kSignal, describe(termination), elapsed);
  }
  if (output != conversation.output || observed.output_total != conversation.output.size()) {
    Verdict verdict = failed(Failure::kOutputDiffers, "", elapsed);
    verdict.detail = first_difference(conversation.output, output, observed.output_total);
    return verdict;
  }
  if (termination.code != conversation.status) {
    return failed(Failure::kExitStatus,
                  "expected " + std::to_string(conversation.status) + ", got " +
                      std::to_string(termination.code),
                  elapsed);
  }
  if (observed.error_bytes != 0) {
    return failed(Failure::kStandardError,
                  std::to_string(observed.error_bytes) + " bytes, starting \"" +
                      visible_prefix(observed.error_head, 200) + "\"",
                  elapsed);
  }
  if (termination.left_behind > 0) {
    return failed(Failure::kProcessLeft, describe(termination), elapsed);
  }
  if (conversation.min_duration && elapsed < *conversation.min_duration) {
    return failed(Failure::kDuration,
                  "ended after " + std::to_string(elapsed.count()) + " ms, expected at least " +
                      std::to_string(conversation.min_duration->count()),
                  elapsed);
  }
  if (conversation.max_duration && elapsed > *conversation.max_duration) {
    return failed(Failure::kDuration,
                  "ended after " + std::to_string(elapsed.count()) + " ms, expected at most " +
                      std::to_string(conversation.max_duration->count()),
                  elapsed);
  }
  return {Failure::kNone, "", elapsed, {}};
}

}  // namespace

Verdict play(const Conversation& conversation, const std::vector<std::string>& command,
             std::chrono::milliseconds timeout) {
  const Observed observed = observe(command, conversation.arguments, conversation.input, timeout,
                                    conversation.output.size() + KEPT_BEYOND_EXPECTED);
  Verdict verdict = judged(conversation, observed, timeout);
  verdict.command_line = command;
  verdict.command_line.insert(verdict.command_line.end(), conversation.arguments.begin(),
                              conversation.arguments.end());
  return verdict;
}
