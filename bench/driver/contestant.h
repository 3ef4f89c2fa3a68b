// A contestant: a program that answers lines on its standard input, started afresh for
// every measured run.
#ifndef BENCH_DRIVER_CONTESTANT_H_
#define BENCH_DRIVER_CONTESTANT_H_

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "workload.h"

struct Contestant {
  std::string name;
  std::vector<std::string> argv;
  std::size_t handshake_replies = 0;  // lines it writes for the handshake line
  ReplyForm reply_form = ReplyForm::kProtocol;
  bool ignore_hex_case = false;
  int cpu = -1;  // the processor it is bound to, or -1 for wherever the scheduler likes
};

// What a running process has used so far, from /proc: the kernel's own counts, taken
// without tracing the process.
struct Usage {
  long long reads = 0;   // read system calls
  long long writes = 0;  // write system calls
  long long peak_rss_kib = 0;
};

// How a run ended.
struct Ending {
  bool clean = false;   // exit status 0, nothing on standard error, no output left over
  std::string problem;  // otherwise, what went wrong
};

// One running contestant with its standard input and output on pipes and its standard
// error in a memory file. The destructor kills and reaps a process not yet finished.
class Process {
 public:
  // Starts the contestant and exchanges the handshake. On failure returns none and says
  // why in `*error`.
  static std::optional<Process> start(const Contestant& contestant, std::string* error);

  Process(Process&& other) noexcept;
  Process& operator=(Process&&) = delete;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  [[nodiscard]] int input() const { return input_; }
  [[nodiscard]] int output() const { return output_; }

  // Read while the process is still running: once it has exited, only wait4's maximum is
  // left, and that one counts the driver's own memory, which a spawned child shares until
  // it executes the contestant.
  [[nodiscard]] Usage usage() const;

  // Closes the input, expects end of output, waits for the exit and reads its resources.
  Ending finish();

 private:
  Process(pid_t pid, int input, int output, int error);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int error_ = -1;
};

// Writes all of `bytes` to a blocking descriptor. Returns false on error.
bool write_all(int fd, std::string_view bytes);

// Reads from a blocking descriptor until `*buffer` holds a line feed at or after `from`.
// Returns the index just past it, or none at end of file or on error.
std::optional<std::size_t> read_through_line_feed(int fd, std::string* buffer, std::size_t from);

#endif  // BENCH_DRIVER_CONTESTANT_H_
