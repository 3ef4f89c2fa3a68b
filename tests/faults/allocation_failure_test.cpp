// Allocation failure at every point of a whole conversation: for each k, the k-th heap
// request is refused, in a child process of its own. Every such run must end with status
// 2 having written a whole-line prefix of the fault-free output, never a partial or
// member-less line; the run that never reaches k must be the fault-free conversation,
// with every block given back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "faults/failing_heap.h"
#include "main/driver.h"
#include "main/startup.h"
#include "protocol/exit_status.h"
#include "support/streams.h"

namespace {

std::string call(const std::string& id, const std::string& callable, const std::string& arguments) {
  return "{\"type\":\"call\",\"request_id\":\"" + id + "\",\"callable\":\"" + callable +
         "\",\"arguments\":" + arguments + "}\n";
}

std::string conversation() {
  std::string big = "[\"";
  while (big.size() < 100 * 1024) {
    big += "caf\xc3\xa9 \\u4e16 0123456789 ";
  }
  big += "\"]";
  return "{\"type\":\"handshake\"}\n" +
         call("1", "sample.echo",
              "[{\"z\":[1,2.5,null,true],\"a\":{\"\xc3\xa9t\xc3\xa9\":\"\\ud83d\\ude00\"}}]") +
         call("2", "sample.fail", "[]") + call("3", "sample.wait", "[0]") +
         call("4", "sample.echo", big) + "{\"type\":\"shutdown\"}\n";
}

struct Ending {
  int status = -1;
  std::string output;
};

// Runs the whole conversation in a child process with the k-th allocation refused.
// The child reports, as its exit status, the driver's status, or 100 + blocks still
// outstanding when a finished conversation did not give everything back.
Ending run_refusing(std::size_t k, const std::string& input) {
  File in = input_stream(input);
  File out = output_stream();
  const pid_t pid = fork();
  if (pid == 0) {
    refuse_allocation(k);
    const char* const argv[] = {"sample-extension", "--protocol", "1"};
    std::setvbuf(out.get(), nullptr, _IONBF, 0);
    const int status = run_extension(3, argv, in.get(), out.get());
    _exit(blocks_outstanding() == 0 ? status : 100 + static_cast<int>(blocks_outstanding()));
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  Ending run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 1000 + WTERMSIG(wait_status);
  run.output = written(out.get());
  return run;
}

TEST(AllocationFailure, EveryPointEndsWithStatus2AndWholeLines) {
  prepare_json_library();
  const std::string input = conversation();
  const Ending clean = run_refusing(0, input);
  ASSERT_EQ(clean.status, EXIT_OK) << "statuses above 100 count blocks never given back";
  ASSERT_EQ(std::count(clean.output.begin(), clean.output.end(), '\n'), 6);

  std::size_t k = 1;
  for (;; ++k) {
    ASSERT_LT(k, 100000U) << "the conversation never finished";
    const Ending run = run_refusing(k, input);
    if (run.status == EXIT_OK) {
      EXPECT_EQ(run.output, clean.output) << "k = " << k;
      break;
    }
    ASSERT_EQ(run.status, EXIT_PROTOCOL) << "k = " << k;
    ASSERT_EQ(clean.output.compare(0, run.output.size(), run.output), 0) << "k = " << k;
    ASSERT_TRUE(run.output.empty() || run.output.back() == '\n')
        << "k = " << k << ": a partial line";
  }
  const std::size_t points = k - 1;
  std::printf("allocation points covered: %zu (k = 1 .. %zu)\n", points, points);
  RecordProperty("allocation_points", static_cast<int>(points));
  EXPECT_GT(points, 20U);
}

}  // namespace
