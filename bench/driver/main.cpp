// bench-driver: measures sample-extension against two floors and two peers, each started
// afresh for every run, on the same calls, in rounds that alternate the contestants.
//
//   bench-driver [--build DIR] [--source DIR] [--results DIR] [--rounds N] [--calls N]
//                [--ping-pongs N] [--large-calls N] [--hostile-calls N]
//                [--callgrind-calls N] [--python PATH] [--jq PATH] [--pin yes|no]
//
// With --pin yes (the default, on two processors or more) the driver runs on processor 0
// and every contestant on processor 1: each gets a core of its own, and no figure depends
// on where the scheduler happened to put the two processes.
// Hostile lines (--hostile-calls of each kind, 0 for none) are echoed by the extension and
// the library floor alone: they measure the cost of the worst lines, not a race.
// Writes RESULTS/latest.md (also printed), RESULTS/raw/ (latency data, gnuplot script,
// callgrind output). Exits 1 if any contestant gives a wrong reply or ends badly.
#include <jansson.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "contestant.h"
#include "exchange.h"
#include "hostile.h"
#include "results.h"
#include "workload.h"

namespace {

struct Options {
  std::string build = "build-release";
  std::string source = ".";
  std::string results = "bench/results";
  std::string python = "/usr/bin/python3";
  std::string jq = "jq";
  std::size_t rounds = 5;
  std::size_t calls = 200000;
  std::size_t ping_pongs = 20000;
  std::size_t large_calls = 200;
  std::size_t hostile_calls = 3;
  std::size_t callgrind_calls = 20000;
  bool pin = true;
};

// The longest value that keeps a call line within LONGEST_LINE.
std::size_t large_value_bytes() { return LONGEST_LINE - call_overhead(); }

bool parse_options(int argc, char** argv, Options* options) {
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index];
    const std::string value = argv[index + 1];
    std::string* text = name == "--build"     ? &options->build
                        : name == "--source"  ? &options->source
                        : name == "--results" ? &options->results
                        : name == "--python"  ? &options->python
                        : name == "--jq"      ? &options->jq
                                              : nullptr;
    std::size_t* count = name == "--rounds"            ? &options->rounds
                         : name == "--calls"           ? &options->calls
                         : name == "--ping-pongs"      ? &options->ping_pongs
                         : name == "--large-calls"     ? &options->large_calls
                         : name == "--hostile-calls"   ? &options->hostile_calls
                         : name == "--callgrind-calls" ? &options->callgrind_calls
                                                       : nullptr;
    if (name == "--pin" && (value == "yes" || value == "no")) {
      options->pin = value == "yes";
    } else if (text != nullptr) {
      *text = value;
    } else if (count != nullptr && !value.empty() &&
               value.find_first_not_of("0123456789") == std::string::npos) {
      *count = std::strtoull(value.c_str(), nullptr, 10);
    } else {
      std::fprintf(stderr, "bench-driver: unknown option or bad value: %s %s\n", name.c_str(),
                   value.c_str());
      return false;
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr, "bench-driver: option %s has no value\n", argv[argc - 1]);
    return false;
  }
  return options->rounds > 0 && options->calls > 0 && options->ping_pongs > 0;
}

// Binds the driver to processor 0 and returns the processor for the contestants, or -1
// when not binding.
int bind_processors(const Options& options) {
  if (!options.pin || sysconf(_SC_NPROCESSORS_ONLN) < 2) {
    return -1;
  }
  cpu_set_t driver;
  CPU_ZERO(&driver);
  CPU_SET(0, &driver);
  return sched_setaffinity(0, sizeof driver, &driver) == 0 ? 1 : -1;
}

