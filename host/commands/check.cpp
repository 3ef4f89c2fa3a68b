// Plays golden conversations against an extension and reports each case.
#include "commands/check.h"

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "base/executable.h"
#include "base/in_order.h"
#include "commands/extension_line.h"
#include "commands/options.h"
#include "commands/sandbox_options.h"
#include "conversation/play.h"
#include "differential/catalogue.h"
#include "differential/pair.h"
#include "process/child_process.h"
#include "process/program.h"
#include "report/junit_report.h"
#include "report/people_report.h"
#include "report/tap_report.h"
#include "text/visible.h"

namespace {

constexpr char CHECK_HELP[] =
    "usage: extension-host check [OPTIONS] [DIR] -- EXTENSION_COMMAND_LINE\n"
    "\n"
    "Plays golden conversations against an extension and compares, byte for byte, what it\n"
    "writes to standard output, its exit status, and its silence on standard error.\n"
    "DIR is a folder of cases or a single case; by default the conversations that come\n"
    "with this host. Each case is a folder holding 'input', 'output', 'status', and\n"
    "optionally 'args' (one argument per line) and 'duration' (\"MIN_MS MAX_MS\"); a\n"
    "folder holding anything else, or lacking 'status' or 'output', is a bad case.\n"
    "\n"
    "After '--' comes the extension's command line as it is run for the protocol, a\n"
    "wrapper before it if you like: -- ./ext --protocol 1, or\n"
    "-- valgrind -q --error-exitcode=99 ./ext --protocol 1. Each case's own arguments take\n"
    "the place of '--protocol 1' (or are added at the end, when it is left out).\n"
    "\n"
    "Prints one line per case, in the cases' order, then 'N passed, M failed'. A failure\n"
    "names its kind: output differs, exit status differs, wrote to standard error, timed\n"
    "out, ended by a signal, left a process behind, duration out of bounds; a case that\n"
    "cannot be played says why: bad case, cannot start.\n"
    "\n"
    "  --filter GLOB    only the cases whose name matches GLOB (shell wildcards; repeatable:\n"
    "                   a case matching any is played)\n"
    "  --jobs N         play N cases at once (default: one per processor); the report and\n"
    "                   the verdicts are those of one case at a time\n"
    "  --fail-fast      start no case after the first failure; the rest are skipped\n"
    "  --tap            report in TAP (version 13, which every TAP consumer reads)\n"
    "  --junit FILE     also write the report as JUnit XML to FILE\n"
    "  --suite NAME     the JUnit suite's name (default: the extension's command)\n"
    "  --timeout-ms N   kill a case's extension after N ms (default 15000)\n"
    "  --no-durations   ignore the cases' duration bounds (for slow wrappers)\n"
    "  --max-file-size SIZE  the largest case file read (default 256M; K, M, G suffixes); a\n"
    "                   case with a larger one is a bad case\n"
    "\n"
    "%s"
    "\n"
    "exit status: 0 when every case passed; 1 when one failed; 2 for a usage error (an\n"
    "extension that cannot be run, a DIR that is not there, a FILE that cannot be written\n"
    "among them), said before any case is played.\n"
    "\n"
    "examples:\n"
    "  extension-host check -- ./build/sample-extension --protocol 1\n"
    "  extension-host check --filter 'echo-*' --junit report.xml -- ./build/sample-extension\n";

constexpr long long MAX_JOBS = 4096;
constexpr long long MAX_TIMEOUT_MS = 3600000;

struct CheckSettings {
  std::optional<std::string> folder;
  std::vector<std::string> filters;
  std::size_t jobs = 0;
  bool fail_fast = false;
  bool tap = false;
  std::optional<std::string> junit;
  std::optional<std::string> suite;
  long timeout_ms = static_cast<long>(DEFAULT_CASE_TIMEOUT.count());
  std::size_t max_file_bytes = DEFAULT_MAX_CASE_FILE;
  bool check_durations = true;
  std::vector<std::string> command;
  SandboxPolicy sandbox_policy;
  std::optional<Sandbox> sandbox;
};

// The conversations shipped with the host, found from where it is: installed in
// share/ beside its bin/, or in a build tree, whose share/ links to the sources' (the
// build makes it so), so that no path of the build is held in an installed host.
std::filesystem::path default_conversations() {
  return host_folder().parent_path() / "share" / "sample-extension" / "conversations";
}

// The cases under `folder`: the folder itself when it holds a case's files; otherwise
// each folder in it, but hidden ones (a recording being written is hidden). A folder in it
// that is not quite a case is played as one, and reported as a bad case.
std::vector<std::filesystem::path> cases_in(const std::filesystem::path& folder) {
  if (holds_case_files(folder)) {
    return {folder};
  }
  std::vector<std::filesystem::path> cases;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_directory(error) && !entry.path().filename().string().starts_with(".")) {
      cases.push_back(entry.path());
    }
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

bool selected(const std::filesystem::path& path, const std::vector<std::string>& filters) {
  const std::string name = path.filename().string();
  return filters.empty() || std::any_of(filters.begin(), filters.end(), [&](const auto& glob) {
           return fnmatch(glob.c_str(), name.c_str(), 0) == 0;
         });
}

// Reads the options, and checks before any work that it can be done: the extension can
// be run, the cases' folder is there, the report can be written. Returns the exit status
// to end with, or none to go on.
std::optional<int> read_settings(const std::vector<std::string>& arguments,
                                 CheckSettings* settings) {
  const CommandLine line = split_command_line(arguments);
  std::string problem;
  for (std::size_t i = 0; i < line.options.size(); ++i) {
    const std::string& option = line.options[i];
    const bool has_value = i + 1 < line.options.size();
    if (option == "--help" || option == "-h") {
      std::printf(CHECK_HELP, SANDBOX_OPTIONS_HELP);
      return 0;
    }
    if (read_sandbox_option(line.options, &i, &settings->sandbox_policy, &problem)) {
      // taken; a value that does not read is said below
    } else if (option == "--no-durations") {
      settings->check_durations = false;
    } else if (option == "--fail-fast") {
      settings->fail_fast = true;
    } else if (option == "--tap") {
      settings->tap = true;
    } else if (option == "--filter" && has_value) {
      settings->filters.push_back(line.options[++i]);
    } else if (option == "--junit" && has_value) {
      settings->junit = line.options[++i];
    } else if (option == "--suite" && has_value) {
      settings->suite = line.options[++i];
    } else if (option == "--jobs" && has_value) {
      if (const auto jobs = parse_whole(option, line.options[++i], 1, MAX_JOBS, &problem)) {
        settings->jobs = static_cast<std::size_t>(*jobs);
      }
    } else if (option == "--timeout-ms" && has_value) {
      if (const auto timeout =
              parse_whole(option, line.options[++i], 1, MAX_TIMEOUT_MS, &problem)) {
        settings->timeout_ms = static_cast<long>(*timeout);
      }
    } else if (option == "--max-file-size" && has_value) {
      if (const auto size = parse_size(option, line.options[++i], &problem)) {
        settings->max_file_bytes = *size;
      }
    } else if (!option.starts_with("-") && !settings->folder) {
      settings->folder = option;
    } else if (!option.starts_with("-")) {
      return usage_error("check", "one folder of cases at most, not '" + *settings->folder +
                                      "' and '" + option + "'");
    } else if (std::string why; settings->folder && find_program(*settings->folder, &why) &&
                                !std::filesystem::is_directory(*settings->folder)) {
      // "check ./ext --protocol 1": the extension's command line, without its '--'.
      std::vector<std::string> meant = {*settings->folder};
      meant.insert(meant.end(), line.options.begin() + static_cast<std::ptrdiff_t>(i),
                   line.options.end());
      return usage_error("check",
                         "put '--' before the extension's command line: "
                         "extension-host check -- " +
                             shell_quoted(meant));
    } else {
      return usage_error("check", "unknown option, or one without its value: '" + option + "'");
    }
    // A value that does not read has said why.
    if (!problem.empty()) {
      return usage_error("check", problem);
    }
  }
  if (line.command.empty()) {
    std::string why;
    if (settings->folder && find_program(*settings->folder, &why) &&
        !std::filesystem::is_directory(*settings->folder)) {
      return usage_error("check",
                         "put '--' before the extension's command line: "
                         "extension-host check -- " +
                             shell_quoted({*settings->folder}) + " --protocol 1");
    }
    return usage_error("check",
                       "name the extension's command line after '--': "
                       "extension-host check -- ./ext --protocol 1");
  }
  const std::optional<std::vector<std::string>> command =
      words_before_case_arguments(line.command, "check", &problem);
  if (!command) {
    return usage_error("check", problem);
  }
  settings->command = *command;
  if (!program_runs(settings->command, &problem)) {
    return usage_error("check", problem);
  }
  std::error_code failure;
  if (settings->folder && !std::filesystem::is_directory(*settings->folder, failure)) {
    return usage_error(
        "check", "no folder of cases " + *settings->folder +
                     (std::filesystem::exists(*settings->folder, failure) ? " (it is not a folder)"
                                                                          : " (it is not there)"));
  }
  if (settings->junit && !report_can_be_written(*settings->junit, &problem)) {
    return usage_error("check", problem);
  }
  if (settings->jobs == 0) {
    settings->jobs = static_cast<std::size_t>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  }
  settings->sandbox = prepare_sandbox("check", settings->sandbox_policy, {settings->command});
  if (!settings->sandbox) {
    return 2;
  }
  return std::nullopt;
}

// Loads and plays one case of the folder `root`.
Verdict judge(const std::filesystem::path& path, const std::filesystem::path& root,
              const CheckSettings& settings) {
  std::string error;
  std::optional<Conversation> conversation =
      load_conversation(path, settings.max_file_bytes, root, &error);
  if (!conversation) {
    return {Failure::kBadCase, std::string(failure_name(Failure::kBadCase)) + ": " + error, {}, {}};
  }
  if (!settings.check_durations) {
    conversation->min_duration.reset();
    conversation->max_duration.reset();
  }
  return play(*conversation, settings.command, *settings.sandbox,
              std::chrono::milliseconds(settings.timeout_ms));
}

// The installed cases are the sample's: another extension fails nearly all of them, which
// tells its author nothing. Its identifier, from one handshake, tells it apart at once;
// one that gives none plays the cases, whose reports then say what it did instead.
std::optional<int> refuse_another_extension(const CheckSettings& settings) {
  std::string problem;
  const std::optional<Catalogue> catalogue =
      learn_catalogue(settings.command, *settings.sandbox, DEFAULT_PLAY_TIMEOUT, &problem);
  if (!catalogue || catalogue->extension_id == SAMPLE_EXTENSION_ID) {
    return std::nullopt;
  }
  return usage_error("check",
                     "the installed cases are the sample's, and this extension calls itself \"" +
                         visible(catalogue->extension_id) +
                         "\": name a folder of its own cases (extension-host record writes them), "
                         "or judge it against the protocol: extension-host conform -- " +
                         shell_quoted(usual_form(settings.command)));
}

}  // namespace

