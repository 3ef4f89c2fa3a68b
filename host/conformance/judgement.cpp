// Judging each requirement on the dialogues.
#include "conformance/judgement.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "base/in_order.h"
#include "conformance/message_checks.h"
#include "conformance/trials.h"
#include "text/visible.h"
#include "text/words.h"

namespace {

// How much of a line a conversation shows.
constexpr std::size_t SHOWN_LINE = 300;

std::string type_of(const json_t* message) {
  const json_t* type = json_object_get(message, "type");
  return json_is_string(type) ? json_string_value(type) : "";
}

// A line of nothing is told as framing, and is no answer nor any line after one.
bool is_blank(const WrittenLine& line) { return line.bytes == "\n"; }

std::string stall_words(Stall stall) {
  switch (stall) {
    case Stall::kNone:
      return "";
    case Stall::kEnded:
      return "it closed its output";
    case Stall::kAsleep:
      return "every process of it was asleep, having read all it was sent";
    case Stall::kTimedOut:
      return "it was still at work at the deadline";
  }
  return "";
}

// How the extension ended, in words; when the host had to end it, how long it waited and
// for what.
std::string ending_words(const Exchange& exchange) {
  if (!exchange.termination.killed_by_host) {
    return describe(exchange.termination);
  }
  return "it had not ended " + std::to_string(exchange.timeout.count()) +
         " ms after the host closed its input, and the host killed it";
}

// Which of the lines written is the first "handshake_result"; all of them when none is.
std::size_t first_result_line(const Exchange& exchange) {
  for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
    LineProblem ignored;
    const Json message = parse_written_line(exchange.lines[index].bytes, &ignored);
    if (message && type_of(message.get()) == "handshake_result") {
      return index;
    }
  }
  return exchange.lines.size();
}

class Judge {
 public:
  explicit Judge(Conformance* conformance) : conformance_(conformance) {}

  void held(Requirement requirement) {
    Outcome& outcome = outcome_of(requirement);
    if (outcome.standing == Standing::kNotVerified) {
      outcome.standing = Standing::kHeld;
      outcome.not_verified.clear();
    }
  }

  // Keeps the first conversation that breaks `requirement`: the shortest are drawn first,
  // and one of several calls is cut down later (see shorter_trials).
  void failed(Requirement requirement, const Trial& trial, const Exchange& exchange,
              std::size_t line, std::size_t byte, const std::string& problem) {
    Outcome& outcome = outcome_of(requirement);
    if (outcome.standing == Standing::kFailed) {
      return;
    }
    outcome.standing = Standing::kFailed;
    Evidence evidence{
        trial.dialogue.title, trial.dialogue.arguments, {}, exchange, line, byte, problem};
    for (std::size_t step = 0; step < exchange.steps_written; ++step) {
      evidence.sent.push_back(trial.dialogue.steps[step].line);
    }
    outcome.evidence = {std::move(evidence)};
    breaking_.at(static_cast<std::size_t>(requirement)) = trial;
  }

  // For each requirement broken within a conversation of several calls, that conversation
  // cut to the call that breaks it: the handshake, that call, and "shutdown".
  [[nodiscard]] std::vector<std::pair<Requirement, Trial>> shorter_trials() const {
    std::vector<std::pair<Requirement, Trial>> shorter;
    for (const RequirementRow& row : REQUIREMENTS) {
      const auto at = static_cast<std::size_t>(row.requirement);
      const std::optional<Trial>& trial = breaking_.at(at);
      const Outcome& outcome = conformance_->outcomes.at(at);
      if (!trial || trial->kind != TrialKind::kCallsWithin || outcome.evidence.empty()) {
        continue;
      }
      const Evidence& evidence = outcome.evidence.front();
      const Exchange& exchange = evidence.exchange;
      std::size_t step = exchange.stall != Stall::kNone ? exchange.stalled_at : 0;
      if (evidence.line > 0 && !exchange.lines[evidence.line - 1].after_input_closed) {
        step = exchange.lines[evidence.line - 1].after_steps - 1;
      }
      const std::size_t last = trial->dialogue.steps.size() - 1;
      if (step < 2 || step >= last) {
        continue;  // the first call, or not a call: nothing to cut
      }
      Trial cut = *trial;
      cut.dialogue.title += ", cut to the call that breaks it";
      cut.dialogue.steps = {trial->dialogue.steps[0], trial->dialogue.steps[step],
                            trial->dialogue.steps[last]};
      cut.request_ids = {"", trial->request_ids[step], ""};
      shorter.emplace_back(row.requirement, std::move(cut));
    }
    return shorter;
  }