std::vector<Contestant> contestants(const Options& options, int cpu) {
  const std::string peers = options.source + "/bench/peers/";
  std::vector<Contestant> field = {
      {"sample-extension",
       {options.build + "/sample-extension", "--protocol", "1"},
       2,
       ReplyForm::kProtocol,
       false},
      {"library floor",
       {options.build + "/bench/library_floor"},
       1,
       ReplyForm::kReencodedCall,
       false},
      {"pipe floor", {options.build + "/bench/pipe_floor"}, 1, ReplyForm::kSameLength, false},
      {"jq",
       {options.jq, "--unbuffered", "-acS", "-f", peers + "peer.jq"},
       2,
       ReplyForm::kProtocol,
       true},
      {"Python", {options.python, peers + "peer.py"}, 2, ReplyForm::kProtocol, true},
  };
  for (Contestant& contestant : field) {
    contestant.cpu = cpu;
  }
  return field;
}

// The first line that a command prints, or "?".
std::string first_line_of(const std::string& command) {
  // NOLINTNEXTLINE(cert-env33-c): the commands are the driver's own, to read a version.
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return "?";
  }
  std::array<char, 256> line{};
  const bool got = std::fgets(line.data(), line.size(), pipe) != nullptr;
  pclose(pipe);
  std::string text = got ? line.data() : "?";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

RunDescription describe_run(const Options& options, int cpu) {
  RunDescription run;
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  std::string model = "unknown CPU";
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  utsname system{};
  uname(&system);
  run.machine = std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + model + ", " +
                system.sysname + " " + system.release;
  run.tools = std::string("jansson ") + JANSSON_VERSION + ", " +
              first_line_of(options.jq + " --version") + ", " +
              first_line_of(options.python + " --version");
  std::ostringstream settings;
  settings << options.rounds << " rounds, contestants in a different order each round, each "
           << "started afresh for every run; " << options.calls << " pipelined calls, "
           << options.ping_pongs << " ping-pong calls, " << options.large_calls
           << " echoes of each large value (" << large_value_bytes() << "-byte value text), "
           << options.hostile_calls << " echoes of each hostile line, " << options.callgrind_calls
           << " calls under callgrind; "
           << (cpu >= 0 ? "driver bound to processor 0, contestants to processor 1"
                        : "processes placed by the scheduler");
  run.settings = settings.str();
  return run;
}

enum class Calling { kPipelined, kPingPong };

struct Run {
  Exchange exchange;
  Ending ending;
  double peak_rss_mib = 0;
  double reads_per_call = 0;
  double writes_per_call = 0;
};

// Starts the contestant, makes the calls, ends it. Returns none, having said why, if any
// reply was wrong or the contestant ended badly.
std::optional<Run> measure(const Contestant& contestant, const Workload& workload,
                           Calling calling) {
  std::string error;
  std::optional<Process> process = Process::start(contestant, &error);
  if (!process) {
    std::fprintf(stderr, "bench-driver: %s\n", error.c_str());
    return std::nullopt;
  }
  Run run;
  const Usage before = process->usage();
  run.exchange = calling == Calling::kPipelined ? run_pipelined(*process, contestant, workload)
                                                : run_ping_pong(*process, contestant, workload);
  const Usage after = process->usage();
  run.ending = process->finish();
  if (!run.exchange.ok || !run.ending.clean) {
    std::fprintf(stderr, "bench-driver: %s, %s: %s\n", contestant.name.c_str(),
                 workload.name.c_str(),
                 (run.exchange.ok ? run.ending.problem : run.exchange.problem).c_str());
    return std::nullopt;
  }
  const auto calls = static_cast<double>(std::max<std::size_t>(workload.calls, 1));
  run.reads_per_call = static_cast<double>(after.reads - before.reads) / calls;
  run.writes_per_call = static_cast<double>(after.writes - before.writes) / calls;
  run.peak_rss_mib = static_cast<double>(after.peak_rss_kib) / 1024.0;
  return run;
}

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return values[at];
}

// The instruction count of one run under callgrind, or none.
std::optional<double> instructions(const Contestant& contestant, const Workload& workload,
                                   const std::string& out_file) {
  Contestant counted = contestant;
  counted.argv.insert(counted.argv.begin(),
                      {"valgrind", "--tool=callgrind", "-q", "--callgrind-out-file=" + out_file});
  if (!measure(counted, workload, Calling::kPipelined)) {
    return std::nullopt;
  }
  std::ifstream out(out_file);
  std::string line;
  while (std::getline(out, line)) {
    if (line.rfind("summary: ", 0) == 0) {
      return std::strtod(line.c_str() + 9, nullptr);
    }
  }
  std::fprintf(stderr, "bench-driver: no summary in %s\n", out_file.c_str());
  return std::nullopt;
}

