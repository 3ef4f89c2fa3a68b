// Starting, calling and ending one extension for a host application.
#include "hosting/hosted_extension.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/json.h"
#include "conversation/call_check.h"
#include "conversation/calls.h"
#include "conversation/session.h"
#include "text/visible.h"

namespace {

constexpr char HANDSHAKE[] = "{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n";
constexpr char SHUTDOWN[] = "{\"type\":\"shutdown\"}\n";
// The usage status of the protocol: the command line was refused.
constexpr int EXIT_USAGE = 3;
// How long what it left running may take to be judged, once it has exited.
constexpr std::chrono::seconds SETTLING{12};
// A line as a reason shows it: made visible, and shortened.
std::string shown_line(std::string_view line) { return shown(line, /*raw=*/false); }

// One line as a protocol message: a JSON object, duplicate keys refused.
Json parse_message(std::string_view line, std::string* why) {
  json_error_t error;
  Json message = parse_line(line, &error);
  if (!message) {
    *why = "it wrote a line that is not JSON (" + visible(error.text) + "): " + shown_line(line);
    return nullptr;
  }
  if (!json_is_object(message.get())) {
    *why = "it wrote a line that is not a JSON object: " + shown_line(line);
    return nullptr;
  }
  return message;
}

std::string compact(const json_t* value) {
  char* text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY);
  if (text == nullptr) {
    return "";
  }
  std::string copy(text);
  free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
  return copy;
}

CallableDescriptor descriptor_of(const json_t* entry) {
  CallableDescriptor descriptor;
  descriptor.name = string_member(entry, "name");
  descriptor.input = string_member(entry, "input");
  descriptor.output = string_member(entry, "output");
  descriptor.effect = string_member(entry, "effect");
  descriptor.threading = string_member(entry, "threading");
  descriptor.minimum_arity = json_integer_value(json_object_get(entry, "minimum_arity"));
  descriptor.maximum_arity = json_integer_value(json_object_get(entry, "maximum_arity"));
  descriptor.action = json_is_true(json_object_get(entry, "action"));
  descriptor.cancel = json_is_true(json_object_get(entry, "cancel"));
  descriptor.lazy = json_is_true(json_object_get(entry, "lazy"));
  descriptor.sendable = json_is_true(json_object_get(entry, "sendable"));
  return descriptor;
}

const char* step_words(eh_end_step step) {
  switch (step) {
    case EH_ENDED_ALONE:
      return " before the host asked it to end";
    case EH_AFTER_SHUTDOWN:
      return " after \"shutdown\"";
    case EH_AFTER_CLOSED_INPUT:
      return " after its input was closed, as it had not ended after \"shutdown\"";
    case EH_AFTER_TERMINATE:
      return " after SIGTERM, as it had not ended when its input was closed";
    case EH_KILLED:
    case EH_RUNNING:
      return "";
  }
  return "";
}

}  // namespace

HostedExtension::HostedExtension(std::shared_ptr<const HostSettings> settings,
                                 std::shared_ptr<const Sandbox> sandbox,
                                 std::vector<std::string> command, int interrupt)
    : settings_(std::move(settings)),
      command_(std::move(command)),
      sandbox_(std::move(sandbox)),
      interrupt_(interrupt),
      error_lines_(settings_->error_line, settings_->error_context) {}

HostedExtension::~HostedExtension() {
  if (child_ && !ending_) {
    kill();
  }
}

std::unique_ptr<HostedExtension> HostedExtension::start(
    std::shared_ptr<const HostSettings> settings, std::shared_ptr<const Sandbox> sandbox,
    std::vector<std::string> command, int interrupt, Status* outcome) {
  std::unique_ptr<HostedExtension> extension(
      new HostedExtension(std::move(settings), std::move(sandbox), std::move(command), interrupt));
  *outcome = extension->open();
  return extension;
}

Status HostedExtension::open() {
  sandbox_words_ = sandbox_->description();
  if (std::string hidden = sandbox_->hides(command_); !hidden.empty()) {
    fault_ = Status{EH_CANNOT_START, std::move(hidden)};
    return *fault_;
  }
  ChildOptions options;
  options.sandbox = sandbox_.get();
  options.kept_output = EH_MAX_LINE;
  options.transcript = this;
  options.error_sink = &error_lines_;
  options.interrupt = interrupt_;
  std::string error;
  std::optional<ChildProcess> started = ChildProcess::start(command_, &error, options);
  if (!started) {
    fault_ = Status{EH_CANNOT_START, error};
    return *fault_;
  }
  child_.emplace(std::move(*started));
  const Clock::time_point deadline = Clock::now() + settings_->start;
  if (!child_->send(HANDSHAKE, deadline) && !child_->input_open()) {
    // It closed its input before the handshake: what it wrote, and how it ended, say why.
    child_->await_exit(deadline);
  }
  return read_announcement();
}

