// The figures of a benchmark run, and their report: a Markdown table, the data and script
// of a latency chart.
#ifndef BENCH_DRIVER_RESULTS_H_
#define BENCH_DRIVER_RESULTS_H_

#include <array>
#include <string>
#include <vector>

enum Metric {
  kThroughput,
  kLatencyP50,
  kLatencyP99,
  kLargeStringRate,
  kLargeArrayRate,
  kPeakRssPipelined,
  kPeakRssPingPong,
  kPeakRssLargeString,
  kPeakRssLargeArray,
  kReadsPerCallPipelined,
  kWritesPerCallPipelined,
  kReadsPerCallPingPong,
  kWritesPerCallPingPong,
  kInstructionsPerCall,
  kMetricCount,
};

// One contestant's figures: for each metric, one value per round (instruction counts:
// one value, being repeatable).
struct ContestantFigures {
  std::string name;
  std::array<std::vector<double>, kMetricCount> values;
  std::vector<double> round_trips_us;  // every ping-pong round trip of every round
};

// The figures of one hostile line, one value per round, for the extension (index 0) and
// the library floor (index 1).
struct HostileFigures {
  std::string line;       // what the line holds
  std::size_t bytes = 0;  // its length, line feed included
  std::array<std::vector<double>, 2> seconds_per_line;
  std::array<std::vector<double>, 2> peak_rss_mib;
};

// The bounds on a hostile line: the extension's time for one, and its peak memory.
inline constexpr double HOSTILE_SECONDS_BOUND = 0.5;
inline constexpr double HOSTILE_PEAK_MIB_BOUND = 128;

struct RunDescription {
  std::string machine;   // cores, CPU model, kernel
  std::string tools;     // versions of the library and the peers
  std::string settings;  // rounds and sizes
};

double median(std::vector<double> values);

// The Markdown report. The first contestant is the one compared with the others; the
// ratio columns follow the order of `figures`. Hostile lines get a table of their own and
// two targets, when there are any.
std::string markdown_report(const RunDescription& run,
                            const std::vector<ContestantFigures>& figures,
                            const std::vector<HostileFigures>& hostile);

// Writes each contestant's latency distribution to `directory`/latency-N.dat and a gnuplot
// script `directory`/latency.gp that draws them into `chart`. Returns false on a write error.
bool write_latency_chart(const std::string& directory, const std::string& chart,
                         const std::vector<ContestantFigures>& figures);

#endif  // BENCH_DRIVER_RESULTS_H_
