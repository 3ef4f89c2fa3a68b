// Judging an extension requirement by requirement, and writing the reports.
#include "commands/conform.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "base/held_folder.h"
#include "commands/extension_line.h"
#include "commands/options.h"
#include "commands/sandbox_options.h"
#include "conformance/conform_report.h"
#include "conformance/failure_case.h"
#include "conformance/judgement.h"
#include "conversation/case_writer.h"
#include "report/junit_report.h"
#include "text/visible.h"

namespace {

// The time now, in UTC, as reports give it: "2026-12-09T22:58:01Z".
std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm parts = {};
  char text[32] = "";
  if (gmtime_r(&now, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return "";
  }
  return text;
}

constexpr char CONFORM_HELP[] =
    "usage: extension-host conform [OPTIONS] -- EXTENSION_COMMAND_LINE\n"
    "\n"
    "Judges an extension of protocol 1.0 by the protocol alone, whatever its identifier\n"
    "and callables: it learns them from the extension's own announcement, and draws every\n"
    "conversation from them. Each requirement is reported as held, failed (with the\n"
    "shortest conversation that breaks it, and the line and byte), or not verified (and\n"
    "why). A \"must\" is what every extension owes its host; a \"should\" is the form\n"
    "and naming the reference keeps, told but never failing the run.\n"
    "\n"
    "After '--' comes the extension's command line as it is run for the protocol, a\n"
    "wrapper before it if you like: -- ./ext --protocol 1, or -- python3 ext.py --protocol 1.\n"
    "Each conversation gives its own arguments in the place of '--protocol 1'.\n"
    "\n"
    "  --tap             report in TAP (version 13); a failed should is a TODO\n"
    "  --junit FILE      also write the report as JUnit XML to FILE\n"
    "  --markdown FILE   also write the report as Markdown to FILE, to paste into an issue\n"
    "  --json FILE       also write the report as JSON to FILE: each requirement with its\n"
    "                    identifier, level, part of the protocol, status and evidence,\n"
    "                    with this host's version and the time\n"
    "  --expected-failures FILE\n"
    "                    a baseline for CI: each line names a requirement whose failure\n"
    "                    is known ('answers-in-order'), or one and the conversation it\n"
    "                    fails in ('answers-in-order: three calls of x.y written at\n"
    "                    once'); '#' comments. Those failures fail nothing; an entry\n"
    "                    that no longer fails does, so the file is kept true\n"
    "  --strict          a must that could not be verified fails too\n"
    "  --save DIR        keep each failure as a golden case in DIR/REQUIREMENT, with the\n"
    "                    ending the protocol asks for, where it says what that is (a\n"
    "                    command line, a violation, \"shutdown\", the end of input, the\n"
    "                    silences); check then fails the extension until it is mended\n"
    "  --jobs N          hold N conversations at once (default: one per processor); the\n"
    "                    report is the same as with one at a time\n"
    "  --timeout-ms N    how long each answer is awaited while the extension is at work\n"
    "                    (default 5000); its start is never counted: it has 10 s to\n"
    "                    announce itself, and an extension asleep without its answer is\n"
    "                    told at once\n"
    "\n"
    "%s"
    "\n"
    "exit status: 0 when no must failed (but those expected); 1 when one did, or a\n"
    "baseline's entry no longer fails, or with --strict a must was not verified; 2 for a\n"
    "usage error, or a report or case that could not be written.\n"
    "\n"
    "examples:\n"
    "  extension-host conform -- ./build/sample-extension --protocol 1\n"
    "  extension-host conform --markdown conformance.md -- python3 weather.py --protocol 1\n";

constexpr long long MAX_TIMEOUT_MS = 3600000;
constexpr long long MAX_JOBS = 4096;

struct ConformSettings {
  bool tap = false;
  std::optional<std::string> junit;
  std::optional<std::string> markdown;
  std::optional<std::string> json;
  std::optional<std::vector<ExpectedFailure>> expected_failures;
  std::string expected_failures_file;
  bool strict = false;
  std::optional<std::filesystem::path> save;
  // The folder --save names a folder in, held before any extension runs.
  std::optional<HeldFolder> save_parent;
  long timeout_ms = 5000;
  std::size_t jobs = 0;
  std::vector<std::string> command;
  SandboxPolicy sandbox_policy;
  std::optional<Sandbox> sandbox;
};

// Whether the failures' cases can be kept in `folder`: one that is there, or can be made
// in a folder that is, holding no case of a requirement's name already. Says why not.
bool save_folder_usable(const std::filesystem::path& folder, std::string* problem) {
  const std::optional<std::filesystem::path> name = folder_name(folder);
  std::error_code failure;
  if (!name) {
    *problem = "--save names no folder of its own: '" + visible(folder.string()) + "'";
    return false;
  }
  const auto status = std::filesystem::symlink_status(*name, failure);
  if (!std::filesystem::exists(status)) {
    if (!std::filesystem::is_directory(name->parent_path(), failure)) {
      *problem = "--save: the folder " + visible(name->parent_path().string()) +
                 " is not there to make " + visible(name->filename().string()) + " in";
      return false;
    }
    return true;
  }
  if (!std::filesystem::is_directory(status)) {
    *problem = "--save: " + visible(name->string()) + " is there and is no folder";
    return false;
  }
  for (const RequirementRow& row : REQUIREMENTS) {
    if (std::filesystem::exists(std::filesystem::symlink_status(*name / row.identifier, failure))) {
      *problem = "--save: " + visible((*name / row.identifier).string()) +
                 " is there already, where a failure of " + row.identifier + " would be kept";
      return false;
    }
  }
  return true;
}

// Keeps each failure that can be a case in `folder`, and says, in `prefix`ed lines, where
// or why not. Returns false when a case that could be kept was not.
bool save_failures(const Conformance& conformance, const HeldFolder& parent,
                   const std::filesystem::path& folder, const char* prefix) {
  bool all_kept = true;
  bool any_failed = false;
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = conformance.outcomes.at(static_cast<std::size_t>(row.requirement));
    if (outcome.standing != Standing::kFailed || outcome.evidence.empty()) {
      continue;
    }
    any_failed = true;
    std::string problem;
    const std::optional<Conversation> found =
        failure_case(row.requirement, outcome.evidence.front(), &problem);
    if (!found) {
      std::printf("%snot saved: %s: %s\n", prefix, row.identifier, problem.c_str());
      continue;
    }
    // Made, and the cases written, within the folder held since the start: no extension
    // can have sent it elsewhere meanwhile.
    const std::optional<HeldFolder> held = parent.subfolder(folder.filename().string(), &problem);
    std::optional<CaseWriter> writer =
        held ? CaseWriter::prepare_in(*held, row.identifier, /*replace=*/false, "", &problem)
             : std::nullopt;
    std::filesystem::path scratch = writer ? writer->scratch(&problem) : std::filesystem::path();
    if (scratch.empty() || !write_case_files(scratch, *found, /*skip_streams=*/false, &problem) ||
        !writer->commit(&problem)) {
      std::printf("%snot saved: %s: %s\n", prefix, row.identifier, visible(problem).c_str());
      all_kept = false;
      continue;
    }
    std::printf("%ssaved as the case %s\n", prefix, visible(writer->location().string()).c_str());
  }
  if (!any_failed) {
    std::printf("%snothing failed: no case saved\n", prefix);
  }
  return all_kept;
}

