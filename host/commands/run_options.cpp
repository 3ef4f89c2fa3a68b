// Reading run's options.
#include "commands/run_options.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "commands/extension_line.h"
#include "commands/options.h"
#include "commands/sandbox_options.h"
#include "text/visible.h"

namespace {

constexpr long long MAX_TIMEOUT_MS = 3600000;

}  // namespace

const char RUN_OPTIONS_HELP[] =
    "  --call NAME JSON_ARRAY   call NAME with these arguments (repeatable, in order)\n"
    "  --script FILE            calls from FILE, one 'NAME JSON_ARRAY' per line ('#' comments)\n"
    "  --demo                   one call of each callable the extension announces, its\n"
    "                           arguments made up from its type; with a legend\n"
    "  --close                  end by closing the extension's input instead of \"shutdown\"\n"
    "  --timeout-ms N           give up on a call after N ms and kill the extension\n"
    "                           (default 8000: above the 5 s wait limit)\n"
    "  --raw                    show long lines and all of standard error, not shortened\n"
    "  --send-anyway            send calls as written, even those that do not fit the\n"
    "                           catalogue (a wrong name, arity or argument type), which\n"
    "                           are otherwise said and not sent\n"
    "\n"
    "Without --call, --script or --demo the calls come from standard input: typed at a\n"
    "prompt with line editing, history and Tab completion of the callables' names when it\n"
    "is a terminal (Ctrl-D ends), read as a script otherwise.\n";

std::optional<int> read_run_settings(const std::vector<std::string>& arguments,
                                     const std::string& command, const std::string& lead,
                                     const char* help, RunSettings* settings) {
  const CommandLine line = split_command_line(arguments);
  const std::vector<std::string>& options = line.options;
  std::string problem;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    const bool has_value = i + 1 < options.size();
    if (option == "--help" || option == "-h") {
      std::fputs(help, stdout);
      return 0;
    }
    if (read_sandbox_option(options, &i, &settings->sandbox_policy, &problem)) {
      if (!problem.empty()) {
        return usage_error(command, problem);
      }
    } else if (option == "--call") {
      if (i + 2 >= options.size()) {
        return usage_error(command,
                           "--call takes a callable's name and a JSON array: "
                           "--call sample.echo '[\"hi\"]'");
      }
      std::optional<Call> call = parse_call(options[i + 1], options[i + 2], &problem);
      if (!call) {
        return usage_error(command, problem);
      }
      settings->calls.push_back(std::move(*call));
      settings->calls_given = true;
      i += 2;
    } else if (option == "--script" && has_value) {
      std::ifstream script(options[++i]);
      if (!script) {
        return usage_error(command, "cannot read the script " + options[i]);
      }
      if (!parse_script(script, options[i], &settings->calls, &problem)) {
        return usage_error(command, problem);
      }
      settings->calls_given = true;
    } else if (option == "--demo") {
      settings->demo = true;
      settings->calls_given = true;
      settings->legend = true;
    } else if (option == "--close") {
      settings->close_instead = true;
    } else if (option == "--raw") {
      settings->session.raw = true;
    } else if (option == "--send-anyway") {
      settings->session.send_anyway = true;
    } else if (option == "--timeout-ms" && has_value) {
      const std::optional<long long> milliseconds =
          parse_whole(option, options[++i], 1, MAX_TIMEOUT_MS, &problem);
      if (!milliseconds) {
        return usage_error(command, problem);
      }
      settings->session.timeout = std::chrono::milliseconds(*milliseconds);
    } else if (!option.starts_with("-")) {
      return usage_error(command,
                         "put '--' before the extension's command line: "
                         "extension-host " +
                             command + (lead.empty() ? "" : " " + lead) + " [OPTIONS] -- " +
                             shell_quoted(std::vector<std::string>(
                                 options.begin() + static_cast<std::ptrdiff_t>(i), options.end())));
    } else {
      return usage_error(command, "unknown option, or one without its value: '" + option + "'");
    }
  }
  if (line.command.empty()) {
    return usage_error(command, "name the extension's command line after '--': extension-host " +
                                    command + " -- ./ext --protocol 1");
  }
  if (!program_runs(line.command, &problem)) {
    return usage_error(command, problem);
  }
  settings->extension = line.command;
  settings->sandbox = prepare_sandbox(command, settings->sandbox_policy, {line.command});
  if (!settings->sandbox) {
    return 2;
  }
  return std::nullopt;
}
