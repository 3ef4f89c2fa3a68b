// Holds one conversation with an extension, checks each line it writes, and shows it all.
#include "commands/run.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "commands/interactive.h"
#include "text/visible.h"

namespace {

constexpr char RUN_HELP_HEAD[] =
    "usage: extension-host run [OPTIONS] -- EXTENSION [ARGS...]\n"
    "\n"
    "Starts EXTENSION, sends the handshake, checks its \"handshake_result\" and \"register\"\n"
    "lines, shows its identity and callables, makes the calls, then sends \"shutdown\" and\n"
    "reports how the extension ended. Every line is shown as it passes: '->' to the\n"
    "extension, '<-' from it.\n"
    "\n";

constexpr char RUN_HELP_TAIL[] =
    "\n"
    "exit status: 0 when the conversation kept to the protocol and the extension exited 0;\n"
    "1 when it did not; 2 for a usage error.\n"
    "\n"
    "examples:\n"
    "  extension-host run --call sample.echo '[{\"b\":1,\"a\":\"\\u00e9\"}]' \\\n"
    "      --call sample.wait '[250]' -- sample-extension --protocol 1\n"
    "  extension-host run -- sample-extension --protocol 1 < calls.txt\n";

// The calls of a script on standard input, made as each line is read, until a fault. A
// line that is no call is reported and skipped, and makes the run a failure.
void script_calls(Session* session, bool* bad_line) {
  int number = 0;
  for (std::string line; std::getline(std::cin, line);) {
    ++number;
    std::optional<Call> call;
    std::string problem;
    switch (parse_call_line(line, &call, &problem)) {
      case LineKind::kNothing:
        break;
      case LineKind::kBad:
        std::printf("!! standard input:%d: not a call: %s\n", number, visible(problem).c_str());
        *bad_line = true;
        break;
      case LineKind::kCall:
        if (!session->perform(*call)) {
          return;
        }
        break;
    }
  }
}

}  // namespace

std::optional<SessionEnding> hold_conversation(const RunSettings& settings,
                                               TranscriptSink* transcript) {
  std::string error;
  ChildOptions options;
  options.transcript = transcript;
  std::optional<Session> session =
      Session::start(settings.extension, settings.session, options, &error);
  if (!session) {
    std::fprintf(stderr, "extension-host: %s\n", error.c_str());
    return std::nullopt;
  }
  // A fault ends the calls; the session remembers it for the ending.
  bool bad_line = false;
  if (session->open()) {
    if (settings.calls_given) {
      for (const Call& call : settings.calls) {
        if (!session->perform(call)) {
          break;
        }
      }
    } else if (isatty(STDIN_FILENO) != 0) {
      interactive_calls(&*session);
    } else {
      script_calls(&*session, &bad_line);
    }
  }
  SessionEnding ending = session->finish(settings.close_instead);
  if (bad_line) {
    ending.clean = false;
  }
  return ending;
}

int run_command(const std::vector<std::string>& arguments) {
  const std::string help = std::string(RUN_HELP_HEAD) + RUN_OPTIONS_HELP + RUN_HELP_TAIL;
  RunSettings settings;
  if (const std::optional<int> status =
          read_run_settings(arguments, "run", help.c_str(), &settings)) {
    return *status;
  }
  const std::optional<SessionEnding> ending = hold_conversation(settings, nullptr);
  return ending && ending->clean ? 0 : 1;
}