  // Puts `evidence` in the place of what `requirement` failed with.
  void replace_evidence(Requirement requirement, const Outcome& shorter) {
    Outcome& outcome = outcome_of(requirement);
    if (outcome.standing == Standing::kFailed && shorter.standing == Standing::kFailed) {
      outcome.evidence = shorter.evidence;
    }
  }

  void not_verified(Requirement requirement, const std::string& why) {
    Outcome& outcome = outcome_of(requirement);
    if (outcome.standing == Standing::kNotVerified && outcome.not_verified.empty()) {
      outcome.not_verified = why;
    }
  }

  // What every dialogue shows: standard error, and each line's framing, form and
  // envelope from line `from` on (the lines before "handshake_result" are told as such,
  // not once more here). Returns each line's message (none for a line that is none).
  std::vector<Json> judge_lines(const Trial& trial, const Exchange& exchange,
                                std::size_t from = 0) {
    if (exchange.error_bytes > 0) {
      failed(Requirement::kSilentOnStandardError, trial, exchange, 0, 0,
             "it wrote " + std::to_string(exchange.error_bytes) + " bytes to standard error: \"" +
                 visible_prefix(exchange.error_head, SHOWN_LINE) + "\"");
    } else if (exchange.started) {
      held(Requirement::kSilentOnStandardError);
    }
    std::vector<Json> messages;
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      if (index < from) {
        messages.emplace_back();
        continue;
      }
      const std::string& bytes = exchange.lines[index].bytes;
      LineProblem problem;
      Json message = parse_written_line(bytes, &problem);
      if (!message) {
        failed(Requirement::kLineFraming, trial, exchange, index + 1, problem.byte, problem.what);
        messages.emplace_back();
        continue;
      }
      held(Requirement::kLineFraming);
      if (const LineProblem form = canonical_problem(bytes, message.get()); form.found()) {
        failed(Requirement::kCanonicalForm, trial, exchange, index + 1, form.byte, form.what);
      } else {
        held(Requirement::kCanonicalForm);
      }
      if (const std::string problem_text =
              envelope_problem(message.get(), conformance_->extension_id);
          !problem_text.empty()) {
        failed(Requirement::kEnvelope, trial, exchange, index + 1, 0, problem_text);
      } else {
        held(Requirement::kEnvelope);
      }
      messages.push_back(std::move(message));
    }
    if (exchange.too_long) {
      failed(Requirement::kLineFraming, trial, exchange, exchange.lines.size(), 0,
             "it wrote more than conform reads in one dialogue (8 MiB)");
    }
    return messages;
  }

  void judge_announcement(const Trial& trial, const Exchange& exchange) {
    // The identity first: every envelope after it is held to its "extension_id".
    const std::size_t result = first_result_line(exchange);
    if (result < exchange.lines.size()) {
      LineProblem ignored;
      const Json first = parse_written_line(exchange.lines[result].bytes, &ignored);
      const json_t* id = json_object_get(first.get(), "extension_id");
      const json_t* version = json_object_get(first.get(), "extension_version");
      conformance_->extension_id = json_is_string(id) ? json_string_value(id) : "";
      conformance_->extension_version = json_is_string(version) ? json_string_value(version) : "";
    }
    const std::vector<Json> messages =
        judge_lines(trial, exchange, result < exchange.lines.size() ? result : 0);
    if (result > 0 && !exchange.lines.empty()) {
      failed(Requirement::kSilentBeforeHandshake, trial, exchange, 1, 0,
             result < exchange.lines.size()
                 ? "it wrote " + std::to_string(result) + " line" + (result > 1 ? "s" : "") +
                       " before \"handshake_result\""
                 : "no line it wrote is \"handshake_result\"");
    } else if (result < exchange.lines.size()) {
      held(Requirement::kSilentBeforeHandshake);
    }
    if (result < exchange.lines.size()) {
      if (const std::string problem = handshake_result_problem(messages[result].get());
          !problem.empty()) {
        failed(Requirement::kEnvelope, trial, exchange, result + 1, 0, problem);
      }
    }
    // Both lines must come while the host waits with the input open, before "shutdown".
    std::size_t announced = 0;
    for (std::size_t index = result; index < exchange.lines.size(); ++index) {
      const WrittenLine& line = exchange.lines[index];
      announced += line.after_steps == 1 && !line.after_input_closed ? 1 : 0;
    }
    if (announced < 2 || (exchange.stall != Stall::kNone && exchange.stalled_at == 0)) {
      bool came_later = false;
      for (const WrittenLine& line : exchange.lines) {
        came_later = came_later || line.after_input_closed;
      }
      std::string words = exchange.stall == Stall::kNone || exchange.stalled_at != 0
                              ? "it did not write both lines before the host wrote on"
                              : stall_words(exchange.stall);
      if (came_later) {
        words +=
            "; they came once the host had closed the input (lines kept in a buffer hang "
            "a host)";
      }
      failed(Requirement::kAnnouncesUnasked, trial, exchange, 0, 0,
             "the host awaited \"handshake_result\" and \"register\" after the handshake, and "
             "had " +
                 std::to_string(std::min<std::size_t>(announced, 2)) +
                 " of them when it stopped waiting: " + words);
    } else {
      held(Requirement::kAnnouncesUnasked);
    }
    const std::size_t registration = result + 1;
    if (registration < messages.size() && messages[registration]) {
      note_announced_names(messages[registration].get());
    }
    if (registration >= messages.size() || !messages[registration] ||
        type_of(messages[registration].get()) != "register") {
      failed(Requirement::kDescriptors, trial, exchange,
             registration >= messages.size() ? 0 : registration + 1, 0,
             R"(no "register" line came after "handshake_result")");
    } else if (const std::string problem =
                   register_problem(messages[registration].get(), &conformance_->catalogue);
               !problem.empty()) {
      failed(Requirement::kDescriptors, trial, exchange, registration + 1, 0, problem);
    } else {
      held(Requirement::kDescriptors);
      for (const AnnouncedCallable& callable : conformance_->catalogue) {
        if (const std::string naming =
                callable_name_problem(callable.name, conformance_->extension_id);
            !naming.empty()) {
          failed(Requirement::kNaming, trial, exchange, registration + 1, 0, naming);
        }
      }
      held(Requirement::kNaming);
    }
    if (exchange.stall == Stall::kNone || exchange.stalled_at > 0) {
      judge_shutdown(trial, exchange, 1);
    }
  }

  void note_announced_names(const json_t* registration) {
    const json_t* callables = json_object_get(registration, "callables");
    for (std::size_t index = 0; index < json_array_size(callables); ++index) {
      const json_t* name = json_object_get(json_array_get(callables, index), "name");
      conformance_->announced_names.push_back(
          json_is_string(name) ? std::string(json_string_value(name), json_string_length(name))
                               : "(no name)");
    }
  }

  // After "shutdown", the step after `last_step`: nothing written, and status 0.
  void judge_shutdown(const Trial& trial, const Exchange& exchange, std::size_t last_step) {
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      if (exchange.lines[index].after_steps > last_step && !is_blank(exchange.lines[index])) {
        failed(Requirement::kShutdown, trial, exchange, index + 1, 0,
               "it wrote a line after \"shutdown\"");
        return;
      }
    }
    // One that ends only once its input closes too (a wrapper waiting for its input) is
    // told by its status alone: hosts close the input after "shutdown".
    if (exchange.stall == Stall::kTimedOut) {
      failed(Requirement::kShutdown, trial, exchange, 0, 0,
             "after \"shutdown\": " + stall_words(exchange.stall));
    } else if (exchange.termination.signaled || exchange.termination.code != 0 ||
               !exchange.ended_in_time) {
      failed(Requirement::kShutdown, trial, exchange, 0, 0,
             "after \"shutdown\": " + ending_words(exchange) + ", not exit status 0");
    } else {
      held(Requirement::kShutdown);
    }
  }

  // An end that only status 2 and silence may make, after `steps` lines of the host.
  void judge_violation_end(const Trial& trial, const Exchange& exchange, std::size_t steps,
                           const std::string& violation,
                           Requirement requirement = Requirement::kViolationEnds) {
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      if (exchange.lines[index].after_steps >= steps && !is_blank(exchange.lines[index])) {
        failed(requirement, trial, exchange, index + 1, 0, "it wrote a line after " + violation);
        return;
      }
    }
    // Asleep after the violation, it is judged once its input has closed: by its status.
    if (exchange.stall == Stall::kTimedOut) {
      failed(requirement, trial, exchange, 0, 0,
             "it went on after " + violation + ": " + stall_words(exchange.stall));
    } else if (exchange.termination.signaled || exchange.termination.code != 2) {
      failed(requirement, trial, exchange, 0, 0,
             "after " + violation + ": " + ending_words(exchange) + ", not exit status 2");
    } else {
      held(requirement);
    }
  }

  // A call the host awaited the answer to, in vain, at `step`. Once the host closed the
  // input, an answer that came then was kept back; none, with status 2, a refusal.
  void judge_unanswered(const Trial& trial, const Exchange& exchange, std::size_t step) {
    const std::string call = "call \"" + visible(trial.request_ids[step]) + "\"";
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      if (exchange.lines[index].after_input_closed && !is_blank(exchange.lines[index])) {
        failed(Requirement::kAnswersInOrder, trial, exchange, index + 1, 0,
               "the host awaited the answer to " + call +
                   ", and it came only once the host "
                   "had closed the input (an answer kept in a buffer hangs a host): while the host "
                   "waited, " +
                   stall_words(exchange.stall));
        return;
      }
    }
    if (exchange.stall == Stall::kTimedOut) {
      failed(Requirement::kAnswersInOrder, trial, exchange, 0, 0,
             "the host awaited the answer to " + call +
                 " and none came: " + stall_words(exchange.stall));
    } else if (!trial.answer_owed) {
      // A refusal: the extension's right outside the arity, or for a type unknown.
      judge_violation_end(trial, exchange, step + 1, "it refused the " + call);
    } else {
      failed(Requirement::kAnswersInOrder, trial, exchange, 0, 0,
             "the " + call +
                 " is within its callable's arity, of its declared input type, "
                 "and was not answered: " +
                 ending_words(exchange));
    }
  }

  void judge_calls(const Trial& trial, const Exchange& exchange) {
    const std::vector<Json> messages = judge_lines(trial, exchange, first_result_line(exchange));
    const std::size_t steps = trial.dialogue.steps.size();
    for (std::size_t step = 1; step + 1 < steps && step < exchange.steps_written; ++step) {
      const std::string& request_id = trial.request_ids[step];
      std::vector<std::size_t> answers;
      for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
        if (exchange.lines[index].after_steps == step + 1 &&
            !exchange.lines[index].after_input_closed && !is_blank(exchange.lines[index])) {
          answers.push_back(index);
        }
      }
      if (exchange.stall != Stall::kNone && exchange.stalled_at == step && answers.empty()) {
        judge_unanswered(trial, exchange, step);
        return;
      }
      if (answers.size() != 1) {
        failed(Requirement::kAnswersInOrder, trial, exchange, answers.empty() ? 0 : answers[1] + 1,
               0,
               "the call \"" + visible(request_id) + "\" was answered by " +
                   std::to_string(answers.size()) + " lines");
        return;
      }
      const json_t* answer = messages[answers[0]].get();
      if (answer == nullptr) {
        return;  // not a message: told as framing
      }
      if (const std::string problem = answer_problem(answer, request_id); !problem.empty()) {
        failed(Requirement::kAnswersInOrder, trial, exchange, answers[0] + 1, 0, problem);
        return;
      }
      held(Requirement::kAnswersInOrder);
      if (type_of(answer) == "error") {
        if (const std::string problem = error_members_problem(answer); !problem.empty()) {
          failed(Requirement::kErrorMembers, trial, exchange, answers[0] + 1, 0, problem);
        } else {
          held(Requirement::kErrorMembers);
          if (const std::string kind = error_kind_problem(answer); !kind.empty()) {
            failed(Requirement::kNaming, trial, exchange, answers[0] + 1, 0, kind);
          }
        }
      }
    }
    if (exchange.steps_written == steps) {
      judge_shutdown(trial, exchange, steps - 1);
    }
  }

  // The answers to the calls written together in step 1: each, in order, in the lines
  // that came after it (before the input closed, unless `after_closing`).
  void judge_answers_together(const Trial& trial, const Exchange& exchange, bool after_closing) {
    const std::vector<Json> messages = judge_lines(trial, exchange, first_result_line(exchange));
    const std::size_t calls = trial.together.size();
    if (exchange.steps_written < 2) {
      return;  // it stopped reading: told by the lines or the ending
    }
    std::vector<std::size_t> answers;
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      const WrittenLine& line = exchange.lines[index];
      if (line.after_steps == 2 && (after_closing || !line.after_input_closed) && !is_blank(line)) {
        answers.push_back(index);
      }
    }
    const std::string together =
        calls == 1 ? "the call written just before the input closed"
                   : "the " + std::to_string(calls) + " calls written before any answer was read";
    if (answers.size() != calls) {
      const bool waited = exchange.stall != Stall::kNone && exchange.stalled_at == 1;
      failed(Requirement::kAnswersInOrder, trial, exchange,
             answers.size() > calls ? answers[calls] + 1 : 0, 0,
             together + " got " + counted(answers.size(), "answer", "answers") +
                 (waited          ? ": while the host waited, " + stall_words(exchange.stall)
                  : after_closing ? ", and it ended: " + ending_words(exchange)
                                  : ""));
      return;
    }
    for (std::size_t k = 0; k < calls; ++k) {
      const json_t* answer = messages[answers[k]].get();
      if (answer == nullptr) {
        return;  // not a message: told as framing
      }
      if (const std::string problem = answer_problem(answer, trial.together[k]); !problem.empty()) {
        std::string told = "of " + together + ", answer " + std::to_string(k + 1) + ": ";
        told += problem;
        failed(Requirement::kAnswersInOrder, trial, exchange, answers[k] + 1, 0, told);
        return;
      }
    }
    held(Requirement::kAnswersInOrder);
    if (after_closing) {
      if (exchange.termination.signaled || exchange.termination.code != 0 ||
          !exchange.ended_in_time) {
        failed(Requirement::kEndOfInput, trial, exchange, 0, 0,
               "at the end of its input, after its answer: " + ending_words(exchange) +
                   ", not exit status 0");
      } else {
        held(Requirement::kEndOfInput);
      }
    } else if (exchange.steps_written == trial.dialogue.steps.size()) {
      judge_shutdown(trial, exchange, trial.dialogue.steps.size() - 1);
    }
  }

  void judge(const Trial& trial, const Exchange& exchange) {
    switch (trial.kind) {
      case TrialKind::kAnnouncement:
        judge_announcement(trial, exchange);
        return;
      case TrialKind::kCommandLine:
        judge_lines(trial, exchange);
        if (!exchange.lines.empty()) {
          failed(Requirement::kCommandLine, trial, exchange, 1, 0,
                 "it wrote to standard output, where it must refuse its command line");
        } else if (exchange.termination.signaled || exchange.termination.code != 3) {
          failed(Requirement::kCommandLine, trial, exchange, 0, 0,
                 ending_words(exchange) + ", not exit status 3");
        } else {
          held(Requirement::kCommandLine);
        }
        return;
      case TrialKind::kEndOfInput: {
        const std::size_t result = first_result_line(exchange);
        judge_lines(trial, exchange, result);
        if (exchange.stall != Stall::kNone || result >= exchange.lines.size()) {
          return;  // told by the announcement
        }
        if (exchange.lines.size() > result + 2 && !is_blank(exchange.lines[result + 2])) {
          failed(Requirement::kEndOfInput, trial, exchange, result + 3, 0,
                 "it wrote a line after its input closed");
        } else if (exchange.termination.signaled || exchange.termination.code != 0 ||
                   !exchange.ended_in_time) {
          failed(Requirement::kEndOfInput, trial, exchange, 0, 0,
                 "at the end of its input: " + ending_words(exchange) + ", not exit status 0");
        } else {
          held(Requirement::kEndOfInput);
        }
        return;
      }
      case TrialKind::kCallsWithin:
      case TrialKind::kCallOutside:
        judge_calls(trial, exchange);
        return;
      case TrialKind::kViolation:
        judge_lines(trial, exchange, first_result_line(exchange));
        if (exchange.stall == Stall::kNone || exchange.stalled_at != 0) {
          judge_violation_end(trial, exchange, 2, trial.dialogue.title);
        }
        return;
      case TrialKind::kViolationFirstLine:
        judge_lines(trial, exchange);
        judge_violation_end(trial, exchange, 0, trial.dialogue.title);
        return;
      case TrialKind::kPipelined:
        judge_answers_together(trial, exchange, false);
        return;
      case TrialKind::kClosedAfterCall:
        judge_answers_together(trial, exchange, true);
        return;
      case TrialKind::kStrictInput: {
        // A refusal comes once the line is read: after the announcement, or before it.
        // Its lines are not judged here: a lax parser's answer (an escaped NUL echoed)
        // is this requirement's failure, not a second one of the framing.
        const bool first_line = trial.dialogue.steps.size() == 1;
        if (first_line || exchange.stall == Stall::kNone || exchange.stalled_at != 0) {
          judge_violation_end(trial, exchange, first_line ? 0 : 2, trial.dialogue.title,
                              Requirement::kStrictInput);
        }
        return;
      }
    }
  }

 private:
  Outcome& outcome_of(Requirement requirement) {
    return conformance_->outcomes.at(static_cast<std::size_t>(requirement));
  }

  Conformance* conformance_;
  // The conversation each failed requirement was broken in.
  std::array<std::optional<Trial>, REQUIREMENT_COUNT> breaking_;
};

}  // namespace

