// The real executable at its limits: the longest line, over-long lines with bounded
// memory, outputs that fail, and what it asks of the system (strace).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "e2e/spawn.h"

namespace {

const std::string HANDSHAKE = "{\"type\":\"handshake\"}\n";
const std::string SHUTDOWN = "{\"type\":\"shutdown\"}\n";
const std::string HANDSHAKE_RESULT =
    "{\"extension_id\":\"sample\",\"extension_version\":\"0.1.0\",\"protocol_version\":\"1.0\","
    "\"request_id\":\"handshake\",\"type\":\"handshake_result\"}\n";
constexpr std::size_t REGISTER_LINE = 694;  // 693 characters and the line feed

std::string echo_call(const std::string& argument_text) {
  return "{\"type\":\"call\",\"request_id\":\"big\",\"callable\":\"sample.echo\",\"arguments\":[" +
         argument_text + "]}\n";
}

std::string echo_reply(const std::string& value_text) {
  return "{\"extension_id\":\"sample\",\"protocol_version\":\"1.0\",\"request_id\":\"big\","
         "\"type\":\"call_result\",\"value\":" +
         value_text + "}\n";
}

// A call line of exactly `size` bytes echoing a string of 'x'. The quoted string is made
// whole and its ends overwritten, rather than by prepending a quote to a temporary: a
// prepend is an overlapping move that GCC 12 at -O3 cannot prove safe (-Wrestrict).
// REQUIRES: `size` is at least the length of a call echoing "".
std::string echo_line_of_size(std::size_t size, std::string* argument) {
  const std::size_t frame = echo_call("\"\"").size();
  argument->assign(size - frame + 2, 'x');
  argument->front() = '"';
  argument->back() = '"';
  return echo_call(*argument);
}

// What the extension wrote after its two announcing lines; the whole output, marked,
// when they are missing.
std::string after_announcement(const std::string& output) {
  const std::size_t announced = HANDSHAKE_RESULT.size() + REGISTER_LINE;
  const bool whole = output.starts_with(HANDSHAKE_RESULT) && output.size() >= announced;
  return whole ? output.substr(announced) : "(announcement missing) " + output;
}

TEST(LongestLine, ACallOfExactlyTheLimitIsAnswered) {
  std::string argument;
  const std::string call = echo_line_of_size(1048577, &argument);
  ASSERT_EQ(call.size(), 1048577U);
  const Ended ended = run_extension(HANDSHAKE + call + SHUTDOWN);
  EXPECT_FALSE(ended.signaled);
  EXPECT_EQ(ended.code, 0);
  EXPECT_EQ(after_announcement(ended.output), echo_reply(argument));
  EXPECT_EQ(ended.error_output, "");
}

TEST(LongestLine, OneByteMoreEndsTheConversationWithoutAReply) {
  std::string argument;
  const Ended ended = run_extension(HANDSHAKE + echo_line_of_size(1048578, &argument) + SHUTDOWN);
  EXPECT_EQ(ended.code, 2);
  EXPECT_EQ(after_announcement(ended.output), "");
  EXPECT_EQ(ended.error_output, "");
}

TEST(LongestLine, AHugeLineIsRefusedWithinBoundedMemory) {
  std::FILE* input = std::tmpfile();
  std::fputs((HANDSHAKE + "{\"type\":\"call\",\"x\":\"").c_str(), input);
  const std::string mebibyte(1U << 20U, 'x');
  for (int i = 0; i < 64; ++i) {
    std::fputs(mebibyte.c_str(), input);
  }
  std::fputs(("\"}\n" + SHUTDOWN).c_str(), input);
  std::fflush(input);
  std::rewind(input);
  const Ended ended =
      run_program_on(SAMPLE_EXTENSION_PATH, {"--protocol", "1"}, fileno(input), OutputTo::kFile);
  std::fclose(input);
  EXPECT_EQ(ended.code, 2);
  EXPECT_EQ(after_announcement(ended.output), "");
#ifndef SAMPLE_INSTRUMENTED  // shadow memory and counters are no measure of the program
  EXPECT_LT(ended.max_rss_kib, 16 * 1024) << "peak memory, KiB";
#endif
}

TEST(LargeValues, AMebibyteOfNonAsciiTextIsEchoedEscaped) {
  // 349,000 'é' (2 bytes each) and some ASCII: just under the limit on the way in,
  // three times as long on the way out.
  std::string raw;
  std::string escaped;
  for (int i = 0; i < 349000; ++i) {
    raw += "\xc3\xa9";
    escaped += "\\u00E9";
  }
  const Ended ended = run_extension(HANDSHAKE + echo_call("\"" + raw + "/\"") + SHUTDOWN);
  EXPECT_EQ(ended.code, 0);
  EXPECT_EQ(after_announcement(ended.output), echo_reply("\"" + escaped + "/\""));
}

TEST(FailingOutput, AFullDeviceEndsWithStatus2) {
  const Ended ended = run_extension(HANDSHAKE + SHUTDOWN, OutputTo::kFullDevice);
  EXPECT_FALSE(ended.signaled);
  EXPECT_EQ(ended.code, 2);
  EXPECT_EQ(ended.error_output, "");
}

TEST(FailingOutput, AClosedOutputEndsWithStatus2) {
  const Ended ended = run_extension(HANDSHAKE + SHUTDOWN, OutputTo::kClosed);
  EXPECT_FALSE(ended.signaled);
  EXPECT_EQ(ended.code, 2);
  EXPECT_EQ(ended.error_output, "");
}

TEST(FailingOutput, APipeWithoutReaderEndsItBySigpipe) {
  const Ended ended = run_extension(HANDSHAKE + SHUTDOWN, OutputTo::kBrokenPipe);
  EXPECT_TRUE(ended.signaled);
  EXPECT_EQ(ended.code, SIGPIPE);
  EXPECT_EQ(ended.error_output, "");
}

TEST(FailingOutput, AWrongCommandLineWritesNothingEvenToAFullDevice) {
  const Ended ended =
      run_program(SAMPLE_EXTENSION_PATH, {"--protocol", "2"}, HANDSHAKE, OutputTo::kFullDevice);
  EXPECT_EQ(ended.code, 3);
}

// The system calls of a whole conversation, as strace records them.
std::string traced(const std::string& input, const std::string& calls) {
  char trace_path[] = "/tmp/sample-trace-XXXXXX";
  const int fd = mkstemp(trace_path);
  close(fd);
  const Ended ended = run_program("/usr/bin/strace",
                                  {"-qq", "-e", "trace=" + calls, "-e", "signal=none", "-o",
                                   trace_path, SAMPLE_EXTENSION_PATH, "--protocol", "1"},
                                  input);
  std::ifstream file(trace_path);
  std::stringstream text;
  text << file.rdbuf();
  unlink(trace_path);
  EXPECT_EQ(ended.code, 0);
  return text.str();
}

class Traced : public testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/strace", X_OK) != 0) {
      GTEST_SKIP() << "strace is not installed";
    }
#ifdef SAMPLE_INSTRUMENTED
    GTEST_SKIP() << "the instrumentation opens and writes files of its own";
#endif
  }
};

TEST_F(Traced, OpensNoFileButTheLibrariesItLoads) {
  const std::string trace =
      traced(HANDSHAKE + echo_call("{\"b\":1,\"a\":2}") + SHUTDOWN, "open,openat,creat");
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const bool loader =
        line.find("/etc/ld.so.cache") != std::string::npos || line.find(".so") != std::string::npos;
    EXPECT_TRUE(loader) << line;
  }
}

TEST_F(Traced, WritesEachLineInOneWriteAndNothingToStandardError) {
  std::string big;
  for (int i = 0; i < 100000; ++i) {
    big += "\xe4\xb8\x96";
  }
  const std::string trace =
      traced(HANDSHAKE + echo_call("1") + echo_call("\"" + big + "\"") + SHUTDOWN,
             "write,writev,pwrite64");
  std::istringstream lines(trace);
  int writes = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.rfind("write(1, ", 0), 0U) << line;
    ++writes;
  }
  EXPECT_EQ(writes, 4);  // handshake_result, register, two replies
}

}  // namespace