// Reads the options and checks, before any work, that it can be done. Returns the exit
// status to end with, or none to go on.
std::optional<int> read_settings(const std::vector<std::string>& arguments,
                                 ConformSettings* settings) {
  const CommandLine line = split_command_line(arguments);
  std::string problem;
  for (std::size_t i = 0; i < line.options.size(); ++i) {
    const std::string& option = line.options[i];
    const bool has_value = i + 1 < line.options.size();
    if (option == "--help" || option == "-h") {
      std::printf(CONFORM_HELP, SANDBOX_OPTIONS_HELP);
      return 0;
    }
    if (read_sandbox_option(line.options, &i, &settings->sandbox_policy, &problem)) {
      // taken; a value that does not read is said below
    } else if (option == "--tap") {
      settings->tap = true;
    } else if (option == "--junit" && has_value) {
      settings->junit = line.options[++i];
    } else if (option == "--markdown" && has_value) {
      settings->markdown = line.options[++i];
    } else if (option == "--json" && has_value) {
      settings->json = line.options[++i];
    } else if (option == "--strict") {
      settings->strict = true;
    } else if (option == "--expected-failures" && has_value) {
      settings->expected_failures_file = line.options[++i];
      settings->expected_failures =
          read_expected_failures(settings->expected_failures_file, &problem);
    } else if (option == "--save" && has_value) {
      settings->save = line.options[++i];
    } else if (option == "--jobs" && has_value) {
      if (const auto jobs = parse_whole(option, line.options[++i], 1, MAX_JOBS, &problem)) {
        settings->jobs = static_cast<std::size_t>(*jobs);
      }
    } else if (option == "--timeout-ms" && has_value) {
      if (const auto timeout =
              parse_whole(option, line.options[++i], 1, MAX_TIMEOUT_MS, &problem)) {
        settings->timeout_ms = static_cast<long>(*timeout);
      }
    } else if (!option.starts_with("-")) {
      std::vector<std::string> meant(line.options.begin() + static_cast<std::ptrdiff_t>(i),
                                     line.options.end());
      return usage_error("conform",
                         "put '--' before the extension's command line: "
                         "extension-host conform -- " +
                             shell_quoted(usual_form(meant)));
    } else {
      return usage_error("conform",
                         "unknown option, or one without its value: '" + visible(option) + "'");
    }
    if (!problem.empty()) {
      return usage_error("conform", problem);
    }
  }
  if (line.command.empty()) {
    return usage_error("conform",
                       "name the extension's command line after '--': "
                       "extension-host conform -- ./ext --protocol 1");
  }
  const std::optional<std::vector<std::string>> command =
      words_before_case_arguments(line.command, "conform", &problem);
  if (!command) {
    return usage_error("conform", problem);
  }
  settings->command = *command;
  if (!program_runs(settings->command, &problem)) {
    return usage_error("conform", problem);
  }
  for (const auto& report : {settings->junit, settings->markdown, settings->json}) {
    if (report && !report_can_be_written(*report, &problem)) {
      return usage_error("conform", problem);
    }
  }
  if (settings->save) {
    if (!save_folder_usable(*settings->save, &problem)) {
      return usage_error("conform", problem);
    }
    settings->save = folder_name(*settings->save);
    settings->save_parent = HeldFolder::open(settings->save->parent_path(), &problem);
    if (!settings->save_parent) {
      return usage_error("conform", "--save: " + problem);
    }
  }
  if (settings->jobs == 0) {
    settings->jobs = static_cast<std::size_t>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  }
  settings->sandbox = prepare_sandbox("conform", settings->sandbox_policy, {settings->command});
  if (!settings->sandbox) {
    return 2;
  }
  return std::nullopt;
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "extension-host: cannot write %s\n", visible(path).c_str());
  }
  return static_cast<bool>(file);
}

}  // namespace