bool Conformance::conforms() const {
  return std::ranges::none_of(REQUIREMENTS, [&](const RequirementRow& row) {
    return row.level == Level::kMust &&
           outcomes.at(static_cast<std::size_t>(row.requirement)).standing == Standing::kFailed;
  });
}

Conformance judge_conformance(const std::vector<std::string>& command, const Sandbox& sandbox,
                              std::chrono::milliseconds timeout, std::size_t jobs) {
  const Clock::time_point started = Clock::now();
  Conformance conformance;
  Judge judge(&conformance);
  // The dialogues run side by side and are judged in their order, so that the evidence
  // kept for a requirement is the same however many run at once.
  const auto hold_all = [&](const std::vector<Trial>& trials) {
    std::vector<Exchange> exchanges(trials.size());
    run_in_order(
        trials.size(), jobs, /*stop_at_failure=*/false,
        [&](std::size_t index) {
          exchanges[index] = hold_dialogue(command, sandbox, trials[index].dialogue, timeout);
          return true;
        },
        [&](std::size_t index) {
          ++conformance.dialogues;
          judge.judge(trials[index], exchanges[index]);
        });
    return exchanges;
  };
  const std::vector<Exchange> first = hold_all({announcement_trial()});
  hold_all(protocol_trials());
  const bool announced =
      conformance.outcomes.at(static_cast<std::size_t>(Requirement::kDescriptors)).standing ==
      Standing::kHeld;
  if (announced) {
    hold_all(catalogue_trials(conformance.extension_id, conformance.catalogue));
  } else {
    const std::string why = "no catalogue to draw calls from: its announcement failed";
    judge.not_verified(Requirement::kAnswersInOrder, why);
    judge.not_verified(Requirement::kErrorMembers, why);
  }
  // A failure shown by the shortest conversation that still shows it: played again cut
  // down, and kept when it fails the same way.
  for (const auto& [requirement, trial] : judge.shorter_trials()) {
    Conformance scratch;
    scratch.extension_id = conformance.extension_id;
    Judge again(&scratch);
    again.judge(trial, hold_dialogue(command, sandbox, trial.dialogue, timeout));
    ++conformance.dialogues;
    judge.replace_evidence(requirement, scratch.outcomes.at(static_cast<std::size_t>(requirement)));
  }
  const bool unasked =
      conformance.outcomes.at(static_cast<std::size_t>(Requirement::kAnnouncesUnasked)).standing ==
      Standing::kHeld;
  for (const Requirement requirement :
       {Requirement::kAnswersInOrder, Requirement::kErrorMembers, Requirement::kShutdown,
        Requirement::kEndOfInput, Requirement::kViolationEnds}) {
    if (!unasked) {
      judge.not_verified(requirement,
                         "the announcement did not come while the host waited, and a host "
                         "writes nothing more before it");
    }
  }
  judge.not_verified(Requirement::kErrorMembers, "no call was answered by an \"error\"");
  judge.not_verified(Requirement::kAnswersInOrder, "no callable was announced");
  const Exchange& opening = first.front();
  for (const Requirement requirement :
       {Requirement::kSilentBeforeHandshake, Requirement::kEnvelope, Requirement::kShutdown,
        Requirement::kNaming, Requirement::kEndOfInput}) {
    judge.not_verified(requirement, opening.started
                                        ? "its announcement did not come"
                                        : "it could not be started: " + opening.start_error);
  }
  conformance.elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  return conformance;
}