// Instructions per call: the difference between a run with the calls and one without, so
// that starting up and the handshake do not count.
std::optional<double> instructions_per_call(const Contestant& contestant, std::size_t calls,
                                            const std::string& raw, std::size_t index) {
  const std::string stem = raw + "/callgrind-" + std::to_string(index);
  const std::optional<double> idle =
      instructions(contestant, small_echo_workload(0), stem + "-0.out");
  const std::optional<double> busy = instructions(contestant, small_echo_workload(calls),
                                                  stem + "-" + std::to_string(calls) + ".out");
  if (!idle || !busy) {
    return std::nullopt;
  }
  return (*busy - *idle) / static_cast<double>(calls);
}

// One workload and what is measured of it.
struct Task {
  enum Kind { kPipelined, kPingPong, kLargeString, kLargeArray };
  const Workload* workload;
  Kind kind;
  const char* label;
};

std::string with_unit(double value, const char* format) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), format, value);
  return text.data();
}

// Files the figures of one run of `task` under the contestant's metrics; returns the
// headline figure, for the progress line.
std::string record(const Task& task, const Run& run, ContestantFigures* mine) {
  const auto calls = static_cast<double>(task.workload->calls);
  const double seconds = run.exchange.seconds;
  switch (task.kind) {
    case Task::kPipelined:
      mine->values[kThroughput].push_back(calls / seconds);
      mine->values[kPeakRssPipelined].push_back(run.peak_rss_mib);
      mine->values[kReadsPerCallPipelined].push_back(run.reads_per_call);
      mine->values[kWritesPerCallPipelined].push_back(run.writes_per_call);
      return with_unit(calls / seconds, "%.0f calls/s");
    case Task::kPingPong: {
      const std::vector<double>& trips = run.exchange.round_trips_us;
      mine->values[kLatencyP50].push_back(percentile(trips, 0.50));
      mine->values[kLatencyP99].push_back(percentile(trips, 0.99));
      mine->values[kPeakRssPingPong].push_back(run.peak_rss_mib);
      mine->values[kReadsPerCallPingPong].push_back(run.reads_per_call);
      mine->values[kWritesPerCallPingPong].push_back(run.writes_per_call);
      mine->round_trips_us.insert(mine->round_trips_us.end(), trips.begin(), trips.end());
      return with_unit(percentile(trips, 0.50), "p50 %.1f µs");
    }
    case Task::kLargeString:
    case Task::kLargeArray: {
      const bool text = task.kind == Task::kLargeString;
      const double rate = static_cast<double>(task.workload->input.size()) / seconds / 1e6;
      mine->values[text ? kLargeStringRate : kLargeArrayRate].push_back(rate);
      mine->values[text ? kPeakRssLargeString : kPeakRssLargeArray].push_back(run.peak_rss_mib);
      return with_unit(rate, "%.1f MB/s");
    }
  }
  return "";
}