Status HostedExtension::await_announced_line(Clock::time_point deadline, const char* awaited,
                                             std::string* line) {
  const auto a_line = [](std::string_view held) { return held.find('\n') != std::string::npos; };
  const Awaited came = child_->await_held_while_at_work(a_line, deadline);
  if (came == Awaited::kAsleep) {
    return fail(EH_ASLEEP,
                std::string("it waited for nothing, asleep, where ") + awaited + " was awaited");
  }
  if (came == Awaited::kTimedOut) {
    return fail(EH_TIMED_OUT, std::string("it had not written ") + awaited + " " +
                                  std::to_string(settings_->start.count()) +
                                  " ms into its work, and the host ended it");
  }
  if (came == Awaited::kEnded && child_->output_total() == 0) {
    const Termination termination = child_->wait(Clock::now() + settings_->terminate);
    const bool refused = !termination.signaled && termination.code == EXIT_USAGE;
    return fail(refused ? EH_REFUSED_COMMAND_LINE : EH_NO_HANDSHAKE,
                refused ? "it refused its command line: " + describe(termination) +
                              R"( before a word (is "--protocol" "1" in it?))"
                        : "it ended without a word: " + describe(termination));
  }
  const LineRead read = child_->read_line(line, EH_MAX_LINE, Clock::now());
  output_taken_ += line->size();
  if (read == LineRead::kLine) {
    return {};
  }
  return fail(EH_NO_HANDSHAKE,
              line->empty() ? std::string("its output ended where ") + awaited + " was awaited"
                            : "its output ended inside a line: " + shown_line(*line));
}

Status HostedExtension::read_announcement() {
  // Each line is judged as it comes: one that is not what is awaited is said at once, not
  // after a second that may never come.
  const Clock::time_point deadline = Clock::now() + settings_->start;
  std::string lines[2];
  if (Status first = await_announced_line(deadline, R"("handshake_result")", &lines[0]);
      !first.ok()) {
    return first;
  }
  std::string why;
  const Json result = parse_message(lines[0], &why);
  if (!result) {
    return fail(EH_NO_HANDSHAKE, why + ", where \"handshake_result\" was awaited");
  }
  if (string_member(result.get(), "type") != "handshake_result") {
    return fail(EH_NO_HANDSHAKE, "it answered the handshake with " + shown_line(lines[0]));
  }
  extension_id_ = string_member(result.get(), "extension_id");
  extension_version_ = string_member(result.get(), "extension_version");
  if (Status second = await_announced_line(deadline, R"("register")", &lines[1]); !second.ok()) {
    return second;
  }
  const Json registration = parse_message(lines[1], &why);
  if (!registration) {
    return fail(EH_VIOLATION, why + ", where \"register\" was awaited");
  }
  if (string_member(registration.get(), "type") != "register") {
    return fail(EH_VIOLATION,
                "it wrote " + shown_line(lines[1]) + " where \"register\" was awaited");
  }
  if (extension_id_.empty()) {
    extension_id_ = string_member(registration.get(), "extension_id");
  }
  catalogue_fault_ = read_catalogue(registration.get(), &announced_);
  if (!catalogue_fault_.empty()) {
    return fail(EH_VIOLATION, "its catalogue cannot be read: " + catalogue_fault_);
  }
  const json_t* callables = json_object_get(registration.get(), "callables");
  for (std::size_t i = 0; i < json_array_size(callables); ++i) {
    catalogue_.push_back(descriptor_of(json_array_get(callables, i)));
  }
  // Whatever came after the announcement, unasked, is judged as any line is.
  if (Status taken = take_lines(/*read_first=*/true); !taken.ok()) {
    return taken;
  }
  return {};
}

Status HostedExtension::has_ended() const { return {EH_ENDED, "it has ended: " + ending_words_}; }

bool HostedExtension::interrupted() const {
  if (interrupt_ < 0) {
    return false;
  }
  pollfd ready = {interrupt_, POLLIN, 0};
  return poll(&ready, 1, 0) > 0;
}

void HostedExtension::took(std::string_view /*bytes*/) {}

