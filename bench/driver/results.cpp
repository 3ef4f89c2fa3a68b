// Medians, ratios and targets, written as Markdown; the latency chart as gnuplot input.
#include "results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>

namespace {

struct MetricInfo {
  const char* label;
  bool higher_is_better;
};

constexpr std::array<MetricInfo, kMetricCount> METRICS{{
    {"1. pipelined small echoes, calls/s", true},
    {"2. ping-pong p50, µs per round trip", false},
    {"2. ping-pong p99, µs per round trip", false},
    {"3a. 1 MiB non-ASCII string echoes, MB/s of input", true},
    {"3b. 1 MiB nested number array echoes, MB/s of input", true},
    {"4. peak RSS over workload 1, MiB", false},
    {"4. peak RSS over workload 2, MiB", false},
    {"4. peak RSS over workload 3a, MiB", false},
    {"4. peak RSS over workload 3b, MiB", false},
    {"5. read calls per call, workload 1", false},
    {"5. write calls per call, workload 1", false},
    {"5. read calls per call, workload 2", false},
    {"5. write calls per call, workload 2", false},
    {"instructions per call, workload 1 (callgrind)", false},
}};

std::string number(double value) {
  std::array<char, 64> text{};
  if (std::fabs(value) < 1000) {
    std::snprintf(text.data(), text.size(), std::fabs(value) >= 100 ? "%.0f" : "%.3g", value);
    return text.data();
  }
  // Whole numbers with their thousands grouped: 212,345.
  std::snprintf(text.data(), text.size(), "%.0f", std::fabs(value));
  const std::string digits = text.data();
  std::string grouped = value < 0 ? "-" : "";
  for (std::size_t at = 0; at < digits.size(); ++at) {
    if (at != 0 && (digits.size() - at) % 3 == 0) {
      grouped += ',';
    }
    grouped += digits[at];
  }
  return grouped;
}

std::optional<double> median_of(const ContestantFigures& figures, Metric metric) {
  const std::vector<double>& values = figures.values[metric];
  if (values.empty()) {
    return std::nullopt;
  }
  return median(values);
}

std::string values_cell(const std::vector<double>& values) {
  if (values.empty()) {
    return "—";
  }
  std::string text = number(median(values));
  if (values.size() > 1) {
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    text += " (" + number(*low) + "–" + number(*high) + ")";
  }
  return text;
}

std::string cell(const ContestantFigures& figures, Metric metric) {
  return values_cell(figures.values[metric]);
}

std::string ratio(double value) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.2f", value);
  return text.data();
}

const ContestantFigures* find(const std::vector<ContestantFigures>& figures,
                              const std::string& name) {
  for (const ContestantFigures& contestant : figures) {
    if (contestant.name == name) {
      return &contestant;
    }
  }
  return nullptr;
}

// One line of the targets table: `ours` ÷ `theirs` against `bound`.
std::string target_row(const std::string& label, const ContestantFigures& ours,
                       const ContestantFigures* theirs, Metric metric, double bound,
                       bool at_least) {
  const std::optional<double> mine = median_of(ours, metric);
  const std::optional<double> other = theirs != nullptr ? median_of(*theirs, metric) : 1.0;
  if (!mine || !other || *other == 0) {
    return "| " + label + " | not measured | — |\n";
  }
  const double measured = *mine / *other;
  const bool met = at_least ? measured >= bound : measured <= bound;
  const std::string shown = theirs != nullptr ? ratio(measured) + " ×" : number(measured);
  return "| " + label + " | " + shown + " | " + (met ? "met" : "**missed**") + " |\n";
}

// The hostile lines' table, and the worst of their medians for the targets.
std::string hostile_table(const std::vector<HostileFigures>& hostile, double* slowest,
                          double* largest) {
  std::string text =
      "\n## 6. Hostile lines\n\nThe costliest lines within the limit that we could build, "
      "each echoed alone: seconds per line and peak RSS in MiB.\n\n"
      "| line | bytes | seconds, extension | seconds, library floor | peak RSS, extension "
      "| peak RSS, library floor |\n|---|---:|---:|---:|---:|---:|\n";
  *slowest = 0;
  *largest = 0;
  for (const HostileFigures& line : hostile) {
    text += "| " + line.line + " | " + number(static_cast<double>(line.bytes)) + " | " +
            values_cell(line.seconds_per_line[0]) + " | " + values_cell(line.seconds_per_line[1]) +
            " | " + values_cell(line.peak_rss_mib[0]) + " | " + values_cell(line.peak_rss_mib[1]) +
            " |\n";
    if (!line.seconds_per_line[0].empty()) {
      *slowest = std::max(*slowest, median(line.seconds_per_line[0]));
      *largest = std::max(*largest, median(line.peak_rss_mib[0]));
    }
  }
  return text;
}

