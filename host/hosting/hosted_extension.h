// One extension as a host application holds it: started in its sandbox, its announcement
// read, its calls matched to their answers in order, and its end in steps.
//
// The one core of a host of one extension: the library's C API (library/) is a thin layer
// over it, and the kit's commands use it where they hold an extension as a host
// application would. It speaks C++ and reports through Status (a status of
// extension_host.h and the reason in words), never through exceptions. It is not safe for
// threads by itself; the C API serializes the calls on one handle.
#ifndef HOST_HOSTING_HOSTED_EXTENSION_H_
#define HOST_HOSTING_HOSTED_EXTENSION_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversation/descriptor.h"
#include "extension_host.h"
#include "hosting/error_lines.h"
#include "hosting/host_settings.h"
#include "process/child_process.h"

// A status and, when it is not EH_OK, why.
struct Status {
  eh_status status = EH_OK;
  std::string why;
  [[nodiscard]] bool ok() const { return status == EH_OK; }
};

// One callable's descriptor, as announced.
struct CallableDescriptor {
  std::string name, input, output, effect, threading;
  long long minimum_arity = 0, maximum_arity = 0;
  bool action = false, cancel = false, lazy = false, sendable = false;
};

// The answer to one call.
struct Reply {
  std::uint64_t ticket = 0;
  bool failed = false;
  std::string value;                // compact JSON, for a value
  std::string kind, code, message;  // for a failure
  std::int64_t microseconds = 0;
};

class HostedExtension : private TranscriptSink {
 public:
  // Starts `command` with `settings` (copied), and reads its announcement. Returns the
  // extension with what came of it in `*outcome`; when that is not ok, the extension holds
  // nothing that runs, and can only tell why.
  // `interrupt` (not owned; -1 for none), once readable, cuts every wait short.
  static std::unique_ptr<HostedExtension> start(std::shared_ptr<const HostSettings> settings,
                                                std::shared_ptr<const Sandbox> sandbox,
                                                std::vector<std::string> command, int interrupt,
                                                Status* outcome);

  HostedExtension(const HostedExtension&) = delete;
  HostedExtension& operator=(const HostedExtension&) = delete;
  HostedExtension(HostedExtension&&) = delete;
  HostedExtension& operator=(HostedExtension&&) = delete;
  ~HostedExtension() override;

  [[nodiscard]] const std::shared_ptr<const HostSettings>& settings() const { return settings_; }
  [[nodiscard]] const std::shared_ptr<const Sandbox>& sandbox() const { return sandbox_; }
  [[nodiscard]] const std::vector<std::string>& command() const { return command_; }
  [[nodiscard]] const std::string& extension_id() const { return extension_id_; }
  [[nodiscard]] const std::string& extension_version() const { return extension_version_; }
  [[nodiscard]] const std::string& sandbox_words() const { return sandbox_words_; }
  [[nodiscard]] const std::vector<CallableDescriptor>& catalogue() const { return catalogue_; }
  // The catalogue as calls are checked against it.
  [[nodiscard]] const std::vector<AnnouncedCallable>& announced() const { return announced_; }
  // What is wrong with the first entry of its catalogue that cannot be read; "" when none
  // is, or none came.
  [[nodiscard]] const std::string& catalogue_fault() const { return catalogue_fault_; }
  // Every byte it wrote to its output.
  [[nodiscard]] std::size_t output_total() const { return child_ ? child_->output_total() : 0; }

  // Queues a call after those before it and writes what can be written now. REQUIRES:
  // `arguments` is the text of a JSON array (else EH_INVALID).
  Status submit(const std::string& callable, const std::string& arguments, std::uint64_t* ticket);
  // Moves what can move now, never waiting, and judges the deadlines.
  Status perform();
  // Waits for the answer to the call `ticket` and takes it into `*reply`, until its
  // deadline or an interrupt (EH_CANCELLED). Answers to calls before it stay queued.
  Status await_answer(std::uint64_t ticket, Reply* reply);
  // The oldest answer, if it has come: EH_OK, EH_AGAIN, or why none will.
  Status next_reply(Reply* reply);
  [[nodiscard]] std::size_t pending() const { return pending_.size() + replies_.size(); }
  // Milliseconds to the nearest call deadline, or -1.
  [[nodiscard]] int timeout_ms() const;
  // The descriptors to watch now, with their poll events.
  [[nodiscard]] Watched watched() const;