void HostedExtension::wrote(std::string_view bytes) {
  output_read_ += bytes.size();
  arrivals_.emplace_back(output_read_, Clock::now());
}

Clock::time_point HostedExtension::arrival_of(std::size_t taken) {
  Clock::time_point arrived = Clock::now();
  for (const auto& [end, when] : arrivals_) {
    if (end >= taken) {
      arrived = when;
      break;
    }
  }
  while (!arrivals_.empty() && arrivals_.front().first <= taken) {
    arrivals_.pop_front();
  }
  return arrived;
}

Status HostedExtension::fail(eh_status status, std::string why) {
  if (!fault_) {
    fault_ = Status{status, std::move(why)};
  }
  if (child_ && !ending_) {
    // One whose output has ended is ending: its own end, when it comes, is how it ended,
    // not the host's kill.
    if (child_->output_ended()) {
      child_->await_exit(Clock::now() + settings_->terminate);
    }
    const bool alone = child_->exited();
    const Termination termination =
        alone ? child_->wait(Clock::now() + settings_->terminate) : child_->kill_now();
    record_ending(alone ? EH_ENDED_ALONE : EH_KILLED, termination);
  }
  return *fault_;
}

Status HostedExtension::ended_with_calls_unanswered(const char* how) {
  if (fault_) {
    return *fault_;
  }
  const std::size_t unanswered = pending_.size();
  fail(EH_ENDED, "");
  fault_->why = std::string(how) + " with " + std::to_string(unanswered) +
                (unanswered == 1 ? " call" : " calls") + " unanswered (" + ending_words_ + ")";
  return *fault_;
}

void HostedExtension::record_ending(eh_end_step step, const Termination& termination) {
  error_lines_.finish();
  end_step_ = step;
  ending_ = termination;
  ending_words_ = describe(termination) + step_words(step);
}

Status HostedExtension::submit(const std::string& callable, const std::string& arguments,
                               std::uint64_t* ticket) {
  if (fault_) {
    return *fault_;
  }
  if (ending_ || !child_) {
    return has_ended();
  }
  std::string problem;
  std::optional<Call> call = parse_call(callable, arguments, &problem);
  if (!call) {
    return {EH_INVALID, problem};
  }
  if (settings_->check_calls) {
    if (std::string unfit = unfit_call(*call, announced_); !unfit.empty()) {
      return {EH_UNFIT_CALL, std::move(unfit)};
    }
  }
  // The line is put together from its parts as the encoder would write them: a call is
  // the one message a host writes many of.
  const Json name(json_stringn(callable.data(), callable.size()));
  if (!name) {
    return {EH_INVALID, "the callable's name is not UTF-8: " + visible(callable)};
  }
  const std::uint64_t number = next_ticket_++;
  const std::string request_id = std::to_string(number);
  std::string line = R"({"type":"call","request_id":")";
  line += request_id;
  line += R"(","callable":)";
  line += compact(name.get());
  line += R"(,"arguments":)";
  line += compact(call->arguments.get());
  line += "}\n";
  outbox_ += line;
  outbox_queued_ += line.size();
  pending_.push_back(Pending{number, request_id, {}, false, outbox_queued_});
  *ticket = number;
  return {};
}

void HostedExtension::flush() {
  // A call's time is counted from before the write that took its last byte: never less
  // than the extension had it.
  const Clock::time_point now = Clock::now();
  if (!outbox_.empty() && child_->input_open()) {
    const std::size_t written = child_->send_now(outbox_);
    outbox_.erase(0, written);
    outbox_written_ += written;
  }
  for (Pending& call : pending_) {
    if (call.sent) {
      continue;
    }
    if (call.ends_at > outbox_written_) {
      break;
    }
    call.sent = true;
    call.sent_at = now;
  }
}

Status HostedExtension::take_lines(bool read_first) {
  if (read_first) {
    child_->read_available();
  }
  std::string rest;
  Status answered;
  const LineRead after = child_->take_held_lines(
      [&](std::string_view line) {
        output_taken_ += line.size();
        answered = take_answer(line);
        return answered.ok();
      },
      &rest, EH_MAX_LINE);
  if (!answered.ok()) {
    return answered;
  }
  if (after == LineRead::kTooLong) {
    return fail(EH_VIOLATION, "it wrote a line longer than the longest taken (" +
                                  std::to_string(EH_MAX_LINE) + " bytes)");
  }
  output_taken_ += rest.size();
  if (after == LineRead::kEndOfOutput && !rest.empty()) {
    return fail(EH_VIOLATION, "its output ended inside a line: " + shown_line(rest));
  }
  return {};
}

