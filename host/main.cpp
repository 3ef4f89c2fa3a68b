// extension-host: runs an extension by hand, and checks it against golden conversations.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/check.h"
#include "commands/compare.h"
#include "commands/record.h"
#include "commands/run.h"

namespace {

constexpr char HELP[] =
    "usage: extension-host COMMAND [OPTIONS] -- EXTENSION [ARGS...]\n"
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
    "\n"
    "'extension-host COMMAND --help' tells more about each; 'extension-host --version'\n"
    "prints the version.\n"
    "\n"
    "examples:\n"
    "  extension-host run --call sample.echo '[{\"a\":1}]' -- sample-extension --protocol 1\n"
    "  extension-host check -- sample-extension\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h") {
    std::fputs(HELP, arguments.empty() ? stderr : stdout);
    return arguments.empty() ? 2 : 0;
  }
  if (arguments[0] == "--version") {
    std::fputs("extension-host " SAMPLE_VERSION "\n", stdout);
    return 0;
  }
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  if (arguments[0] == "check") {
    return check_command(rest);
  }
  if (arguments[0] == "run") {
    return run_command(rest);
  }
  if (arguments[0] == "compare") {
    return compare_command(rest);
  }
  if (arguments[0] == "record") {
    return record_command(rest);
  }
  std::fprintf(stderr, "extension-host: unknown command '%s'\n\n%s", arguments[0].c_str(), HELP);
  return 2;
}
