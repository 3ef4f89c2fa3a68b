// Recording: the bytes of a held conversation written as a case folder that check plays.
#include "commands/record.h"

#include <cstdio>
#include <filesystem>

#include "conversation/case_folder.h"
#include "commands/options.h"
#include "commands/run.h"

namespace {

constexpr char RECORD_HELP_HEAD[] =
    "usage: extension-host record CASE_DIR [--force] [OPTIONS] -- EXTENSION [ARGS...]\n"
    "\n"
    "Holds a conversation as 'run' does, with the calls given or typed, and writes it as a\n"
    "golden case in CASE_DIR, which 'check' plays: 'input' (every byte sent, from the\n"
    "handshake to \"shutdown\"), 'output' (every byte received), 'status', 'args' when\n"
    "ARGS are not '--protocol 1', and 'duration' when a call of sample.wait makes time part\n"
    "of the case. An extension that is killed, writes to standard error or leaves a process\n"
    "behind gives no case.\n"
    "\n"
    "  --force                  replace CASE_DIR if it exists\n";

constexpr char RECORD_HELP_TAIL[] =
    "\n"
    "exit status: 0 when the case was written; 1 when the conversation gave none; 2 for a\n"
    "usage error, an existing CASE_DIR among them.\n"
    "\n"
    "example:\n"
    "  extension-host record cases/echo-accent --call sample.echo '[\"\\u00e9\"]' \\\n"
    "      -- sample-extension --protocol 1\n";

// Time a recorded wait may take beyond what it asked: starting up, and a busy machine.
constexpr long long DURATION_SLACK_MS = 3000;

// Why the conversation cannot be a case that its own extension passes, or "".
std::string unrecordable(const SessionEnding& ending) {
  if (ending.termination.signaled) {
    return "the extension did not exit on its own (" + describe(ending.termination) + ")";
  }
  if (ending.termination.output_held_open) {
    return "a process the extension started kept its output open";
  }
  if (ending.wrote_error) {
    return "the extension wrote to standard error, which a case requires to stay empty";
  }
  return "";
}

// Writes the case into a fresh folder beside `folder`, then puts it in its place, so that
// a failure leaves no half-written case. Returns false, having said why, on failure.
bool write_case(const std::filesystem::path& folder, const Transcript& transcript,
                const SessionEnding& ending, const std::vector<std::string>& arguments) {
  Conversation recorded;
  recorded.arguments = arguments;
  recorded.input = transcript.sent;
  recorded.output = transcript.received;
  recorded.status = ending.termination.code;
  if (ending.called_wait) {
    recorded.min_duration = std::chrono::milliseconds(ending.waited_ms);
    recorded.max_duration = std::chrono::milliseconds(ending.waited_ms + DURATION_SLACK_MS);
  }
  std::filesystem::path fresh = folder;
  fresh += ".recording";
  std::error_code error;
  std::filesystem::remove_all(fresh, error);
  std::string problem;
  bool written = write_conversation(fresh, recorded, &problem);
  if (written) {
    std::filesystem::remove_all(folder, error);
    std::filesystem::rename(fresh, folder, error);
    written = !error;
    problem = error ? "cannot put the case in place: " + error.message() : "";
  }
  if (!written) {
    std::fprintf(stderr, "extension-host: %s\n", problem.c_str());
    std::filesystem::remove_all(fresh, error);
  }
  return written;
}

}  // namespace

int record_command(const std::vector<std::string>& arguments) {
  const std::string help = std::string(RECORD_HELP_HEAD) + RUN_OPTIONS_HELP + RECORD_HELP_TAIL;
  // The folder comes first: after it, run's options take values that look like names.
  std::optional<std::filesystem::path> folder;
  std::size_t first_option = 0;
  if (!arguments.empty() && !arguments[0].starts_with("-")) {
    folder = arguments[0];
    first_option = 1;
  }
  std::vector<std::string> rest;
  bool force = false;
  bool past_options = false;
  for (std::size_t i = first_option; i < arguments.size(); ++i) {
    past_options = past_options || arguments[i] == "--";
    if (!past_options && arguments[i] == "--force") {
      force = true;
    } else {
      rest.push_back(arguments[i]);
    }
  }
  RunSettings settings;
  if (const std::optional<int> status = read_run_settings(rest, help.c_str(), &settings)) {
    return *status;
  }
  if (!folder) {
    return usage_error(help.c_str(), "name the case folder to write");
  }
  if (std::filesystem::exists(*folder) && !force) {
    return usage_error(help.c_str(), folder->string() + " exists; --force replaces it");
  }
  Transcript transcript;
  const std::optional<SessionEnding> ending = hold_conversation(settings, &transcript);
  if (!ending) {
    return 1;
  }
  if (const std::string why = unrecordable(*ending); !why.empty()) {
    std::printf("== nothing recorded: %s\n", why.c_str());
    return 1;
  }
  const std::vector<std::string> extension_arguments(settings.extension.begin() + 1,
                                                     settings.extension.end());
  if (!write_case(*folder, transcript, *ending, extension_arguments)) {
    return 1;
  }
  std::printf("== recorded %s: %zu bytes in, %zu bytes out, exit status %d\n", folder->c_str(),
              transcript.sent.size(), transcript.received.size(), ending->termination.code);
  return 0;
}
