// bench-library: what the library costs a host application, against driving the extension
// by hand, side by side in one run, in rounds that alternate the two, so that both meet
// the same machine; each figure is the median of the rounds, lowest and highest beside.
//
//   bench-library --extension PATH [--results FILE] [--rounds N] [--calls N] [--starts N]
//                 [--idle N] [--sandbox whole|none]
//
// - A call's round trip: the library's eh_call, against a hand-written driver that writes
//   the call's line to a plainly spawned extension and reads the answer's line, parsed
//   for its value as any host must (the library also checks the call against the
//   catalogue, and the answer against the call). Target: within 1.1x of the hand's time.
// - Pipelined calls: a batch written before any answer is read; the library's
//   eh_submit, its descriptor and eh_next_reply, against the hand writing the batch in one
//   write and reading the lines. Target: at least 0.9x of the hand's rate.
// - A start to the announcement: eh_start in the whole sandbox, against posix_spawn, the
//   handshake written and the two lines read. Target: within 1.5x of the hand's time.
// - Memory per idle extension: the growth of this process's resident memory and
//   descriptors with extensions started and left idle.
//
// It runs on one processor, its extensions with it, so that a figure is what each driver
// costs the machine: on two, which processor each process lands on moves a round trip by
// half, from one moment to the next, whoever drives it.
//
// Exits 1 when a run fails, 0 otherwise; the verdicts on the targets are in the report.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <jansson.h>

#include "extension_host.h"
#include "process/spawn_child.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char HANDSHAKE[] = "{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n";
constexpr char SHUTDOWN[] = "{\"type\":\"shutdown\"}\n";
constexpr int BATCH = 64;

struct Options {
  std::string extension;
  std::string results;
  int rounds = 5;
  int calls = 2000;
  int starts = 40;
  int idle = 50;
  bool sandbox = true;  // --sandbox none: the library's own cost, without the sandbox's
};

double micros_since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

std::string call_line(int number) {
  return R"({"type":"call","request_id":")" + std::to_string(number) +
         R"(","callable":"sample.echo","arguments":["x"]})" + "\n";
}

// The extension spawned plainly on two pipes, read line by line: the hand-written driver.
class ByHand {
 public:
  explicit ByHand(const std::string& extension) {
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
      return;
    }
    if (spawn_with_streams({extension, "--protocol", "1"}, to_child[0], from_child[1],
                           STDERR_FILENO, &pid_) != 0) {
      pid_ = -1;
    }
    close(to_child[0]);
    close(from_child[1]);
    input_ = to_child[1];
    output_ = from_child[0];
  }
  ByHand(const ByHand&) = delete;
  ByHand& operator=(const ByHand&) = delete;
  ~ByHand() {
    if (input_ >= 0) {
      // One that no longer reads ends when its input closes all the same.
      static_cast<void>(write_all(SHUTDOWN));
      close(input_);
    }
    close(output_);
    if (pid_ > 0) {
      waitpid(pid_, nullptr, 0);
    }
  }

  // Started, the handshake written and the announcement read.
  [[nodiscard]] bool greeted() { return pid_ > 0 && write_all(HANDSHAKE) && read_lines(2); }
  [[nodiscard]] bool write_all(const std::string& bytes) const {
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t put = write(input_, bytes.data() + written, bytes.size() - written);
      if (put <= 0) {
        return false;
      }
      written += static_cast<std::size_t>(put);
    }
    return true;
  }
  // Reads until `lines` more line feeds have come. With `answers`, each line is read as a
  // host must read an answer: parsed, and its value taken.
  bool read_lines(int lines, bool answers = false) {
    while (lines > 0) {
      const std::size_t end = held_.find('\n');
      if (end != std::string::npos) {
        if (answers) {
          json_t* answer = json_loadb(held_.data(), end, 0, nullptr);
          const bool valued = json_object_get(answer, "value") != nullptr;
          json_decref(answer);
          if (!valued) {
            return false;
          }
        }
        held_.erase(0, end + 1);
        --lines;
        continue;
      }
      char chunk[65536];
      const ssize_t got = read(output_, chunk, sizeof chunk);
      if (got <= 0) {
        return false;
      }
      held_.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string held_;
};

// Calls timed together before the two drivers change turns; the ratio of each such block
// is what is compared, so that a change in the machine between blocks does not count.
constexpr int BLOCK = 50;

struct Figures {
  std::vector<double> round_trip_ratios, pipelined_ratios;  // the library's to the hand's
  std::vector<double> hand_round_trip, library_round_trip;  // microseconds a call
  std::vector<double> hand_pipelined, library_pipelined;    // calls a second
  std::vector<double> hand_start, library_start;            // microseconds a start
};

bool hand_start(const Options& options, double* micros) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < options.starts; ++i) {
    ByHand hand(options.extension);
    if (!hand.greeted()) {
      return false;
    }
  }
  // The end of each (its shutdown and wait) is counted as the library's eh_free is.
  *micros = micros_since(start) / options.starts;
  return true;
}

