// Recording: the bytes of a held conversation written as a case folder that check plays,
// as they pass, into a folder beside the case that is put in place only once complete.
#include "commands/record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands/extension_line.h"
#include "commands/options.h"
#include "commands/run.h"
#include "commands/sandbox_options.h"
#include "conversation/case_writer.h"
#include "conversation/play.h"
#include "text/visible.h"

namespace {

constexpr char RECORD_HELP_HEAD[] =
    "usage: extension-host record CASE_DIR [--force] [--max-file-size SIZE] [OPTIONS]\n"
    "           -- EXTENSION_COMMAND_LINE\n"
    "\n"
    "Holds a conversation as 'run' does, with the calls given or typed, and writes it as a\n"
    "golden case in CASE_DIR, which 'check' plays: 'input' (every byte sent, from the\n"
    "handshake to \"shutdown\"), 'output' (every byte received), 'status', 'args' when\n"
    "its arguments are not '--protocol 1', and 'duration' when a call of sample.wait makes\n"
    "time part of the case. The command line after '--' is the extension's as it is run\n"
    "(-- ./ext --protocol 1, or -- node ext.js --protocol 1). The case's own arguments\n"
    "are those from '--protocol' on, so 'check' given the same command line runs it\n"
    "again; recording with '--protocol 2' makes a case of that.\n"
    "An extension that is killed, writes to standard error, leaves a process\n"
    "behind or writes more than SIZE gives no case. The case is written beside CASE_DIR\n"
    "and put in its place whole, so an existing case is never lost.\n"
    "\n"
    "  --force                  replace CASE_DIR if it is a case folder (a folder holding\n"
    "                           only a case's files); nothing else is ever replaced\n"
    "  --max-file-size SIZE     the most the extension may write, and the largest case\n"
    "                           file (default 256M; K, M and G suffixes)\n";

constexpr char RECORD_HELP_TAIL[] =
    "\n"
    "exit status: 0 when the case was written; 1 when the conversation gave none; 2 for a\n"
    "usage error, a CASE_DIR that may not be written among them.\n"
    "\n"
    "example:\n"
    "  extension-host record cases/echo-accent --call sample.echo '[\"\\u00e9\"]' \\\n"
    "      -- sample-extension --protocol 1\n";

// The input and output of a conversation, written to the case's files as they pass, up
// to a bound each: to files with no name until the case is complete, where the file
// system makes them, so that a host killed meanwhile leaves nothing.
class CaseFileSink final : public TranscriptSink {
 public:
  CaseFileSink(CaseWriter* writer, std::size_t limit) : writer_(writer), limit_(limit) {
    input_.fd = writer->unnamed_file();
    output_.fd = input_.fd < 0 ? -1 : writer->unnamed_file();
    if (input_.fd >= 0 && output_.fd >= 0) {
      unnamed_ = true;
      return;
    }
    const std::filesystem::path folder = writer->scratch(&problem_);
    if (folder.empty()) {
      return;
    }
    for (const auto& [stream, name] :
         {std::pair{&input_, "input"}, std::pair{&output_, "output"}}) {
      if (stream->fd >= 0) {
        close(stream->fd);
      }
      stream->fd = open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (stream->fd < 0) {
        problem_ = std::string("cannot write the case: ") + std::strerror(errno);
      }
    }
  }
  CaseFileSink(const CaseFileSink&) = delete;
  CaseFileSink& operator=(const CaseFileSink&) = delete;
  CaseFileSink(CaseFileSink&&) = delete;
  CaseFileSink& operator=(CaseFileSink&&) = delete;
  ~CaseFileSink() override {
    for (const Stream* stream : {&input_, &output_}) {
      if (stream->fd >= 0) {
        close(stream->fd);
      }
    }
  }

  void took(std::string_view bytes) override { keep(&input_, bytes, "sent"); }
  void wrote(std::string_view bytes) override { keep(&output_, bytes, "the extension wrote"); }

  // Syncs both files, and names them in the case's folder. Returns why the case cannot
  // be kept, or "".
  std::string finish() {
    for (const Stream* stream : {&input_, &output_}) {
      if (problem_.empty() && stream->fd >= 0 && fsync(stream->fd) != 0) {
        problem_ = std::string("cannot write the case: ") + std::strerror(errno);
      }
    }
    if (problem_.empty() && unnamed_) {
      const std::filesystem::path folder = writer_->scratch(&problem_);
      if (!folder.empty() && link_into(input_.fd, folder / "input", &problem_)) {
        link_into(output_.fd, folder / "output", &problem_);
      }
    }
    return problem_;
  }
  [[nodiscard]] const std::string& problem() const { return problem_; }
  [[nodiscard]] std::size_t input_bytes() const { return input_.total; }
  [[nodiscard]] std::size_t output_bytes() const { return output_.total; }

 private:
  struct Stream {
    int fd = -1;
    std::size_t total = 0;
  };

