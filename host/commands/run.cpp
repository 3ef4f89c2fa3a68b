// Holds one conversation with an extension, checks each line it writes, and shows it all.
#include "commands/run.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "commands/extension_line.h"
#include "commands/interactive.h"
#include "commands/interrupts.h"
#include "commands/sandbox_options.h"
#include "conversation/examples.h"
#include "text/visible.h"

namespace {

constexpr char RUN_HELP_HEAD[] =
    "usage: extension-host run [OPTIONS] -- EXTENSION_COMMAND_LINE\n"
    "\n"
    "Starts the extension with the command line after '--', as it is run for the protocol\n"
    "(-- ./ext --protocol 1, a wrapper before it if you like), sends the handshake, checks\n"
    "its \"handshake_result\" and \"register\" lines, shows its identity and callables,\n"
    "makes the calls, then sends \"shutdown\" and reports how the extension ended. Every\n"
    "line is shown as it passes: '->' to the extension, '<-' from it; --demo explains all\n"
    "the marks. What the extension writes is shown with its control characters escaped.\n"
    "\n";

constexpr char RUN_HELP_TAIL[] =
    "\n"
    "exit status: 0 when the conversation kept to the protocol and the extension exited 0;\n"
    "1 when it did not; 2 for a usage error.\n"
    "\n"
    "examples:\n"
    "  extension-host run --call sample.echo '[{\"b\":1,\"a\":\"\\u00e9\"}]' \\\n"
    "      --call sample.wait '[250]' -- sample-extension --protocol 1\n"
    "  extension-host run -- sample-extension --protocol 1 < calls.txt\n"
    "  extension-host run --demo -- sample-extension --protocol 1\n";

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
  const bool interactive = !settings.calls_given && isatty(STDIN_FILENO) != 0;
  std::optional<CountedInterrupts> interrupts;
  SessionSettings session_settings = settings.session;
  if (interactive) {
    interrupts.emplace();
    session_settings.interrupts = interrupts->count();
    session_settings.send_anyway_hint = "':send' sends a line as it stands";
  }
  if (settings.legend) {
    std::fputs(legend().c_str(), stdout);
  }
  std::printf("-- running: %s\n", shell_quoted(settings.extension).c_str());
  std::printf("-- sandbox: %s\n", settings.sandbox->description().c_str());
  std::fflush(stdout);
  std::string error;
  ChildOptions options;
  options.sandbox = &*settings.sandbox;
  options.transcript = transcript;
  std::optional<Session> session =
      Session::start(settings.extension, session_settings, options, &error);
  if (!session) {
    std::fprintf(stderr, "extension-host: %s\n", visible(error).c_str());
    return std::nullopt;
  }
  // A fault ends the calls; the session remembers it for the ending.
  bool bad_line = false;
  if (session->open()) {
    if (settings.calls_given) {
      const std::vector<Call> demo =
          settings.demo ? demo_calls(session->catalogue()) : std::vector<Call>{};
      for (const Call& call : settings.demo ? demo : settings.calls) {
        if (!session->perform(call)) {
          break;
        }
      }
    } else if (interactive) {
      interactive_calls(&*session, interrupts->count());
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
  const std::string help =
      std::string(RUN_HELP_HEAD) + RUN_OPTIONS_HELP + "\n" + SANDBOX_OPTIONS_HELP + RUN_HELP_TAIL;
  RunSettings settings;
  if (const std::optional<int> status =
          read_run_settings(arguments, "run", "", help.c_str(), &settings)) {
    return *status;
  }
  const std::optional<SessionEnding> ending = hold_conversation(settings, nullptr);
  // Run as asked, but a command line without the protocol's arguments is most often a
  // slip: the usual form is named.
  if (!ends_in_protocol_arguments(settings.extension)) {
    std::printf(
        "hint: the extension was run without '--protocol 1' at the end; the usual form "
        "is: extension-host run -- %s\n",
        shell_quoted(usual_form(settings.extension)).c_str());
  }
  return ending && ending->clean ? 0 : 1;
}
