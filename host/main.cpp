// extension-host: runs an extension by hand, and checks it against golden conversations.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "commands/check.h"
#include "commands/compare.h"
#include "commands/conform.h"
#include "commands/record.h"
#include "commands/run.h"
#include "commands/terminations.h"
#include "text/visible.h"

namespace {

constexpr char HELP[] =
    "usage: extension-host COMMAND [OPTIONS] -- EXTENSION_COMMAND_LINE\n"
    "\n"
    "A host for line-protocol extensions: it starts the extension as a child process and\n"
    "talks with it over its standard input and output, one JSON object per line.\n"
    "\n"
    "commands:\n"
    "  run     hold a conversation: handshake, registration, the calls you give or type,\n"
    "          shutdown\n"
    "  record  hold a conversation as run does and keep it as a golden case\n"
    "  check   play golden conversations against an extension and report each case\n"
    "  compare play generated conversations against a reference and a candidate; shrink\n"
    "          the first difference to a smallest conversation\n"
    "  conform judge any extension of the protocol, requirement by requirement\n"
    "  help    this, or 'help COMMAND': all of a command\n"
    "\n"
    "After '--' comes the extension's command line as it is run for the protocol, in every\n"
    "command: -- ./ext --protocol 1 (a wrapper before it if you like). check and compare put\n"
    "each case's own arguments in the place of '--protocol 1'.\n"
    "\n"
    "'extension-host help COMMAND' (or 'extension-host COMMAND --help') tells all of each;\n"
    "'extension-host --version' prints the version.\n"
    "\n"
    "examples:\n"
    "  extension-host run -- sample-extension --protocol 1\n"
    "  extension-host check -- sample-extension --protocol 1\n"
    "  extension-host conform -- ./my-extension --protocol 1\n";

using Command = int (*)(const std::vector<std::string>&);

struct Named {
  const char* name;
  Command command;
};

constexpr Named COMMANDS[] = {
    {"run", run_command},         {"record", record_command},   {"check", check_command},
    {"compare", compare_command}, {"conform", conform_command},
};

Command command_named(const std::string& name) {
  for (const Named& named : COMMANDS) {
    if (name == named.name) {
      return named.command;
    }
  }
  return nullptr;
}

int unknown_command(const std::string& name) {
  std::fprintf(stderr,
               "extension-host: no command '%s'; the commands are run, record, check, compare, "
               "conform and help (see 'extension-host --help')\n",
               visible(name).c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  say_why_when_terminated();
  // Its own output to a reader that has gone shows as a failed write, and is said.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::fputs(HELP, stderr);
    return 2;
  }
  const std::string& first = arguments[0];
  // "help --help" is as good as "help".
  if (first == "--help" || first == "-h" ||
      (first == "help" &&
       (arguments.size() == 1 || arguments[1] == "--help" || arguments[1] == "-h"))) {
    std::fputs(HELP, stdout);
    return 0;
  }
  if (first == "--version") {
    std::fputs("extension-host " SAMPLE_VERSION "\n", stdout);
    return 0;
  }
  if (first == "help") {
    const Command command = command_named(arguments[1]);
    return command != nullptr ? command({"--help"}) : unknown_command(arguments[1]);
  }
  const Command command = command_named(first);
  if (command == nullptr) {
    return unknown_command(first);
  }
  return command(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
}
