// Judging each requirement on the dialogues.
#include "conformance/judgement.h"

#include "conformance/message_checks.h"
#include "conformance/trials.h"
#include "text/visible.h"

namespace {

// How much of a line a conversation shows.
constexpr std::size_t SHOWN_LINE = 300;

std::string type_of(const json_t* message) {
  const json_t* type = json_object_get(message, "type");
  return json_is_string(type) ? json_string_value(type) : "";
}

std::string stall_words(Stall stall) {
  switch (stall) {
    case Stall::kNone:
      return "";
    case Stall::kEnded:
      return "it closed its output";
    case Stall::kAsleep:
      return "every process of it was asleep, having read all it was sent (an answer kept in a "
             "buffer until more input comes, or until the input closes, hangs a host)";
    case Stall::kTimedOut:
      return "it was still at work at the deadline";
  }
  return "";
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

  // Keeps the first conversation that breaks `requirement`: the shortest is drawn first.
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
  }

  void not_verified(Requirement requirement, const std::string& why) {
    Outcome& outcome = outcome_of(requirement);
    if (outcome.standing == Standing::kNotVerified && outcome.not_verified.empty()) {
      outcome.not_verified = why;
    }
  }

  // What every dialogue shows: standard error, and each line's framing, form and
  // envelope. Returns each line's message (none for a line that is none).
  std::vector<Json> judge_lines(const Trial& trial, const Exchange& exchange) {
    if (exchange.error_bytes > 0) {
      failed(Requirement::kSilentOnStandardError, trial, exchange, 0, 0,
             "it wrote " + std::to_string(exchange.error_bytes) + " bytes to standard error: \"" +
                 visible_prefix(exchange.error_head, SHOWN_LINE) + "\"");
    } else if (exchange.started) {
      held(Requirement::kSilentOnStandardError);
    }
    std::vector<Json> messages;
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
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
    LineProblem ignored;
    if (!exchange.lines.empty()) {
      if (const Json first = parse_written_line(exchange.lines[0].bytes, &ignored);
          first && type_of(first.get()) == "handshake_result") {
        const json_t* id = json_object_get(first.get(), "extension_id");
        const json_t* version = json_object_get(first.get(), "extension_version");
        conformance_->extension_id = json_is_string(id) ? json_string_value(id) : "";
        conformance_->extension_version = json_is_string(version) ? json_string_value(version) : "";
      }
    }
    const std::vector<Json> messages = judge_lines(trial, exchange);
    if (messages.empty() || !messages[0] || type_of(messages[0].get()) != "handshake_result") {
      if (!exchange.lines.empty()) {
        failed(Requirement::kSilentBeforeHandshake, trial, exchange, 1, 0,
               "its first line is not \"handshake_result\"");
      }
    } else {
      held(Requirement::kSilentBeforeHandshake);
      if (const std::string problem = handshake_result_problem(messages[0].get());
          !problem.empty()) {
        failed(Requirement::kEnvelope, trial, exchange, 1, 0, problem);
      }
    }
    // Both lines must come while the host waits with the input open, before "shutdown".
    std::size_t announced = 0;
    for (const WrittenLine& line : exchange.lines) {
      announced += line.after_steps == 1 && !line.after_input_closed ? 1 : 0;
    }
    if (announced < 2 || exchange.stall != Stall::kNone) {
      const std::string words = exchange.stall == Stall::kNone || exchange.stalled_at != 0
                                    ? "it did not write both lines before the host wrote on"
                                    : stall_words(exchange.stall);
      failed(Requirement::kAnnouncesUnasked, trial, exchange, 0, 0,
             "the host awaited \"handshake_result\" and \"register\" after the handshake, and "
             "had " +
                 std::to_string(announced) + " of them when it stopped waiting: " + words);
    } else {
      held(Requirement::kAnnouncesUnasked);
    }
    if (messages.size() < 2 || !messages[1] || type_of(messages[1].get()) != "register") {
      failed(Requirement::kDescriptors, trial, exchange, messages.size() < 2 ? 0 : 2, 0,
             "no \"register\" line came second");
    } else if (const std::string problem =
                   register_problem(messages[1].get(), &conformance_->catalogue);
               !problem.empty()) {
      failed(Requirement::kDescriptors, trial, exchange, 2, 0, problem);
    } else {
      held(Requirement::kDescriptors);
      for (const AnnouncedCallable& callable : conformance_->catalogue) {
        if (const std::string naming =
                callable_name_problem(callable.name, conformance_->extension_id);
            !naming.empty()) {
          failed(Requirement::kNaming, trial, exchange, 2, 0, naming);
        }
      }
      held(Requirement::kNaming);
    }
    if (exchange.stall == Stall::kNone) {
      judge_shutdown(trial, exchange, 1);
    }
  }