Status HostedExtension::take_answer(std::string_view line) {
  std::string why;
  const Json message = parse_message(line, &why);
  if (!message) {
    return fail(EH_VIOLATION, why);
  }
  if (pending_.empty() || !pending_.front().sent) {
    return fail(EH_VIOLATION, "it wrote when no call awaited an answer: " + shown_line(line));
  }
  const Pending& call = pending_.front();
  const std::string type = string_member(message.get(), "type");
  const json_t* request_id = json_object_get(message.get(), "request_id");
  if (type != "call_result" && type != "error") {
    return fail(EH_VIOLATION, "it answered call " + call.request_id + " with " + shown_line(line));
  }
  if (!json_is_string(request_id) ||
      string_member(message.get(), "request_id") != call.request_id) {
    return fail(EH_VIOLATION, R"(its answer's "request_id" is not ")" + call.request_id +
                                  R"(", the call's awaiting an answer: )" + shown_line(line));
  }
  Reply reply;
  reply.ticket = call.ticket;
  reply.failed = type == "error";
  if (reply.failed) {
    for (const char* member : {"kind", "code", "message"}) {
      if (!json_is_string(json_object_get(message.get(), member))) {
        return fail(EH_VIOLATION, std::string(R"(its "error" has no string ")") + member +
                                      "\": " + shown_line(line));
      }
    }
    reply.kind = string_member(message.get(), "kind");
    reply.code = string_member(message.get(), "code");
    reply.message = string_member(message.get(), "message");
  } else {
    const json_t* value = json_object_get(message.get(), "value");
    if (value == nullptr) {
      return fail(EH_VIOLATION, R"(its "call_result" has no "value": )" + shown_line(line));
    }
    reply.value = compact(value);
  }
  reply.microseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                           arrival_of(output_taken_) - call.sent_at)
                           .count();
  pending_.pop_front();
  replies_.push_back(std::move(reply));
  return {};
}

Status HostedExtension::perform() {
  if (fault_) {
    return *fault_;
  }
  if (ending_ || !child_) {
    return has_ended();
  }
  flush();
  if (Status taken = take_lines(/*read_first=*/true); !taken.ok()) {
    return taken;
  }
  return judge();
}

Status HostedExtension::judge() {
  if (!outbox_.empty() && !child_->input_open()) {
    return ended_with_calls_unanswered("it closed its input");
  }
  if (child_->output_ended() || child_->exited()) {
    // Whatever it wrote before its end has been taken above.
    if (!pending_.empty()) {
      return ended_with_calls_unanswered("it ended");
    }
  }
  if (!pending_.empty() && pending_.front().sent &&
      Clock::now() - pending_.front().sent_at >= settings_->call) {
    return fail(EH_TIMED_OUT, "call " + pending_.front().request_id + " was not answered within " +
                                  std::to_string(settings_->call.count()) +
                                  " ms, and the host ended it");
  }
  return {};
}