eh_extension* library_started(const eh_settings* settings, const Options& options) {
  const char* command[] = {options.extension.c_str(), "--protocol", "1", nullptr};
  eh_extension* extension = nullptr;
  if (eh_start(settings, command, &extension) != EH_OK) {
    std::printf("bench-library: cannot start: %s\n", eh_errmsg(extension));
    eh_free(extension);
    return nullptr;
  }
  return extension;
}

bool library_start(const eh_settings* settings, const Options& options, double* micros) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < options.starts; ++i) {
    eh_extension* extension = library_started(settings, options);
    if (extension == nullptr) {
      return false;
    }
    eh_stop(extension);
    eh_free(extension);
  }
  *micros = micros_since(start) / options.starts;
  return true;
}

// One call through each, by turns, so that both meet the machine as it is at that moment
// (which processor each lands on moves a round trip by half): microseconds a call, each.
bool round_trips(const eh_settings* settings, const Options& options, double* hand_micros,
                 double* library_micros, std::vector<double>* ratios) {
  ByHand hand(options.extension);
  eh_extension* extension = library_started(settings, options);
  if (extension == nullptr || !hand.greeted()) {
    eh_free(extension);
    return false;
  }
  double by_hand = 0;
  double through_library = 0;
  bool answered = true;
  for (int block = 0; block < options.calls && answered; block += BLOCK) {
    Clock::time_point start = Clock::now();
    for (int i = block; i < block + BLOCK && answered; ++i) {
      answered = hand.write_all(call_line(i)) && hand.read_lines(1, /*answers=*/true);
    }
    const double hand_block = micros_since(start);
    start = Clock::now();
    for (int i = block; i < block + BLOCK && answered; ++i) {
      eh_reply* reply = nullptr;
      answered = eh_call(extension, "sample.echo", "[\"x\"]", &reply) == EH_OK;
      eh_reply_free(reply);
    }
    const double library_block = micros_since(start);
    by_hand += hand_block;
    through_library += library_block;
    ratios->push_back(library_block / hand_block);
  }
  *hand_micros = by_hand / options.calls;
  *library_micros = through_library / options.calls;
  eh_stop(extension);
  eh_free(extension);
  return answered;
}