int check_command(const std::vector<std::string>& arguments) {
  CheckSettings settings;
  if (const std::optional<int> status = read_settings(arguments, &settings)) {
    return *status;
  }
  const std::filesystem::path root =
      settings.folder ? std::filesystem::path(*settings.folder) : default_conversations();
  std::vector<std::filesystem::path> cases = cases_in(root);
  if (cases.empty()) {
    return usage_error("check", "no case folders in " + root.string());
  }
  if (!settings.folder) {
    if (const std::optional<int> status = refuse_another_extension(settings)) {
      return *status;
    }
  }
  std::erase_if(cases, [&](const auto& path) { return !selected(path, settings.filters); });
  if (cases.empty()) {
    return usage_error("check", "no case in " + root.string() + " matches the filters");
  }

  std::vector<CaseResult> results(cases.size());
  for (std::size_t index = 0; index < cases.size(); ++index) {
    results[index].name = cases[index].filename().string();
  }
  const std::string& containment = settings.sandbox->description();
  if (settings.tap) {
    std::fputs(tap_header(cases.size(), containment).c_str(), stdout);
  } else {
    std::printf("sandbox: %s\n", containment.c_str());
  }
  const Clock::time_point started = Clock::now();
  bool legend_shown = false;
  const std::size_t reported = run_in_order(
      cases.size(), settings.jobs, settings.fail_fast,
      [&](std::size_t index) {
        results[index].verdict = judge(cases[index], root, settings);
        results[index].run = true;
        return results[index].verdict.passed();
      },
      [&](std::size_t index) {
        std::string line =
            settings.tap ? tap_line(index + 1, results[index]) : people_line(results[index]);
        // The first report of an escape says what escapes mean.
        if (!legend_shown && !results[index].verdict.passed() && holds_an_escape(line)) {
          legend_shown = true;
          line += std::string(settings.tap ? "# " : "     ") + ESCAPE_LEGEND + "\n";
        }
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
      });
  // Cases after a --fail-fast stop are reported as skipped, whether or not they ran.
  std::size_t passed = 0;
  std::size_t failed = 0;
  for (std::size_t index = 0; index < cases.size(); ++index) {
    if (index >= reported) {
      results[index].run = false;
      results[index].verdict = {};
      std::fputs((settings.tap ? tap_line(index + 1, results[index]) : people_line(results[index]))
                     .c_str(),
                 stdout);
    } else if (results[index].verdict.passed()) {
      ++passed;
    } else {
      ++failed;
    }
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  const std::string suite = settings.suite.value_or(shell_quoted(settings.command));
  if (settings.junit && !write_junit(*settings.junit, suite, containment, results, elapsed)) {
    std::fprintf(stderr, "extension-host: cannot write %s\n", visible(*settings.junit).c_str());
    return 2;
  }
  const std::size_t skipped = cases.size() - reported;
  const std::string summary = std::to_string(passed) + " passed, " + std::to_string(failed) +
                              " failed" +
                              (skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "");
  std::printf(settings.tap ? "# %s\n" : "%s\n", summary.c_str());
  return failed == 0 ? 0 : 1;
}
