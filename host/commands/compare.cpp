// Differential runs: generate, play twice, compare byte for byte; shrink and save the
// first difference.
#include "commands/compare.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "base/executable.h"
#include "commands/extension_line.h"
#include "commands/options.h"
#include "commands/sandbox_options.h"
#include "conversation/case_writer.h"
#include "conversation/play.h"
#include "differential/catalogue.h"
#include "differential/generator.h"
#include "differential/pair.h"
#include "differential/search.h"
#include "differential/shrink.h"
#include "process/program.h"
#include "report/compare_report.h"
#include "text/shell_words.h"
#include "text/visible.h"
#include "text/words.h"

namespace {

// Beside the saved case: the folder of conversations that differed only once.
constexpr char UNSTEADY[] = ".unsteady";

constexpr char COMPARE_HELP[] =
    "usage: extension-host compare [--reference COMMAND_LINE] [--seed N]\n"
    "           [--seconds S | --conversations N] [--save DIR] [--jobs N]\n"
    "           -- CANDIDATE_COMMAND_LINE\n"
    "\n"
    "Generates conversations, plays each against the reference extension and against the\n"
    "candidate, and compares standard output byte for byte, the exit status and standard\n"
    "error. At the first difference it shrinks the conversation to a smallest one that\n"
    "still shows it (lines dropped, then values made simpler) and prints it with the\n"
    "difference. The conversations are those of a host, a careless one and a hostile one,\n"
    "drawn from the seed: the same seed, the same ones. Their calls are drawn from the\n"
    "reference's own catalogue, learned from its announcement, so any extension of the\n"
    "protocol can be compared with another version of itself or with a port.\n"
    "\n"
    "After '--' comes the candidate's command line as it is run for the protocol\n"
    "(-- ./my-port --protocol 1, a wrapper before it if you like); each conversation's own\n"
    "arguments take the place of '--protocol 1', or are added when it is left out.\n"
    "\n"
    "  --reference COMMAND_LINE\n"
    "                     the extension to compare with, its command line before the\n"
    "                     protocol's arguments as one value, split into words as a shell\n"
    "                     splits them, nothing expanded: --reference 'node units.js'\n"
    "                     (default: the sample-extension installed beside this host, or\n"
    "                     built with it)\n"
    "  --reference-env NAME[=VALUE]\n"
    "                     pass NAME to the reference, or set it (repeatable); --env is\n"
    "                     the candidate's alone, so that a fault set by a variable stays\n"
    "                     on one side\n"
    "  --seed N           the seed (default 1)\n"
    "  --seconds S        search for S seconds (default 10); the run ends within S, and\n"
    "                     when a difference is found, shrinking and showing it take at\n"
    "                     most --shrink-seconds more, and two plays\n"
    "  --shrink-seconds N shrink for at most N seconds (default 60)\n"
    "  --timeout-ms N     kill both sides N ms after a conversation starts, beyond the\n"
    "                     waits it asks for (default 2000); raise it for a slow wrapper\n"
    "  --conversations N  run N conversations instead\n"
    "  --save DIR         write the shrunk conversation as a golden case in DIR, with the\n"
    "                     reference's answer as the expected one\n"
    "  --jobs N           play N conversations at once (default: four per processor)\n"
    "\n"
    "%s"
    "\n"
    "exit status: 0 when no difference was found; 1 when one was, or when no conversation\n"
    "could be played whole in the time given; 2 for a usage error (a\n"
    "candidate or reference that cannot be run, a reference that announces no catalogue, a\n"
    "DIR that cannot be written among them), said before any conversation is played.\n"
    "\n"
    "example: extension-host compare --seconds 60 --save found -- ./my-port --protocol 1\n";

constexpr std::size_t SHRINK_BUDGET = 4000;
constexpr long long LONG_ENOUGH_WAIT_MS = 200;
constexpr long long MAX_SEED = (1LL << 62);
constexpr long long MAX_CONVERSATIONS = 1000000000000LL;
constexpr long long MAX_JOBS = 4096;
constexpr long long MAX_TIMEOUT_MS = 3600000;
constexpr long long MAX_SECONDS = 7LL * 86400;

struct CompareSettings {
  std::vector<std::string> reference;  // its command line before the protocol's arguments
  std::uint64_t seed = 1;
  std::optional<double> seconds;
  std::optional<std::uint64_t> conversations;
  std::chrono::seconds shrink_seconds{60};
  std::chrono::milliseconds timeout = DEFAULT_PLAY_TIMEOUT;
  std::optional<std::filesystem::path> save;
  std::size_t jobs = 0;
  std::vector<std::string> candidate;
  SandboxPolicy sandbox_policy;                    // the candidate's; the reference's but its --env
  std::vector<std::string> reference_environment;  // --reference-env, in the order given
  // The same view and bounds for both sides, each with its own environment.
  std::optional<Sandbox> candidate_sandbox;
  std::optional<Sandbox> reference_sandbox;
  Catalogue catalogue;  // the reference's, which the calls are drawn from
};

// The sample-extension beside this host (installed in the same bin/), or the one built
// with it (the build tree's, a folder above): found from where the host is, so that no
// path of the build is held in an installed host.
std::string default_reference() {
  const std::filesystem::path folder = host_folder();
  for (const std::filesystem::path& beside :
       {folder / "sample-extension", folder.parent_path() / "sample-extension"}) {
    if (!folder.empty() && access(beside.c_str(), X_OK) == 0) {
      return beside.string();
    }
  }
  return "sample-extension";  // along PATH
}

std::optional<int> read_settings(const std::vector<std::string>& arguments,
                                 CompareSettings* settings) {
  const CommandLine line = split_command_line(arguments);
  std::string problem;
  for (std::size_t i = 0; i < line.options.size(); ++i) {
    const std::string& option = line.options[i];
    if (option == "--help" || option == "-h") {
      std::printf(COMPARE_HELP, SANDBOX_OPTIONS_HELP);
      return 0;
    }
    if (read_sandbox_option(line.options, &i, &settings->sandbox_policy, &problem)) {
      if (!problem.empty()) {
        return usage_error("compare", problem);
      }
      continue;
    }
    if (!option.starts_with("-")) {
      return usage_error("compare",
                         "put '--' before the candidate's command line: "
                         "extension-host compare [OPTIONS] -- " +
                             shell_quoted({option}) + " --protocol 1");
    }
    if (i + 1 >= line.options.size()) {
      return usage_error("compare", "unknown option or one without its value: '" + option + "'");
    }
    const std::string& value = line.options[++i];
    if (option == "--reference") {
      std::string why;
      if (const std::optional<std::vector<std::string>> words = shell_words(value, &why)) {
        settings->reference = *words;
      } else {
        problem =
            "--reference takes the reference's command line as one value, split as a "
            "shell splits it: '" +
            visible(value) + "': " + why;
      }
    } else if (option == "--reference-env") {
      read_variable(option, value, &settings->reference_environment, &problem);
    } else if (option == "--save") {
      settings->save = value;
    } else if (option == "--seed") {
      if (const auto seed = parse_whole(option, value, 0, MAX_SEED, &problem)) {
        settings->seed = static_cast<std::uint64_t>(*seed);
      }
    } else if (option == "--conversations") {
      if (const auto count = parse_whole(option, value, 1, MAX_CONVERSATIONS, &problem)) {
        settings->conversations = static_cast<std::uint64_t>(*count);
      }
    } else if (option == "--jobs") {
      if (const auto jobs = parse_whole(option, value, 1, MAX_JOBS, &problem)) {
        settings->jobs = static_cast<std::size_t>(*jobs);
      }
    } else if (option == "--timeout-ms") {
      if (const auto milliseconds = parse_whole(option, value, 1, MAX_TIMEOUT_MS, &problem)) {
        settings->timeout = std::chrono::milliseconds(*milliseconds);
      }
    } else if (option == "--shrink-seconds") {
      if (const auto seconds = parse_whole(option, value, 1, MAX_SECONDS, &problem)) {
        settings->shrink_seconds = std::chrono::seconds(*seconds);
      }
    } else if (option == "--seconds") {
      settings->seconds = parse_seconds(option, value, MAX_SECONDS, &problem);
    } else {
      return usage_error("compare", "unknown option '" + option + "'");
    }
    // A value that does not read has said why.
    if (!problem.empty()) {
      return usage_error("compare", problem);
    }
  }
  if (settings->seconds && settings->conversations) {
    return usage_error("compare", "give --seconds or --conversations, not both");
  }
  if (line.command.empty()) {
    return usage_error("compare",
                       "name the candidate's command line after '--': "
                       "extension-host compare -- ./my-port --protocol 1");
  }
  const std::optional<std::vector<std::string>> candidate =
      words_before_case_arguments(line.command, "compare", &problem);
  if (!candidate) {
    return usage_error("compare", problem);
  }
  settings->candidate = *candidate;
  if (settings->reference.empty()) {
    settings->reference = {default_reference()};
  }
  if (!program_runs(settings->candidate, &problem)) {
    return usage_error("compare", problem);
  }
  if (!program_runs(settings->reference, &problem)) {
    return usage_error("compare", "the reference: " + problem);
  }
  if (settings->jobs == 0) {
    // Conversations mostly wait on their processes: several per processor keep it busy.
    settings->jobs = 4 * static_cast<std::size_t>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  }
  if (!settings->seconds && !settings->conversations) {
    settings->seconds = 10;
  }
  settings->candidate_sandbox = prepare_sandbox("compare", settings->sandbox_policy,
                                                {settings->candidate, settings->reference});
  if (!settings->candidate_sandbox) {
    return 2;
  }
  SandboxPolicy reference_policy = settings->sandbox_policy;
  reference_policy.environment = settings->reference_environment;
  settings->reference_sandbox =
      prepare_sandbox("compare", reference_policy, {settings->candidate, settings->reference});
  if (!settings->reference_sandbox) {
    return 2;
  }
  std::optional<Catalogue> catalogue = learn_catalogue(
      settings->reference, *settings->reference_sandbox, settings->timeout, &problem);
  if (!catalogue) {
    return usage_error("compare", problem);
  }
  settings->catalogue = std::move(*catalogue);
  return std::nullopt;
}

// The file a command line's program is, to tell whether two name the same.
std::optional<std::pair<dev_t, ino_t>> file_of(const std::string& program) {
  std::string problem;
  const std::optional<std::string> path = find_program(program, &problem);
  struct stat status = {};
  if (!path || stat(path->c_str(), &status) != 0) {
    return std::nullopt;
  }
  return std::pair{status.st_dev, status.st_ino};
}

// Writes the case with the reference's answer as the expected one. Returns false, having
// said why, when it cannot be kept.
bool save_case(CaseWriter* writer, const GeneratedConversation& conversation, const Pair& pair) {
  const Observed& reference = pair.reference;
  if (!reference.started || reference.timed_out || reference.termination.signaled ||
      reference.error_bytes != 0 || reference.output_total != reference.output.size()) {
    std::fprintf(stderr,
                 "extension-host: not saved: the reference's own ending (%s) cannot be a "
                 "golden case\n",
                 visible(describe(reference.termination)).c_str());
    return false;
  }
  Conversation found;
  found.arguments = conversation.arguments;
  found.input = conversation.input();
  found.output = reference.output;
  found.status = reference.termination.code;
  // A candidate killed at the deadline needs no bound of time to fail the case: check's
  // own deadline kills it again. An upper bound of the time it took would fail any slow
  // machine.
  std::string problem;
  const std::filesystem::path folder = writer->scratch(&problem);
  if (folder.empty() || !write_case_files(folder, found, /*skip_streams=*/false, &problem) ||
      !writer->commit(&problem)) {
    std::fprintf(stderr, "extension-host: not saved: %s\n", problem.c_str());
    return false;
  }
  return true;
}

// Keeps a conversation that differed once as a case in the folder of such cases, so that
// it can be played again; says where, or why not. The reference's answer is the expected
// one: `reference` when it was played whole, else it is played once more, alone.
// The folder is beside the saved case, made within the folder held since the start, so
// that no extension can send it elsewhere.
void keep_unsteady(const CaseWriter& saving, const Contestants& contestants,
                   const CompareSettings& settings, std::uint64_t index,
                   const Observed* reference) {
  const GeneratedConversation conversation =
      generate_conversation(settings.catalogue, settings.seed, index);
  std::string problem;
  const std::optional<HeldFolder> folder =
      saving.folder().subfolder(saving.target().filename().string() + UNSTEADY, &problem);
  std::optional<CaseWriter> writer =
      folder ? CaseWriter::prepare_in(*folder, "conversation-" + std::to_string(index), false, "",
                                      &problem)
             : std::nullopt;
  if (!writer) {
    std::fprintf(stderr, "extension-host: not kept: %s\n", problem.c_str());
    return;
  }
  const Observed expected =
      reference && !reference->timed_out
          ? *reference
          : observe(contestants.reference, *contestants.reference_sandbox, conversation.arguments,
                    conversation.input(),
                    settings.timeout + std::chrono::milliseconds(asked_wait_ms(conversation)),
                    kept_output_for(conversation.input().size()));
  if (save_case(&*writer, conversation, Pair{expected, Observed{}, std::nullopt})) {
    std::printf("    kept as the case %s\n", visible(writer->location().string()).c_str());
  }
}

}  // namespace