// A batch through each, by turns: calls a second, each.
bool pipelined(const eh_settings* settings, const Options& options, double* hand_rate,
               double* library_rate, std::vector<double>* ratios) {
  ByHand hand(options.extension);
  eh_extension* extension = library_started(settings, options);
  if (extension == nullptr || !hand.greeted()) {
    eh_free(extension);
    return false;
  }
  double by_hand = 0;
  double through_library = 0;
  bool answered = true;
  for (int done = 0; done < options.calls && answered; done += BATCH) {
    Clock::time_point start = Clock::now();
    std::string batch;
    for (int i = 0; i < BATCH; ++i) {
      batch += call_line(done + i);
    }
    answered = hand.write_all(batch) && hand.read_lines(BATCH, /*answers=*/true);
    const double hand_batch = micros_since(start);
    by_hand += hand_batch;
    start = Clock::now();
    std::uint64_t ticket = 0;
    for (int i = 0; i < BATCH && answered; ++i) {
      answered = eh_submit(extension, "sample.echo", "[\"x\"]", &ticket) == EH_OK;
    }
    for (int taken = 0; taken < BATCH && answered;) {
      eh_reply* reply = nullptr;
      const eh_status status = eh_next_reply(extension, &reply);
      if (status == EH_OK) {
        eh_reply_free(reply);
        ++taken;
        continue;
      }
      pollfd ready = {eh_descriptor(extension), POLLIN, 0};
      answered = status == EH_AGAIN && poll(&ready, 1, 10000) > 0 && eh_perform(extension) == EH_OK;
    }
    const double library_batch = micros_since(start);
    through_library += library_batch;
    ratios->push_back(hand_batch / library_batch);  // a rate's ratio: the other way up
  }
  *hand_rate = options.calls / (by_hand / 1e6);
  *library_rate = options.calls / (through_library / 1e6);
  eh_stop(extension);
  eh_free(extension);
  return answered;
}

long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

int open_descriptors() {
  int count = 0;
  DIR* folder = opendir("/proc/self/fd");
  while (folder != nullptr && readdir(folder) != nullptr) {
    ++count;
  }
  if (folder != nullptr) {
    closedir(folder);
  }
  return count;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string spread(const std::vector<double>& values, const char* format) {
  char text[160];
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::snprintf(text, sizeof text, format, median(values), *low, *high);
  return text;
}

// A count given on the command line: at least `least`, or `least` when it is not one.
int count(const char* text, int least) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return end == text || *end != '\0' ? least
                                     : static_cast<int>(std::clamp(value, 1L * least, 1L << 30));
}