  void keep(Stream* stream, std::string_view bytes, const char* what) {
    stream->total += bytes.size();
    if (!problem_.empty()) {
      return;
    }
    if (stream->total > limit_) {
      problem_ = std::string(what) + " more than " + std::to_string(limit_) +
                 " bytes, more than a case file may hold (--max-file-size)";
      return;
    }
    while (!bytes.empty()) {
      const ssize_t put = write(stream->fd, bytes.data(), bytes.size());
      if (put < 0 && errno == EINTR) {
        continue;
      }
      if (put <= 0) {
        problem_ = std::string("cannot write the case: ") + std::strerror(errno);
        return;
      }
      bytes.remove_prefix(static_cast<std::size_t>(put));
    }
  }

  CaseWriter* writer_;  // not owned
  bool unnamed_ = false;
  std::size_t limit_;
  Stream input_;
  Stream output_;
  std::string problem_;
};

// Why the conversation cannot be a case that its own extension passes, or "".
std::string unrecordable(const SessionEnding& ending) {
  if (ending.termination.signaled) {
    return "the extension did not exit on its own (" + describe(ending.termination) + ")";
  }
  if (ending.termination.left_behind > 0) {
    return "the extension left a process running after it had exited";
  }
  if (ending.wrote_error) {
    return "the extension wrote to standard error, which a case requires to stay empty";
  }
  if (ending.refused_call) {
    return "a call did not fit the catalogue and was not sent; mend it, or record it as written "
           "with --send-anyway";
  }
  return "";
}

}  // namespace

int record_command(const std::vector<std::string>& arguments) {
  const std::string help = std::string(RECORD_HELP_HEAD) + RUN_OPTIONS_HELP + "\n" +
                           SANDBOX_OPTIONS_HELP + RECORD_HELP_TAIL;
  // The folder comes first: after it, run's options take values that look like names.
  std::optional<std::filesystem::path> folder;
  std::size_t first_option = 0;
  if (!arguments.empty() && !arguments[0].starts_with("-")) {
    folder = arguments[0];
    first_option = 1;
  }
  std::vector<std::string> rest;
  bool force = false;
  std::size_t max_file_bytes = DEFAULT_MAX_CASE_FILE;
  bool past_options = false;
  for (std::size_t i = first_option; i < arguments.size(); ++i) {
    past_options = past_options || arguments[i] == "--";
    if (!past_options && arguments[i] == "--force") {
      force = true;
    } else if (!past_options && arguments[i] == "--max-file-size" && i + 1 < arguments.size()) {
      std::string problem;
      const std::optional<std::size_t> size =
          parse_size("--max-file-size", arguments[++i], &problem);
      if (!size) {
        return usage_error("record", problem);
      }
      max_file_bytes = *size;
    } else {
      rest.push_back(arguments[i]);
    }
  }
  RunSettings settings;
  if (const std::optional<int> status =
          read_run_settings(rest, "record", folder ? shell_quoted({folder->string()}) : "",
                            help.c_str(), &settings)) {
    return *status;
  }
  if (!folder) {
    return usage_error("record", "name the case folder to write");
  }
  // Before the conversation, which may be typed by hand: a case that could not be kept
  // is said at once.
  std::string problem;
  std::optional<CaseWriter> writer = CaseWriter::prepare(*folder, force, "--force", &problem);
  if (!writer) {
    return usage_error("record", problem);
  }
  CaseFileSink sink(&*writer, max_file_bytes);
  if (!sink.problem().empty()) {
    return usage_error("record", sink.problem());
  }
  const std::optional<SessionEnding> ending = hold_conversation(settings, &sink);
  if (!ending) {
    return 1;
  }
  std::string why = unrecordable(*ending);
  if (why.empty()) {
    why = sink.finish();
  }
  if (!why.empty()) {
    std::printf("== nothing recorded: %s\n", why.c_str());
    return 1;
  }
  Conversation recorded;
  recorded.arguments = case_arguments(settings.extension);
  recorded.status = ending->termination.code;
  if (ending->called_wait) {
    recorded.min_duration = std::chrono::milliseconds(ending->waited_ms);
    // The waits are the lower bound; the upper one is check's own deadline beyond them,
    // which no start-up and no load on the machine can break.
    recorded.max_duration = std::chrono::milliseconds(ending->waited_ms) + DEFAULT_CASE_TIMEOUT;
  }
  const std::filesystem::path scratch = writer->scratch(&problem);
  if (scratch.empty() || !write_case_files(scratch, recorded, /*skip_streams=*/true, &problem) ||
      !writer->commit(&problem)) {
    std::printf("== nothing recorded: %s\n", problem.c_str());
    return 1;
  }
  std::printf("== recorded %s: %zu bytes in, %zu bytes out, exit status %d%s\n",
              visible_name(writer->location().string()).c_str(), sink.input_bytes(),
              sink.output_bytes(), ending->termination.code,
              ending->termination.code == 2
                  ? "; the case ends in a protocol violation: the extension refused a line"
                  : "");
  return 0;
}