  // After "shutdown", the step after `last_step`: nothing written, an end while the input
  // is open, status 0.
  void judge_shutdown(const Trial& trial, const Exchange& exchange, std::size_t last_step) {
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      if (exchange.lines[index].after_steps > last_step) {
        failed(Requirement::kShutdown, trial, exchange, index + 1, 0,
               "it wrote a line after \"shutdown\"");
        return;
      }
    }
    if (exchange.stall != Stall::kNone) {
      failed(Requirement::kShutdown, trial, exchange, 0, 0,
             "it did not end after \"shutdown\" while its input stayed open: " +
                 stall_words(exchange.stall));
    } else if (exchange.termination.signaled || exchange.termination.code != 0 ||
               !exchange.ended_in_time) {
      failed(Requirement::kShutdown, trial, exchange, 0, 0,
             "after \"shutdown\": " + describe(exchange.termination) + ", not exit status 0");
    } else {
      held(Requirement::kShutdown);
    }
  }

  // An end that only status 2 and silence may make, after `steps` lines of the host.
  void judge_violation_end(const Trial& trial, const Exchange& exchange, std::size_t steps,
                           const std::string& violation) {
    for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
      if (exchange.lines[index].after_steps >= steps) {
        failed(Requirement::kViolationEnds, trial, exchange, index + 1, 0,
               "it wrote a line after " + violation);
        return;
      }
    }
    if (exchange.stall == Stall::kAsleep || exchange.stall == Stall::kTimedOut) {
      failed(Requirement::kViolationEnds, trial, exchange, 0, 0,
             "it went on after " + violation + ": " + stall_words(exchange.stall));
    } else if (exchange.termination.signaled || exchange.termination.code != 2) {
      failed(Requirement::kViolationEnds, trial, exchange, 0, 0,
             "after " + violation + ": " + describe(exchange.termination) + ", not exit status 2");
    } else {
      held(Requirement::kViolationEnds);
    }
  }

  void judge_calls(const Trial& trial, const Exchange& exchange) {
    const std::vector<Json> messages = judge_lines(trial, exchange);
    const std::size_t steps = trial.dialogue.steps.size();
    for (std::size_t step = 1; step + 1 < steps && step < exchange.steps_written; ++step) {
      const std::string& request_id = trial.request_ids[step];
      std::vector<std::size_t> answers;
      for (std::size_t index = 0; index < exchange.lines.size(); ++index) {
        if (exchange.lines[index].after_steps == step + 1 &&
            !exchange.lines[index].after_input_closed) {
          answers.push_back(index);
        }
      }
      if (exchange.stall != Stall::kNone && exchange.stalled_at == step && answers.empty()) {
        if (exchange.stall == Stall::kEnded && !trial.answer_owed) {
          // A refusal: the extension's right outside the arity, or for a type unknown.
          judge_violation_end(trial, exchange, step + 1, "it refused the call");
        } else {
          failed(Requirement::kAnswersInOrder, trial, exchange, 0, 0,
                 "the host awaited the answer to call \"" + visible(request_id) +
                     "\" and none came: " + stall_words(exchange.stall) +
                     (exchange.stall == Stall::kEnded ? " (" + describe(exchange.termination) + ")"
                                                      : ""));
        }
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
                 describe(exchange.termination) + ", not exit status 3");
        } else {
          held(Requirement::kCommandLine);
        }
        return;
      case TrialKind::kEndOfInput:
        judge_lines(trial, exchange);
        if (exchange.stall != Stall::kNone) {
          return;  // told by the announcement
        }
        if (exchange.lines.size() > 2) {
          failed(Requirement::kEndOfInput, trial, exchange, 3, 0,
                 "it wrote a line after its input closed");
        } else if (exchange.termination.signaled || exchange.termination.code != 0 ||
                   !exchange.ended_in_time) {
          failed(
              Requirement::kEndOfInput, trial, exchange, 0, 0,
              "at the end of its input: " + describe(exchange.termination) + ", not exit status 0");
        } else {
          held(Requirement::kEndOfInput);
        }
        return;
      case TrialKind::kCallsWithin:
      case TrialKind::kCallOutside:
        judge_calls(trial, exchange);
        return;
      case TrialKind::kViolation:
        judge_lines(trial, exchange);
        if (exchange.stall == Stall::kNone || exchange.stalled_at != 0) {
          judge_violation_end(trial, exchange, 2, trial.dialogue.title);
        }
        return;
      case TrialKind::kViolationFirstLine:
        judge_lines(trial, exchange);
        judge_violation_end(trial, exchange, 0, trial.dialogue.title);
        return;
    }
  }

 private:
  Outcome& outcome_of(Requirement requirement) {
    return conformance_->outcomes.at(static_cast<std::size_t>(requirement));
  }

  Conformance* conformance_;
};

}  // namespace