int conform_command(const std::vector<std::string>& arguments) {
  ConformSettings settings;
  if (const std::optional<int> status = read_settings(arguments, &settings)) {
    return *status;
  }
  std::vector<std::string> shown = settings.command;
  shown.insert(shown.end(), PROTOCOL_ARGUMENTS.begin(), PROTOCOL_ARGUMENTS.end());
  const std::string timestamp = utc_now();
  const Conformance conformance =
      judge_conformance(settings.command, *settings.sandbox,
                        std::chrono::milliseconds(settings.timeout_ms), settings.jobs);
  const Excusal excusal =
      settings.expected_failures ? excuse(conformance, *settings.expected_failures) : Excusal{};
  const Judged judged{shell_quoted_short(shown),
                      settings.sandbox->description(),
                      &conformance,
                      HOST_VERSION,
                      timestamp,
                      &excusal};
  const std::string report =
      settings.tap ? tap_conform_report(judged) : people_conform_report(judged);
  std::fputs(report.c_str(), stdout);
  const char* const mark = settings.tap ? "# " : "";
  for (const std::string& stale : excusal.stale) {
    std::printf("%sstale entry of %s: %s\n", mark, visible(settings.expected_failures_file).c_str(),
                stale.c_str());
  }
  const bool unverified_must = std::ranges::any_of(REQUIREMENTS, [&](const RequirementRow& row) {
    return row.level == Level::kMust &&
           conformance.outcomes.at(static_cast<std::size_t>(row.requirement)).standing ==
               Standing::kNotVerified;
  });
  if (settings.strict && unverified_must) {
    std::printf("%s--strict: a must that was not verified fails the run\n", mark);
  }
  const bool saved = !settings.save || save_failures(conformance, *settings.save_parent,
                                                     *settings.save, settings.tap ? "# " : "");
  std::fflush(stdout);
  if ((settings.junit && !write_file(*settings.junit, junit_conform_report(judged))) ||
      (settings.markdown && !write_file(*settings.markdown, markdown_conform_report(judged))) ||
      (settings.json && !write_file(*settings.json, json_conform_report(judged)))) {
    return 2;
  }
  if (!saved) {
    return 2;
  }
  // The musts that failed and no baseline expects.
  const bool failed_unexpected = std::ranges::any_of(REQUIREMENTS, [&](const RequirementRow& row) {
    const auto index = static_cast<std::size_t>(row.requirement);
    return row.level == Level::kMust &&
           conformance.outcomes.at(index).standing == Standing::kFailed &&
           !excusal.excused.at(index);
  });
  return failed_unexpected || !excusal.stale.empty() || (settings.strict && unverified_must) ? 1
                                                                                             : 0;
}