int HostedExtension::timeout_ms() const {
  if (pending_.empty() || !pending_.front().sent || fault_ || ending_) {
    return -1;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(pending_.front().sent_at +
                                                                 settings_->call - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

Watched HostedExtension::watched() const {
  if (!child_ || ending_) {
    return {};
  }
  return child_->watched(!outbox_.empty());
}

Status HostedExtension::await_answer(std::uint64_t ticket, Reply* reply) {
  flush();
  for (;;) {
    // Its answer may have been read already, with an earlier call's, or before a fault.
    const auto answer = std::find_if(replies_.begin(), replies_.end(),
                                     [&](const Reply& each) { return each.ticket == ticket; });
    if (answer != replies_.end()) {
      *reply = std::move(*answer);
      replies_.erase(answer);
      return {};
    }
    if (fault_) {
      return *fault_;
    }
    if (ending_ || !child_) {
      return has_ended();
    }
    const Watched watching = watched();
    std::array<pollfd, 5> ready{};
    std::copy_n(watching.fds.begin(), watching.count, ready.begin());
    std::size_t count = watching.count;
    if (interrupt_ >= 0) {
      ready.at(count++) = {interrupt_, POLLIN, 0};
    }
    // Once its output and error have ended, what is left is its supervisor's last word.
    const int wait = watching.count == 0 ? 10 : timeout_ms();
    if (poll(ready.data(), count, wait) > 0 && interrupt_ >= 0 &&
        ready.at(count - 1).revents != 0) {
      return {EH_CANCELLED, "another thread stopped the extension while its answer was awaited"};
    }
    // What the poll found ready is read, without a second look; a fault found is said
    // above, once no answer came before it.
    child_->move_ready(ready.data(), watching.count);
    flush();
    if (take_lines(/*read_first=*/false).ok()) {
      judge();
    }
  }
}

Status HostedExtension::next_reply(Reply* reply) {
  if (!replies_.empty()) {
    *reply = std::move(replies_.front());
    replies_.pop_front();
    return {};
  }
  if (fault_) {
    return *fault_;
  }
  if (ending_) {
    return has_ended();
  }
  return {EH_AGAIN, ""};
}

Status HostedExtension::stop() {
  if (!child_) {
    return fault_ ? *fault_ : Status{EH_ENDED, "it never started"};
  }
  if (ending_) {
    return {};
  }
  flush();
  take_lines(/*read_first=*/true);
  if (ending_) {
    return {};  // a fault ended it
  }
  const eh_end_step step = child_->exited() ? EH_ENDED_ALONE : end_in_steps();
  if (!ending_) {
    // Its supervisor judges what it left running once its input is closed.
    child_->close_input();
    const Termination termination = child_->wait(Clock::now() + SETTLING);
    // Answers it wrote before it ended are answers all the same.
    take_lines(/*read_first=*/true);
    if (!ending_) {
      record_ending(step, termination);
    }
  }
  return {};
}

eh_end_step HostedExtension::end_in_steps() {
  if (!shutdown_sent_ && child_->input_open()) {
    shutdown_sent_ = true;
    outbox_ += SHUTDOWN;
    const Clock::time_point deadline = Clock::now() + settings_->shutdown;
    if (child_->send(outbox_, deadline)) {
      outbox_.clear();
    }
    if (child_->await_exit(deadline)) {
      return EH_AFTER_SHUTDOWN;
    }
  }
  child_->close_input();
  if (child_->await_exit(Clock::now() + settings_->closed_input)) {
    return EH_AFTER_CLOSED_INPUT;
  }
  child_->terminate();
  if (child_->await_exit(Clock::now() + settings_->terminate)) {
    return EH_AFTER_TERMINATE;
  }
  record_ending(EH_KILLED, child_->kill_now());
  return EH_KILLED;
}

Status HostedExtension::kill() {
  if (!child_) {
    return fault_ ? *fault_ : Status{EH_ENDED, "it never started"};
  }
  if (!ending_) {
    const bool alone = child_->exited();
    record_ending(alone ? EH_ENDED_ALONE : EH_KILLED, child_->kill_now());
  }
  return {};
}

std::string HostedExtension::error_output() const {
  if (!child_) {
    return "";
  }
  const BoundedText& error = child_->error_output();
  return error.cut() ? error.for_people() : error.head();
}

Status HostedExtension::write_raw(std::string_view bytes) {
  if (ending_ || !child_) {
    return has_ended();
  }
  if (child_->send(bytes, Clock::now() + settings_->call)) {
    return {};
  }
  if (interrupted()) {
    return {EH_CANCELLED, "another thread stopped the extension while it was written to"};
  }
  if (!child_->input_open()) {
    return {EH_ENDED, "its input is closed"};
  }
  return {EH_TIMED_OUT, "it did not read what was written within " +
                            std::to_string(settings_->call.count()) + " ms"};
}

Status HostedExtension::close_input() {
  if (child_) {
    child_->close_input();
  }
  return {};
}

Status HostedExtension::read_line(std::chrono::milliseconds wait, std::string* line,
                                  Clock::time_point* arrived) {
  if (!child_) {
    return {EH_ENDED, "it never started"};
  }
  line->clear();
  const LineRead read = child_->read_line(line, EH_MAX_LINE, Clock::now() + wait);
  output_taken_ += line->size();
  *arrived = arrival_of(output_taken_);
  switch (read) {
    case LineRead::kLine:
      return {};
    case LineRead::kTooLong:
      return {EH_VIOLATION, "a line longer than " + std::to_string(EH_MAX_LINE) + " bytes"};
    case LineRead::kEndOfOutput:
      return line->empty() ? Status{EH_ENDED, "its output has ended"} : Status{};
    case LineRead::kTimedOut:
      break;
  }
  if (interrupted()) {
    return {EH_CANCELLED, "another thread stopped the extension while a line was awaited"};
  }
  return {EH_AGAIN, ""};
}
