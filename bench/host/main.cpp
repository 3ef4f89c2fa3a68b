// bench-host: what the host's sandbox costs. compare's conversations a second, against the
// floor of the same machine: two plain posix_spawns of the extension per conversation,
// each fed one short conversation through pipes, on as many lanes as compare plays. All
// in one run, in rounds that alternate the three, so that every figure meets the same
// machine; each is the median of the rounds, with the lowest and highest beside it.
//
//   bench-host --host PATH --extension PATH [--results FILE] [--seconds S] [--rounds N]
//              [--jobs N]
//
// The target: compare, in its sandbox, plays at least half the floor's conversations a
// second. Exits 1 when a run fails, 0 otherwise; the verdict on the target is in the
// report, with the figures.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char SHORT_CONVERSATION[] =
    "{\"type\":\"handshake\"}\n"
    "{\"type\":\"call\",\"request_id\":\"1\",\"callable\":\"sample.echo\",\"arguments\":[1]}\n"
    "{\"type\":\"shutdown\"}\n";
constexpr double HALF = 0.5;

struct Options {
  std::string host;
  std::string extension;
  std::string results;
  double seconds = 10;
  int rounds = 3;
  int jobs = 0;
};

// One plain run of the extension on the short conversation; false when it did not answer.
bool play_plainly(const std::string& extension) {
  int to_child[2];
  int from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
  std::string program = extension;
  std::string protocol = "--protocol";
  std::string one = "1";
  char* argv[] = {program.data(), protocol.data(), one.data(), nullptr};
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  bool answered = false;
  if (failed == 0) {
    const std::string input = SHORT_CONVERSATION;
    answered = write(to_child[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
  }
  close(to_child[1]);
  std::size_t lines = 0;
  char chunk[4096];
  for (ssize_t got = 0; (got = read(from_child[0], chunk, sizeof chunk)) > 0;) {
    lines += static_cast<std::size_t>(std::count(chunk, chunk + got, '\n'));
  }
  close(from_child[0]);
  int status = 0;
  if (failed == 0) {
    waitpid(pid, &status, 0);
  }
  return answered && lines == 3 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The floor: conversations a second, two plain runs each, on `jobs` lanes.
double floor_rate(const Options& options, bool* ok) {
  std::atomic<long> played = 0;
  std::atomic<bool> failed = false;
  const Clock::time_point started = Clock::now();
  const Clock::time_point until = started + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(options.seconds));
  std::vector<std::thread> lanes;
  lanes.reserve(static_cast<std::size_t>(options.jobs));
  for (int lane = 0; lane < options.jobs; ++lane) {
    lanes.emplace_back([&] {
      while (Clock::now() < until && !failed) {
        for (int side = 0; side < 2; ++side) {  // a reference and a candidate
          failed = failed || !play_plainly(options.extension);
        }
        ++played;
      }
    });
  }
  for (std::thread& lane : lanes) {
    lane.join();
  }
  *ok = !failed;
  return static_cast<double>(played) /
         std::chrono::duration<double>(Clock::now() - started).count();
}

// compare's own count of conversations a second, the extension against itself.
double compare_rate(const Options& options, bool sandboxed, bool* ok) {
  std::string command = "'" + options.host + "' compare --seconds " +
                        std::to_string(options.seconds) + " --jobs " +
                        std::to_string(options.jobs) + (sandboxed ? "" : " --no-sandbox") +
                        " -- '" + options.extension + "' --protocol 1 2>&1";
  // The command is made of this benchmark's own arguments, quoted.
  FILE* pipe = popen(command.c_str(), "r");  // NOLINT(cert-env33-c)
  std::string output;
  char chunk[4096];
  for (std::size_t got = 0; pipe != nullptr && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    output.append(chunk, got);
  }
  const int status = pipe == nullptr ? -1 : pclose(pipe);
  std::smatch found;
  static const std::regex COUNT(R"(([0-9]+) conversations? in ([0-9.]+) s)");
  *ok = status == 0 && std::regex_search(output, found, COUNT);
  if (!*ok) {
    std::fprintf(stderr, "bench-host: compare failed:\n%s\n", output.c_str());
    return 0;
  }
  return std::stod(found[1]) / std::stod(found[2]);
}

struct Figure {
  std::vector<double> rounds;
  [[nodiscard]] double median() const {
    std::vector<double> sorted = rounds;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
  [[nodiscard]] std::string shown() const {
    char text[96];
    std::snprintf(text, sizeof text, "%.0f (%.0f to %.0f)", median(),
                  *std::min_element(rounds.begin(), rounds.end()),
                  *std::max_element(rounds.begin(), rounds.end()));
    return text;
  }
};

bool parse(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--host") {
      options->host = value;
    } else if (name == "--extension") {
      options->extension = value;
    } else if (name == "--results") {
      options->results = value;
    } else if (name == "--seconds") {
      options->seconds = std::strtod(value.c_str(), nullptr);
    } else if (name == "--rounds") {
      options->rounds = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
    } else if (name == "--jobs") {
      options->jobs = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
    } else {
      return false;
    }
  }
  return !options->host.empty() && !options->extension.empty() && options->seconds > 0 &&
         options->rounds > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: bench-host --host PATH --extension PATH [--results FILE] "
                 "[--seconds S] [--rounds N] [--jobs N]\n");
    return 2;
  }
  if (options.jobs <= 0) {
    options.jobs = 4 * static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));  // compare's
  }
  Figure floor;
  Figure sandboxed;
  Figure bare;
  for (int round = 0; round < options.rounds; ++round) {
    bool ok = true;
    floor.rounds.push_back(floor_rate(options, &ok));
    bool compared = true;
    sandboxed.rounds.push_back(compare_rate(options, true, &compared));
    bool compared_bare = true;
    bare.rounds.push_back(compare_rate(options, false, &compared_bare));
    if (!ok || !compared || !compared_bare) {
      std::fprintf(stderr, "bench-host: a run failed in round %d\n", round + 1);
      return 1;
    }
  }
  const double ratio = sandboxed.median() / floor.median();
  char report[2048];
  std::snprintf(report, sizeof report,
                "## The host's sandbox\n\n"
                "%d rounds of %.0f s, %d lanes; conversations a second, median (lowest to "
                "highest):\n\n"
                "| what | conversations a second |\n|---|---|\n"
                "| floor: two plain posix_spawns of the extension, one short conversation each "
                "| %s |\n"
                "| compare, each side in its sandbox | %s |\n"
                "| compare --no-sandbox | %s |\n\n"
                "compare in its sandbox plays %.2f of the floor; the target is at least %.2f: "
                "%s. The sandbox itself costs compare %.0f%% of its rate.\n",
                options.rounds, options.seconds, options.jobs, floor.shown().c_str(),
                sandboxed.shown().c_str(), bare.shown().c_str(), ratio, HALF,
                ratio >= HALF ? "met" : "NOT MET",
                100.0 * (1.0 - sandboxed.median() / bare.median()));
  std::fputs(report, stdout);
  if (!options.results.empty()) {
    std::ofstream(options.results) << report;
  }
  return 0;
}