std::string bound_row(const std::string& label, double measured, double bound) {
  return "| " + label + " | " + number(measured) + " | " +
         (measured < bound ? "met" : "**missed**") + " |\n";
}

}  // namespace

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string markdown_report(const RunDescription& run,
                            const std::vector<ContestantFigures>& figures,
                            const std::vector<HostileFigures>& hostile) {
  const ContestantFigures& ours = figures.front();
  std::string text = "# " + ours.name + " against the floors and its peers\n\n";
  text += "- Machine: " + run.machine + "\n- Tools: " + run.tools + "\n- Run: " + run.settings +
          "\n- Each figure is the median of the rounds, lowest and highest in brackets.\n\n";

  text += "## Figures\n\n| measure |";
  std::string rule = "|---|";
  for (const ContestantFigures& contestant : figures) {
    text += " " + contestant.name + " |";
    rule += "---:|";
  }
  text += "\n" + rule + "\n";
  for (std::size_t metric = 0; metric < kMetricCount; ++metric) {
    text += std::string("| ") + METRICS[metric].label + " |";
    for (const ContestantFigures& contestant : figures) {
      text += ' ';
      text += cell(contestant, static_cast<Metric>(metric));
      text += " |";
    }
    text += "\n";
  }

  text += "\n## " + ours.name + " ÷ each other contestant\n\n";
  text += "Medians divided; for calls/s and MB/s above 1 is better, for the rest below 1.\n\n";
  text += "| measure |";
  rule = "|---|";
  for (std::size_t other = 1; other < figures.size(); ++other) {
    text += " ÷ " + figures[other].name + " |";
    rule += "---:|";
  }
  text += "\n" + rule + "\n";
  for (std::size_t metric = 0; metric < kMetricCount; ++metric) {
    const std::optional<double> mine = median_of(ours, static_cast<Metric>(metric));
    text += std::string("| ") + METRICS[metric].label + " |";
    for (std::size_t other = 1; other < figures.size(); ++other) {
      const std::optional<double> theirs = median_of(figures[other], static_cast<Metric>(metric));
      text += ' ';
      text += mine && theirs && *theirs != 0 ? ratio(*mine / *theirs) : "—";
      text += " |";
    }
    text += "\n";
  }

  double slowest = 0;
  double largest = 0;
  if (!hostile.empty()) {
    text += hostile_table(hostile, &slowest, &largest);
  }
  const ContestantFigures* library = find(figures, "library floor");
  const ContestantFigures* pipe = find(figures, "pipe floor");
  const ContestantFigures* jq = find(figures, "jq");
  const ContestantFigures* python = find(figures, "Python");
  text += "\n## Targets\n\n| target | measured | |\n|---|---:|---|\n";
  text += target_row("instructions per echo ≤ 1.15 × library floor", ours, library,
                     kInstructionsPerCall, 1.15, false);
  text += target_row("pipelined calls/s ≥ 0.85 × library floor", ours, library, kThroughput, 0.85,
                     true);
  text += target_row("pipelined calls/s ≥ 2.5 × jq", ours, jq, kThroughput, 2.5, true);
  text += target_row("pipelined calls/s ≥ 1.5 × Python", ours, python, kThroughput, 1.5, true);
  text += target_row("ping-pong p50 ≤ 1.25 × pipe floor", ours, pipe, kLatencyP50, 1.25, false);
  text += target_row("peak RSS, workload 1 < 8 MiB", ours, nullptr, kPeakRssPipelined, 8, false);
  text += target_row("peak RSS, workload 2 < 8 MiB", ours, nullptr, kPeakRssPingPong, 8, false);
  text +=
      target_row("peak RSS, workload 3a < 24 MiB", ours, nullptr, kPeakRssLargeString, 24, false);
  text +=
      target_row("peak RSS, workload 3b < 24 MiB", ours, nullptr, kPeakRssLargeArray, 24, false);
  if (!hostile.empty()) {
    text +=
        bound_row("hostile lines: the slowest < 0.5 s per line", slowest, HOSTILE_SECONDS_BOUND);
    text +=
        bound_row("hostile lines: the largest peak RSS < 128 MiB", largest, HOSTILE_PEAK_MIB_BOUND);
  }
  if (library != nullptr) {
    // Whatever parses and encodes each line with jansson does at least the library floor's
    // work; the floor's own standing against the peers bounds the extension's.
    const std::optional<double> floor_rate = median_of(*library, kThroughput);
    text += "\nFor comparison, the library floor's own pipelined calls/s";
    for (const ContestantFigures* peer : {jq, python}) {
      // A rate of 0 stands for one not measured: an optional here makes GCC 12 at -Os warn
      // that it may be read uninitialized, which it cannot be.
      const double peer_rate = peer != nullptr ? median_of(*peer, kThroughput).value_or(0) : 0;
      if (floor_rate && peer_rate != 0) {
        text += (peer == jq ? " ÷ jq: " : ", ÷ Python: ") + ratio(*floor_rate / peer_rate);
      }
    }
    text += ".\n";
  }
  text += "\nLatency distribution of workload 2: latency.png.\n";
  return text;
}

bool write_latency_chart(const std::string& directory, const std::string& chart,
                         const std::vector<ContestantFigures>& figures) {
  std::ofstream script(directory + "/latency.gp");
  script << "set terminal pngcairo size 1000,600 noenhanced\n"
         << "set output '" << chart << "'\n"
         << "set title 'Workload 2: round trips of small echo calls, one in flight, all rounds'\n"
         << "set xlabel 'round trip, microseconds (log scale)'\n"
         << "set ylabel 'share of calls answered within, %'\n"
         << "set logscale x\nset grid\nset key bottom right\nset yrange [0:100]\n"
         << "plot";
  for (std::size_t index = 0; index < figures.size(); ++index) {
    std::vector<double> sorted = figures[index].round_trips_us;
    if (sorted.empty()) {
      continue;
    }
    std::sort(sorted.begin(), sorted.end());
    const std::string data = directory + "/latency-" + std::to_string(index) + ".dat";
    std::ofstream points(data);
    // A thousand points of the cumulative distribution, and the slowest call.
    for (std::size_t step = 0; step <= 1000; ++step) {
      const std::size_t at = std::min(sorted.size() - 1, sorted.size() * step / 1000);
      points << sorted[at] << ' ' << static_cast<double>(step) / 10.0 << '\n';
    }
    if (!points) {
      return false;
    }
    script << (index == 0 ? " " : ", ") << "'" << data << "' using 1:2 with lines lw 2 title '"
           << figures[index].name << "'";
  }
  script << "\n";
  return static_cast<bool>(script);
}