int compare_command(const std::vector<std::string>& arguments) {
  CompareSettings settings;
  if (const std::optional<int> status = read_settings(arguments, &settings)) {
    return *status;
  }
  std::string problem;
  std::optional<CaseWriter> writer =
      settings.save ? CaseWriter::prepare(*settings.save, /*replace=*/false, "", &problem)
                    : std::nullopt;
  if (settings.save && !writer) {
    return usage_error("compare", problem);
  }
  // Conversations that differ only once are kept apart from the one that differs twice.
  const std::filesystem::path unsteady_folder =
      writer ? std::filesystem::path(writer->target().string() + UNSTEADY)
             : std::filesystem::path();
  std::error_code failure;
  if (writer &&
      std::filesystem::exists(std::filesystem::symlink_status(unsteady_folder, failure))) {
    return usage_error("compare", unsteady_folder.string() +
                                      " exists, where conversations that differ only once would "
                                      "be kept");
  }
  const Contestants contestants{settings.reference, settings.candidate,
                                &*settings.reference_sandbox, &*settings.candidate_sandbox};
  if (settings.candidate == settings.reference ||
      (settings.candidate.size() == 1 && settings.reference.size() == 1 &&
       file_of(settings.candidate[0]) &&
       file_of(settings.candidate[0]) == file_of(settings.reference[0]))) {
    std::printf(
        "the candidate is the reference itself: this compares it with itself, which "
        "tests the host rather than a port\n");
  } else if (const std::optional<Catalogue> candidates = learn_catalogue(
                 settings.candidate, *settings.candidate_sandbox, settings.timeout, &problem);
             candidates && candidates->extension_id != settings.catalogue.extension_id) {
    // Two different extensions differ from their first answer: that is no porting fault.
    std::printf(
        "the reference calls itself \"%s\" and the candidate \"%s\": these are two "
        "different extensions, not a port and its reference, so what differs may be no "
        "fault (--reference names the extension to compare with)\n",
        visible(settings.catalogue.extension_id).c_str(),
        visible(candidates->extension_id).c_str());
  }
  std::fflush(stdout);

  SearchSettings search_settings;
  search_settings.catalogue = &settings.catalogue;
  search_settings.seed = settings.seed;
  search_settings.conversations = settings.conversations;
  search_settings.timeout = settings.timeout;
  search_settings.jobs = settings.jobs;
  if (settings.seconds) {
    search_settings.until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(*settings.seconds));
    // A difference found in time is confirmed within the shrinking's time.
    search_settings.confirm_until = search_settings.until + settings.shrink_seconds;
  }
  const SearchResult result = search(contestants, search_settings);
  std::printf("%s in %.1f s (%.0f a second), seed %llu\n",
              counted(result.played, "conversation", "conversations").c_str(), result.seconds,
              static_cast<double>(result.played) / std::max(result.seconds, 1e-9),
              static_cast<unsigned long long>(settings.seed));
  std::printf(
      "  reference: %s\n  candidate: %s\n  calls drawn from the reference's catalogue: %s\n"
      "  sandbox: %s\n",
      shell_quoted(contestants.reference).c_str(), shell_quoted(contestants.candidate).c_str(),
      catalogue_summary(settings.catalogue).c_str(),
      settings.candidate_sandbox->description().c_str());
  // Each side's variables, since a fault may be set by one.
  if (!settings.sandbox_policy.environment.empty() || !settings.reference_environment.empty()) {
    const auto listed = [](const std::vector<std::string>& variables) {
      return variables.empty() ? std::string("nothing") : visible(shell_quoted(variables));
    };
    std::printf(
        "  passed or set for the candidate (--env): %s; for the reference "
        "(--reference-env): %s\n",
        listed(settings.sandbox_policy.environment).c_str(),
        listed(settings.reference_environment).c_str());
  }

  // Differences that did not recur: none is passed over in silence.
  bool flaky = false;
  if (!result.unsteady.empty()) {
    std::printf("\n%s differed once but not when played again:\n",
                counted(result.unsteady.size(), "conversation", "conversations").c_str());
    for (const Unsteady& unsteady : result.unsteady) {
      const bool in_time_alone =
          std::all_of(unsteady.first_play.begin(), unsteady.first_play.end(),
                      [](const Aspect& aspect) { return aspect.name == "time"; });
      const char* why =
          unsteady.at_the_deadline
              ? " (a side was killed at the deadline the first time: a busy machine can do that; "
                "--timeout-ms gives more time)"
          : in_time_alone
              ? " (nothing written differed, only the time: a side answered sooner than asked "
                "once, which no load can make, but not again)"
              : " (no machine's load changes what is written: the candidate answers otherwise "
                "from one run to the next)";
      std::printf("  conversation %llu, the first time:\n%s    the second time: no difference%s\n",
                  static_cast<unsigned long long>(unsteady.index),
                  ("  " + continued(visible_lines(describe(unsteady.first_play)), "  ")).c_str(),
                  why);
      flaky = flaky || !unsteady.at_the_deadline;
      if (writer) {
        keep_unsteady(*writer, contestants, settings, unsteady.index, &unsteady.reference);
      }
    }
  }
  if (!result.first_different && result.played == 0) {
    // Nothing compared is no pass: a busy machine can cut every conversation short.
    std::printf(
        "\nno conversation was played whole: nothing was compared (--seconds gives more time, "
        "--timeout-ms more to each conversation)\n");
    return 1;
  }
  if (!result.first_different) {
    std::printf("\n%s\n", flaky ? "no difference that recurs; but the candidate is unsteady"
                                : "no difference");
    return flaky ? 1 : 0;
  }
  const GeneratedConversation found =
      generate_conversation(settings.catalogue, settings.seed, *result.first_different);
  std::printf("\nconversation %llu differs (%s); shrinking for at most %lld s...\n",
              static_cast<unsigned long long>(*result.first_different),
              counted(found.lines.size(), "line", "lines").c_str(),
              static_cast<long long>(settings.shrink_seconds.count()));
  std::fflush(stdout);
  // Shrinking has its own bound; what is left of it after the last step is for showing.
  const Clock::time_point shrinking_ends = Clock::now() + settings.shrink_seconds;
  const Clock::time_point showing_ends =
      shrinking_ends + 2 * (settings.timeout + std::chrono::milliseconds(asked_wait_ms(found)));
  // Every kind of difference it showed is kept while it shrinks: a porter sees all that
  // is wrong at once (the output and the exit status, say), not the one left last.
  std::vector<std::string> kinds;
  for (const Aspect& aspect : result.confirmed) {
    kinds.push_back(aspect.name);
  }
  const GeneratedConversation shrunk = shrink(
      found,
      [&](const GeneratedConversation& candidate) {
        const std::optional<Pair> pair =
            play_both(contestants, candidate, settings.timeout, shrinking_ends);
        if (!pair) {
          return false;
        }
        const std::vector<Aspect> now = differences(*pair, candidate);
        return !now.empty() &&
               std::all_of(kinds.begin(), kinds.end(), [&](const std::string& kind) {
                 return std::any_of(now.begin(), now.end(),
                                    [&](const Aspect& aspect) { return aspect.name == kind; });
               });
      },
      SHRINK_BUDGET);
  // A shrinking step that was kept for a difference that did not recur leaves nothing to
  // show: then the conversation as found is shown, unshrunk.
  std::optional<Pair> pair = play_both(contestants, shrunk, settings.timeout, showing_ends);
  std::vector<Aspect> aspects = pair ? differences(*pair, shrunk) : std::vector<Aspect>{};
  const GeneratedConversation& shown = aspects.empty() ? found : shrunk;
  if (aspects.empty()) {
    pair = play_both(contestants, found, settings.timeout, showing_ends);
    aspects = pair ? differences(*pair, found) : std::vector<Aspect>{};
  }
  // An answer too soon is kept with a wait long enough that no start-up or load hides it,
  // so that the saved case fails the candidate in check as well.
  const auto in_time = [](const Aspect& aspect) { return aspect.name == "time"; };
  std::optional<GeneratedConversation> longer;
  if (std::any_of(aspects.begin(), aspects.end(), in_time)) {
    GeneratedConversation raised = with_longer_wait(shown, LONG_ENOUGH_WAIT_MS);
    std::optional<Pair> raised_pair =
        raised.input() == shown.input()
            ? std::nullopt
            : play_both(contestants, raised, settings.timeout, showing_ends);
    const std::vector<Aspect> raised_aspects =
        raised_pair ? differences(*raised_pair, raised) : std::vector<Aspect>{};
    if (std::any_of(raised_aspects.begin(), raised_aspects.end(), in_time)) {
      longer = std::move(raised);
      pair = std::move(raised_pair);
      aspects = raised_aspects;
    }
  }
  const GeneratedConversation& told = longer ? *longer : shown;
  std::printf("\nthe smallest conversation found that differs (%s)%s:\n%s",
              counted(told.lines.size(), "line", "lines").c_str(),
              longer ? (", its wait raised to " + std::to_string(LONG_ENOUGH_WAIT_MS) +
                        " ms, where no start-up or load hides an answer too soon")
                           .c_str()
                     : "",
              conversation_for_people(told).c_str());
  if (aspects.empty()) {
    // Twice is not always: what it showed is still told, and it is kept to be played again.
    std::printf(
        "\nhow they differed when found, twice (the reference's is the expected answer):\n%s"
        "it did not show again when played for the report%s\n",
        visible_lines(describe(result.confirmed)).c_str(),
        result.confirmed_at_the_deadline
            ? ": a side was killed at the deadline when found, which a busy machine can do "
              "(--timeout-ms gives more time)"
            : "");
    if (writer) {
      keep_unsteady(*writer, contestants, settings, *result.first_different,
                    pair ? &pair->reference : nullptr);
    }
    return 1;
  }
  std::vector<std::string> reference_line = contestants.reference;
  std::vector<std::string> candidate_line = contestants.candidate;
  reference_line.insert(reference_line.end(), told.arguments.begin(), told.arguments.end());
  candidate_line.insert(candidate_line.end(), told.arguments.begin(), told.arguments.end());
  const std::string told_aspects = visible_lines(describe(aspects));
  std::printf(
      "\nhow they differ (the reference's is the expected answer):\n%s%s"
      "the reference ran as: %s\nthe candidate ran as: %s\n",
      told_aspects.c_str(),
      holds_an_escape(told_aspects) ? ("  " + std::string(ESCAPE_LEGEND) + "\n").c_str() : "",
      shell_quoted_short(reference_line).c_str(), shell_quoted_short(candidate_line).c_str());
  if (writer && save_case(&*writer, told, *pair)) {
    std::printf("saved as the case %s\n", visible(writer->location().string()).c_str());
  }
  return 1;
}
