// Differential runs: generate, play twice, compare byte for byte; shrink and save the
// first difference.
#include "commands/compare.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "commands/extension_line.h"
#include "commands/options.h"
#include "conversation/case_writer.h"
#include "conversation/play.h"
#include "differential/generator.h"
#include "differential/pair.h"
#include "differential/shrink.h"
#include "text/visible.h"

namespace {

constexpr char COMPARE_HELP[] =
    "usage: extension-host compare [--reference PATH] [--seed N]\n"
    "           [--seconds S | --conversations N] [--save DIR] [--jobs N]\n"
    "           -- CANDIDATE_COMMAND_LINE\n"
    "\n"
    "Generates conversations, plays each against the reference extension and against the\n"
    "candidate, and compares standard output byte for byte, the exit status and standard\n"
    "error. At the first difference it shrinks the conversation to a smallest one that\n"
    "still shows it (lines dropped, then values made simpler) and prints it with the\n"
    "difference. The conversations are those of a host, a careless one and a hostile one,\n"
    "drawn from the seed: the same seed, the same ones.\n"
    "\n"
    "After '--' comes the candidate's command line as it is run for the protocol\n"
    "(-- ./my-port --protocol 1, a wrapper before it if you like); each conversation's own\n"
    "arguments take the place of '--protocol 1', or are added when it is left out.\n"
    "\n"
    "  --reference PATH   the extension to compare with (default: the sample-extension\n"
    "                     installed beside this host, or built with it)\n"
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
    "exit status: 0 when no difference was found; 1 when one was; 2 for a usage error (a\n"
    "candidate or reference that cannot be run, a DIR that cannot be written among them),\n"
    "said before any conversation is played.\n"
    "\n"
    "example: extension-host compare --seconds 60 --save found -- ./my-port --protocol 1\n";

constexpr std::size_t SHRINK_BUDGET = 4000;
constexpr long long MAX_SEED = (1LL << 62);
constexpr long long MAX_CONVERSATIONS = 1000000000000LL;
constexpr long long MAX_JOBS = 4096;
constexpr long long MAX_TIMEOUT_MS = 3600000;
constexpr long long MAX_SECONDS = 86400 * 7;

struct CompareSettings {
  std::string reference;
  std::uint64_t seed = 1;
  std::optional<double> seconds;
  std::optional<std::uint64_t> conversations;
  std::chrono::seconds shrink_seconds{60};
  std::chrono::milliseconds timeout = DEFAULT_PLAY_TIMEOUT;
  std::optional<std::filesystem::path> save;
  std::size_t jobs = 0;
  std::vector<std::string> candidate;
};

// The sample-extension beside this host (installed), or the one built with it.
std::string default_reference() {
  const std::filesystem::path beside = host_folder() / "sample-extension";
  if (!beside.parent_path().empty() && access(beside.c_str(), X_OK) == 0) {
    return beside.string();
  }
  return SAMPLE_REFERENCE_EXTENSION;
}

std::optional<int> read_settings(const std::vector<std::string>& arguments,
                                 CompareSettings* settings) {
  const CommandLine line = split_command_line(arguments);
  std::string problem;
  for (std::size_t i = 0; i < line.options.size(); ++i) {
    const std::string& option = line.options[i];
    if (option == "--help" || option == "-h") {
      std::fputs(COMPARE_HELP, stdout);
      return 0;
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
      settings->reference = value;
    } else if (option == "--save") {
      settings->save = value;
    } else if (option == "--seed") {
      const std::optional<long long> seed = parse_whole(option, value, 0, MAX_SEED, &problem);
      if (!seed) {
        return usage_error("compare", problem);
      }
      settings->seed = static_cast<std::uint64_t>(*seed);
    } else if (option == "--conversations") {
      const auto count = parse_whole(option, value, 1, MAX_CONVERSATIONS, &problem);
      if (!count) {
        return usage_error("compare", problem);
      }
      settings->conversations = static_cast<std::uint64_t>(*count);
    } else if (option == "--jobs") {
      const std::optional<long long> jobs = parse_whole(option, value, 1, MAX_JOBS, &problem);
      if (!jobs) {
        return usage_error("compare", problem);
      }
      settings->jobs = static_cast<std::size_t>(*jobs);
    } else if (option == "--timeout-ms") {
      const auto milliseconds = parse_whole(option, value, 1, MAX_TIMEOUT_MS, &problem);
      if (!milliseconds) {
        return usage_error("compare", problem);
      }
      settings->timeout = std::chrono::milliseconds(*milliseconds);
    } else if (option == "--shrink-seconds") {
      const auto seconds = parse_whole(option, value, 1, MAX_SECONDS, &problem);
      if (!seconds) {
        return usage_error("compare", problem);
      }
      settings->shrink_seconds = std::chrono::seconds(*seconds);
    } else if (option == "--seconds") {
      settings->seconds = parse_seconds(option, value, MAX_SECONDS, &problem);
      if (!settings->seconds) {
        return usage_error("compare", problem);
      }
    } else {
      return usage_error("compare", "unknown option '" + option + "'");
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
    settings->reference = default_reference();
  }
  if (!program_runs(settings->candidate, &problem) ||
      !program_runs({settings->reference}, &problem)) {
    return usage_error("compare", problem);
  }
  if (settings->jobs == 0) {
    // Conversations mostly wait on their processes: several per processor keep it busy.
    settings->jobs = 4 * static_cast<std::size_t>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  }
  if (!settings->seconds && !settings->conversations) {
    settings->seconds = 10;
  }
  return std::nullopt;
}

// Whether a conversation that differed differs again when played a second time: one that
// does not showed a timing difference on a busy machine (one side killed at the deadline).
// None when the deadline cut the second play short.
std::optional<bool> recurs(const Contestants& contestants,
                           const GeneratedConversation& conversation,
                           std::chrono::milliseconds timeout, Clock::time_point deadline) {
  const std::optional<Pair> again = play_both(contestants, conversation, timeout, deadline);
  if (!again) {
    return std::nullopt;
  }
  return !difference(*again).empty();
}

void print_conversation(const GeneratedConversation& conversation) {
  std::string arguments;
  for (const std::string& argument : conversation.arguments) {
    arguments += " '" + visible_prefix(argument, 40) + "'";
  }
  std::printf("arguments:%s\n", arguments.empty() ? " (none)" : arguments.c_str());
  for (std::size_t i = 0; i < conversation.lines.size(); ++i) {
    std::printf("  %zu: %s\n", i + 1, visible_prefix(conversation.lines[i].render(), 300).c_str());
  }
}

// Writes the case with the reference's answer as the expected one. Returns false, having
// said why, when it cannot be kept.
bool save_case(CaseWriter* writer, const GeneratedConversation& conversation,
               const Observed& reference) {
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
  std::string problem;
  if (!write_case_files(writer->scratch(), found, /*skip_streams=*/false, &problem) ||
      !writer->commit(&problem)) {
    std::fprintf(stderr, "extension-host: not saved: %s\n", problem.c_str());
    return false;
  }
  std::printf("saved as the case %s\n", visible(writer->target().string()).c_str());
  return true;
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
  const Contestants contestants{{settings.reference}, settings.candidate};
  const Clock::time_point started = Clock::now();
  // Without --seconds, the search ends with its count; --timeout-ms bounds each play.
  const Clock::time_point until =
      settings.seconds ? started + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(*settings.seconds))
                       : Clock::time_point::max();
  const Clock::time_point confirm_until =
      until == Clock::time_point::max() ? until : until + settings.shrink_seconds;
  // Conversations are handed out in order; once a difference is found no more start, so
  // the first difference is the lowest-numbered one, whatever the number of jobs.
  std::mutex mutex;
  std::uint64_t next = 0;
  std::uint64_t played = 0;
  std::uint64_t unsteady = 0;
  std::optional<std::uint64_t> first_different;
  std::atomic<bool> stop = false;
  const auto work = [&] {
    for (;;) {
      std::uint64_t index = 0;
      {
        const std::lock_guard lock(mutex);
        if (stop || (settings.conversations && next >= *settings.conversations) ||
            Clock::now() >= until) {
          return;
        }
        index = next++;
      }
      const GeneratedConversation conversation = generate_conversation(settings.seed, index);
      const std::optional<Pair> pair =
          play_both(contestants, conversation, settings.timeout, until);
      const bool differs = pair && !difference(*pair).empty();
      // Played again before it counts, so that a busy machine's timing is not reported.
      // A difference found in time is confirmed within the shrinking's time.
      const std::optional<bool> recurred =
          differs ? recurs(contestants, conversation, settings.timeout, confirm_until)
                  : std::optional<bool>(false);
      const bool steady = recurred.value_or(false);
      const std::lock_guard lock(mutex);
      played += pair ? 1U : 0U;
      unsteady += differs && recurred && !steady ? 1U : 0U;
      if (steady && (!first_different || index < *first_different)) {
        first_different = index;
        stop = true;
      }
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < settings.jobs; ++i) {
    workers.emplace_back(work);
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("%llu conversations in %.1f s (%.0f a second), seed %llu, reference %s\n",
              static_cast<unsigned long long>(played), seconds,
              static_cast<double>(played) / std::max(seconds, 1e-9),
              static_cast<unsigned long long>(settings.seed), visible(settings.reference).c_str());
  if (unsteady > 0) {
    std::printf(
        "%llu conversations differed once but not when played again (timing on a busy "
        "machine?); passed over\n",
        static_cast<unsigned long long>(unsteady));
  }
  if (!first_different) {
    std::printf("no difference\n");
    return 0;
  }
  const GeneratedConversation found = generate_conversation(settings.seed, *first_different);
  std::printf("conversation %llu differs (%zu lines); shrinking for at most %lld s...\n",
              static_cast<unsigned long long>(*first_different), found.lines.size(),
              static_cast<long long>(settings.shrink_seconds.count()));
  std::fflush(stdout);
  // Shrinking has its own bound; what is left of it after the last step is for showing.
  const Clock::time_point shrinking_ends = Clock::now() + settings.shrink_seconds;
  const Clock::time_point showing_ends =
      shrinking_ends + 2 * (settings.timeout + std::chrono::milliseconds(asked_wait_ms(found)));
  const GeneratedConversation shrunk = shrink(
      found,
      [&](const GeneratedConversation& candidate) {
        const std::optional<Pair> pair =
            play_both(contestants, candidate, settings.timeout, shrinking_ends);
        return pair && !difference(*pair).empty();
      },
      SHRINK_BUDGET);
  // A shrinking step that was kept for a difference that did not recur leaves nothing to
  // show: then the conversation as found is shown, unshrunk.
  std::optional<Pair> pair = play_both(contestants, shrunk, settings.timeout, showing_ends);
  const bool shrunk_differs = pair && !difference(*pair).empty();
  const GeneratedConversation& shown = shrunk_differs ? shrunk : found;
  if (!shrunk_differs) {
    pair = play_both(contestants, found, settings.timeout, showing_ends);
  }
  std::printf("\nthe smallest conversation found that differs (%zu lines):\n", shown.lines.size());
  print_conversation(shown);
  if (!pair || difference(*pair).empty()) {
    std::printf("\nthe difference did not show again when played for the report\n");
    return 1;
  }
  std::printf("\nfirst difference: %s\n", visible(difference(*pair)).c_str());
  if (writer) {
    save_case(&*writer, shown, pair->reference);
  }
  return 1;
}