  // Ends it in steps; ends it at once.
  Status stop();
  Status kill();
  [[nodiscard]] bool ended() const { return ending_.has_value(); }
  [[nodiscard]] eh_end_step end_step() const { return ended() ? end_step_ : EH_RUNNING; }
  [[nodiscard]] const std::optional<Termination>& ending() const { return ending_; }
  [[nodiscard]] const std::string& ending_words() const { return ending_words_; }
  [[nodiscard]] std::string error_output() const;

  Status write_raw(std::string_view bytes);
  Status close_input();
  // The next line within `wait`; `*arrived` when its last byte was read.
  Status read_line(std::chrono::milliseconds wait, std::string* line, Clock::time_point* arrived);

 private:
  struct Pending {
    std::uint64_t ticket;
    std::string request_id;
    Clock::time_point sent_at;  // when its last byte was written, once it was
    bool sent = false;
    std::size_t ends_at = 0;  // the outbox offset just past its line
  };

  HostedExtension(std::shared_ptr<const HostSettings> settings,
                  std::shared_ptr<const Sandbox> sandbox, std::vector<std::string> command,
                  int interrupt);
  Status open();
  [[nodiscard]] bool interrupted() const;
  // EH_ENDED, with how it ended.
  [[nodiscard]] Status has_ended() const;
  // Ends it step by step (see stop), each step after the one before did not: which one did.
  eh_end_step end_in_steps();
  // When the line that ends `taken` bytes into all output came.
  Clock::time_point arrival_of(std::size_t taken);
  // Reads and checks the announcement: "handshake_result", then "register".
  Status read_announcement();
  // Waits for the next line of the announcement (`awaited`, in words) until `deadline`,
  // counted while it is at work, and takes it into `*line`.
  Status await_announced_line(Clock::time_point deadline, const char* awaited, std::string* line);
  // Takes every whole line, answering pending calls in order: those held, after reading
  // what has come when `read_first`.
  Status take_lines(bool read_first);
  // Whether it can go on: its input taken, its output not ended with calls unanswered, the
  // oldest call within its deadline.
  Status judge();
  Status take_answer(std::string_view line);
  // Writes what the outbox holds, as far as the input takes it now.
  void flush();
  // A fault: it is ended at once, and every later call says why.
  Status fail(eh_status status, std::string why);
  // It can take or answer no more calls: EH_ENDED, saying `how`, how many calls were left
  // and how it ended.
  Status ended_with_calls_unanswered(const char* how);
  void record_ending(eh_end_step step, const Termination& termination);
  void took(std::string_view bytes) override;
  void wrote(std::string_view bytes) override;

  std::shared_ptr<const HostSettings> settings_;
  std::vector<std::string> command_;
  std::shared_ptr<const Sandbox> sandbox_;  // held for the child's life
  int interrupt_;
  std::optional<ChildProcess> child_;
  ErrorLines error_lines_;
  std::string extension_id_, extension_version_, sandbox_words_;
  std::vector<CallableDescriptor> catalogue_;
  std::vector<AnnouncedCallable> announced_;  // as calls are checked against it
  std::string catalogue_fault_;
  std::string outbox_;              // bytes not yet written
  std::size_t outbox_written_ = 0;  // of all ever queued, how many were written
  std::size_t outbox_queued_ = 0;   // all ever queued
  std::deque<Pending> pending_;     // sent or queued, in order, not yet answered
  std::deque<Reply> replies_;       // answered, not yet taken
  std::uint64_t next_ticket_ = 1;
  // Where each piece of output ended (all output counted) and when it came.
  std::deque<std::pair<std::size_t, Clock::time_point>> arrivals_;
  std::size_t output_read_ = 0;   // output bytes read from the pipe
  std::size_t output_taken_ = 0;  // output bytes taken as lines
  std::optional<Status> fault_;   // why it can go on no more
  std::optional<Termination> ending_;
  eh_end_step end_step_ = EH_RUNNING;
  std::string ending_words_;
  bool shutdown_sent_ = false;
};

#endif  // HOST_HOSTING_HOSTED_EXTENSION_H_