bool parse(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--extension") {
      options->extension = value;
    } else if (option == "--results") {
      options->results = value;
    } else if (option == "--rounds") {
      options->rounds = count(value, 1);
    } else if (option == "--calls") {
      options->calls = count(value, BATCH) / BATCH * BATCH;
    } else if (option == "--starts") {
      options->starts = count(value, 1);
    } else if (option == "--idle") {
      options->idle = count(value, 1);
    } else if (option == "--sandbox") {
      options->sandbox = std::string(value) != "none";
    } else {
      return false;
    }
  }
  return !options->extension.empty() && argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    std::printf(
        "usage: bench-library --extension PATH [--results FILE] [--rounds N] [--calls N]"
        " [--starts N] [--idle N] [--sandbox whole|none]\n");
    return 2;
  }
  // One processor, the first this process may use; the extensions inherit it.
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  std::size_t processor = 0;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    while (processor + 1 < CPU_SETSIZE && !CPU_ISSET(processor, &allowed)) {
      ++processor;
    }
  }
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(processor, &one);
  sched_setaffinity(0, sizeof one, &one);
  eh_settings* settings = nullptr;
  eh_settings_new(&settings);
  eh_settings_sandbox(settings, options.sandbox ? EH_SANDBOX_WHOLE : EH_SANDBOX_NONE);
  // The sandbox is made once, with the first start, as in any host application.
  eh_extension* first = library_started(settings, options);
  if (first == nullptr) {
    return 1;
  }
  const std::string sandbox = eh_sandbox_words(first);
  eh_free(first);

  Figures figures;
  for (int round = 0; round < options.rounds; ++round) {
    double figure = 0;
    double other = 0;
    const bool ran = round_trips(settings, options, &figure, &other, &figures.round_trip_ratios) &&
                     (figures.hand_round_trip.push_back(figure), true) &&
                     (figures.library_round_trip.push_back(other), true) &&
                     pipelined(settings, options, &figure, &other, &figures.pipelined_ratios) &&
                     (figures.hand_pipelined.push_back(figure), true) &&
                     (figures.library_pipelined.push_back(other), true) &&
                     hand_start(options, &figure) && (figures.hand_start.push_back(figure), true) &&
                     library_start(settings, options, &figure) &&
                     (figures.library_start.push_back(figure), true);
    if (!ran) {
      std::printf("bench-library: a run failed in round %d\n", round + 1);
      return 1;
    }
  }

  // Idle extensions: what each holds in this process.
  const long memory_before = resident_kib();
  const std::size_t heap_before = mallinfo2().uordblks;
  const int descriptors_before = open_descriptors();
  std::vector<eh_extension*> idle;
  for (int i = 0; i < options.idle; ++i) {
    eh_extension* extension = library_started(settings, options);
    if (extension == nullptr) {
      return 1;
    }
    idle.push_back(extension);
  }
  const double memory_each = static_cast<double>(resident_kib() - memory_before) / options.idle;
  const double heap_each =
      static_cast<double>(mallinfo2().uordblks - heap_before) / 1024.0 / options.idle;
  const double descriptors_each =
      static_cast<double>(open_descriptors() - descriptors_before) / options.idle;
  for (eh_extension* extension : idle) {
    eh_free(extension);
  }
  eh_settings_free(settings);

  const double round_trip_ratio = median(figures.round_trip_ratios);
  const double pipelined_ratio = median(figures.pipelined_ratios);
  const double start_ratio = median(figures.library_start) / median(figures.hand_start);
  const auto verdict = [](bool met) { return met ? "met" : "NOT MET"; };
  char report[4096];
  std::snprintf(
      report, sizeof report,
      "## The library against a hand-written driver\n\n"
      "%d rounds; %d calls, %d starts a round; median (lowest to highest). All on one\n"
      "processor, so that a figure is what each costs the machine. The two drive their\n"
      "extensions by turns, in blocks of %d calls or one batch, and a ratio is the median\n"
      "of the blocks' ratios. The library's extensions run in its sandbox (%s); the\n"
      "hand's are plain posix_spawns, and the hand parses each answer for its value, as any\n"
      "host must; the library also checks each call against the catalogue and each answer\n"
      "against its call.\n\n"
      "| what | by hand | through the library | ratio | target |\n"
      "|---|---|---|---|---|\n"
      "| a call's round trip, microseconds | %s | %s | %.2f | at most 1.10: %s |\n"
      "| pipelined calls (batches of %d), a second | %s | %s | %.2f | at least 0.90: %s |\n"
      "| a start to the announcement and its end, microseconds | %s | %s | %.2f | at most "
      "1.50: %s |\n\n"
      "Each idle extension costs this process %.1f KiB of heap (%.0f KiB resident, as the "
      "kernel counts it in pages) and %.1f descriptors (%d extensions).\n",
      options.rounds, options.calls, options.starts, BLOCK, sandbox.c_str(),
      spread(figures.hand_round_trip, "%.1f (%.1f to %.1f)").c_str(),
      spread(figures.library_round_trip, "%.1f (%.1f to %.1f)").c_str(), round_trip_ratio,
      verdict(round_trip_ratio <= 1.1), BATCH,
      spread(figures.hand_pipelined, "%.0f (%.0f to %.0f)").c_str(),
      spread(figures.library_pipelined, "%.0f (%.0f to %.0f)").c_str(), pipelined_ratio,
      verdict(pipelined_ratio >= 0.9), spread(figures.hand_start, "%.0f (%.0f to %.0f)").c_str(),
      spread(figures.library_start, "%.0f (%.0f to %.0f)").c_str(), start_ratio,
      verdict(start_ratio <= 1.5), heap_each, memory_each, descriptors_each, options.idle);
  std::fputs(report, stdout);
  if (!options.results.empty()) {
    std::ofstream(options.results) << report;
  }
  return 0;
}