// Echoes each hostile line with the extension and the library floor, and files seconds
// per line and peak memory. Returns false, having said why, when a run failed.
bool measure_hostile(const std::vector<Contestant>& field, const std::vector<Workload>& lines,
                     std::size_t round, std::size_t rounds, std::vector<HostileFigures>* figures) {
  for (std::size_t line = 0; line < lines.size(); ++line) {
    for (std::size_t index = 0; index < 2; ++index) {
      const std::optional<Run> run = measure(field[index], lines[line], Calling::kPipelined);
      if (!run) {
        return false;
      }
      const double per_line = run->exchange.seconds / static_cast<double>(lines[line].calls);
      (*figures)[line].seconds_per_line[index].push_back(per_line);
      (*figures)[line].peak_rss_mib[index].push_back(run->peak_rss_mib);
      std::printf("round %zu/%zu  6 hostile        %-17s %s: %.3f s per line, peak RSS %.1f MiB\n",
                  round + 1, rounds, field[index].name.c_str(), lines[line].name.c_str(), per_line,
                  run->peak_rss_mib);
      std::fflush(stdout);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    return 2;
  }
  const std::string raw = options.results + "/raw";
  std::filesystem::create_directories(raw);
  const int cpu = bind_processors(options);
  const std::vector<Contestant> field = contestants(options, cpu);
  const Workload pipelined = small_echo_workload(options.calls);
  const Workload ping_pong = small_echo_workload(options.ping_pongs);
  const Workload large_string = large_string_workload(large_value_bytes(), options.large_calls);
  const Workload large_array = large_array_workload(large_value_bytes(), options.large_calls);
  const std::vector<Workload> hostile =
      hostile_workloads(large_value_bytes(), options.hostile_calls);
  std::vector<const Workload*> filled{&large_string, &large_array};
  for (const Workload& line : hostile) {
    filled.push_back(&line);
  }
  for (const Workload* large : filled) {
    if (large->calls > 0 && large->line(0).size() > LONGEST_LINE) {
      std::fprintf(stderr, "bench-driver: a %s call is longer than a line may be\n",
                   large->name.c_str());
      return 1;
    }
  }

  const std::array<Task, 4> tasks{{{&pipelined, Task::kPipelined, "1 pipelined"},
                                   {&ping_pong, Task::kPingPong, "2 ping-pong"},
                                   {&large_string, Task::kLargeString, "3a large string"},
                                   {&large_array, Task::kLargeArray, "3b large array"}}};
  std::vector<ContestantFigures> figures(field.size());
  for (std::size_t index = 0; index < field.size(); ++index) {
    figures[index].name = field[index].name;
  }
  std::vector<HostileFigures> hostile_figures(options.hostile_calls > 0 ? hostile.size() : 0);
  for (std::size_t line = 0; line < hostile_figures.size(); ++line) {
    hostile_figures[line].line = hostile[line].name;
    hostile_figures[line].bytes = hostile[line].line(0).size();
  }
  for (std::size_t round = 0; round < options.rounds; ++round) {
    for (const Task& task : tasks) {
      if (task.workload->calls == 0) {
        continue;
      }
      for (std::size_t turn = 0; turn < field.size(); ++turn) {
        const std::size_t index = (turn + round) % field.size();
        const std::optional<Run> run =
            measure(field[index], *task.workload,
                    task.kind == Task::kPingPong ? Calling::kPingPong : Calling::kPipelined);
        if (!run) {
          return 1;
        }
        const std::string shown = record(task, *run, &figures[index]);
        std::printf("round %zu/%zu  %-16s %-17s %s, peak RSS %.1f MiB\n", round + 1, options.rounds,
                    task.label, field[index].name.c_str(), shown.c_str(), run->peak_rss_mib);
        std::fflush(stdout);
      }
    }
    if (!hostile_figures.empty() &&
        !measure_hostile(field, hostile, round, options.rounds, &hostile_figures)) {
      return 1;
    }
  }

  if (options.callgrind_calls > 0) {
    for (std::size_t index = 0; index < 2; ++index) {
      const std::optional<double> per_call =
          instructions_per_call(field[index], options.callgrind_calls, raw, index);
      if (!per_call) {
        return 1;
      }
      figures[index].values[kInstructionsPerCall].push_back(*per_call);
      std::printf("callgrind     %-17s %.0f instructions per call\n", field[index].name.c_str(),
                  *per_call);
    }
  }

  const std::string report = markdown_report(describe_run(options, cpu), figures, hostile_figures);
  std::ofstream(options.results + "/latest.md") << report;
  std::printf("\n%s", report.c_str());
  if (!write_latency_chart(raw, options.results + "/latency.png", figures)) {
    std::fprintf(stderr, "bench-driver: cannot write the latency data in %s\n", raw.c_str());
    return 1;
  }
  return 0;
}