std::string conversation_text(const Evidence& evidence) {
  std::string text;
  const auto said = [&](const char* mark, std::size_t index) {
    const std::string& bytes = evidence.exchange.lines[index].bytes;
    const std::string_view body =
        bytes.ends_with('\n') ? std::string_view(bytes).substr(0, bytes.size() - 1) : bytes;
    text += std::string(index + 1 == evidence.line ? "!! " : mark) +
            visible_prefix(body, SHOWN_LINE) + "\n";
    if (index + 1 == evidence.line) {
      text += "   ^ line " + std::to_string(evidence.line) + " of its output" +
              (evidence.byte > 0 ? ", byte " + std::to_string(evidence.byte) : "") + "\n";
    }
  };
  const auto written_after = [&](std::size_t steps, bool closed) {
    for (std::size_t index = 0; index < evidence.exchange.lines.size(); ++index) {
      const WrittenLine& line = evidence.exchange.lines[index];
      if (line.after_steps == steps && line.after_input_closed == closed) {
        said("<- ", index);
      }
    }
  };
  written_after(0, false);
  for (std::size_t step = 0; step < evidence.sent.size(); ++step) {
    const std::string& line = evidence.sent[step];
    text += "-> " + visible_prefix(std::string_view(line).substr(0, line.size() - 1), SHOWN_LINE) +
            "\n";
    written_after(step + 1, false);
  }
  text += "-- the host closed its input\n";
  written_after(evidence.sent.size(), true);
  return text + "== " + describe(evidence.exchange.termination) + "\n";
}