bool Conformance::conforms() const {
  for (const RequirementRow& row : REQUIREMENTS) {
    if (row.level == Level::kMust &&
        outcomes.at(static_cast<std::size_t>(row.requirement)).standing == Standing::kFailed) {
      return false;
    }
  }
  return true;
}

Conformance judge_conformance(const std::vector<std::string>& command, const Sandbox& sandbox,
                              std::chrono::milliseconds timeout) {
  const Clock::time_point started = Clock::now();
  Conformance conformance;
  Judge judge(&conformance);
  const auto hold = [&](const Trial& trial) {
    const Exchange exchange = hold_dialogue(command, sandbox, trial.dialogue, timeout);
    ++conformance.dialogues;
    judge.judge(trial, exchange);
    return exchange;
  };
  const Trial announcement = announcement_trial();
  const Exchange first = hold(announcement);
  for (const Trial& trial : protocol_trials()) {
    hold(trial);
  }
  const bool announced =
      conformance.outcomes.at(static_cast<std::size_t>(Requirement::kDescriptors)).standing ==
      Standing::kHeld;
  if (announced) {
    for (const Trial& trial : catalogue_trials(conformance.extension_id, conformance.catalogue)) {
      hold(trial);
    }
  } else {
    const std::string why = "no catalogue to draw calls from: its announcement failed";
    judge.not_verified(Requirement::kAnswersInOrder, why);
    judge.not_verified(Requirement::kErrorMembers, why);
  }
  judge.not_verified(Requirement::kErrorMembers,
                     announced ? "no call was answered by an \"error\"" : "");
  judge.not_verified(Requirement::kAnswersInOrder, "no callable was announced");
  for (const Requirement requirement :
       {Requirement::kSilentBeforeHandshake, Requirement::kEnvelope, Requirement::kShutdown,
        Requirement::kNaming, Requirement::kEndOfInput}) {
    judge.not_verified(requirement, first.started
                                        ? "its announcement did not come"
                                        : "it could not be started: " + first.start_error);
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
              (evidence.byte > 0 ? ", byte " + std::to_string(evidence.byte) : "") + ": " +
              evidence.problem + "\n";
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
  text += "== " + describe(evidence.exchange.termination) + "\n";
  if (evidence.line == 0) {
    text += "   " + evidence.problem + "\n";
  }
  return text;
}
