// Runs the real sample-extension with its standard streams wired as a test needs them:
// input from bytes, output to a file, to a full device, closed, or to a pipe nobody reads.
#ifndef TESTS_E2E_SPAWN_H_
#define TESTS_E2E_SPAWN_H_

#include <string>
#include <vector>

enum class OutputTo { kFile, kFullDevice, kClosed, kBrokenPipe };

struct Ended {
  bool signaled = false;
  int code = 0;  // exit status, or signal number
  std::string output;
  std::string error_output;
  long max_rss_kib = 0;
};

// Runs `program` with `arguments` (after argv[0]) and `input` on standard input.
Ended run_program(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& input, OutputTo output_to = OutputTo::kFile);

// The same with standard input read from the open file `input_fd`, which stays the
// caller's. A test that measures the child's peak memory uses this, so that no large input
// sits in its own memory when it forks: the child's peak counts the parent's pages too.
Ended run_program_on(const std::string& program, const std::vector<std::string>& arguments,
                     int input_fd, OutputTo output_to = OutputTo::kFile);

// The same for the built sample-extension with "--protocol" "1".
Ended run_extension(const std::string& input, OutputTo output_to = OutputTo::kFile);

#endif  // TESTS_E2E_SPAWN_H_
