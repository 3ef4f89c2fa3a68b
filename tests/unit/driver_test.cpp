// The driver in-process, where the tests control the streams: failures of the output at
// each line, and the rule that nothing follows a failed write.
#include <gtest/gtest.h>

#include <time.h>

#include <string>
#include <vector>

#include "main/driver.h"
#include "main/startup.h"
#include "protocol/exit_status.h"
#include "support/streams.h"

namespace {

const std::string HANDSHAKE = "{\"type\":\"handshake\"}\n";
const std::string ECHO =
    "{\"type\":\"call\",\"request_id\":\"1\",\"callable\":\"sample.echo\",\"arguments\":[1]}\n";
const std::string FAIL =
    "{\"type\":\"call\",\"request_id\":\"2\",\"callable\":\"sample.fail\",\"arguments\":[]}\n";
const std::string SHUTDOWN = "{\"type\":\"shutdown\"}\n";
const std::string ERROR_REPLY =
    "{\"code\":\"SAMPLE_FAILURE\",\"extension_id\":\"sample\",\"kind\":\"SampleError\","
    "\"message\":\"sample failure\",\"protocol_version\":\"1.0\",\"request_id\":\"2\","
    "\"type\":\"error\"}\n";
const char* const ARGV[] = {"sample-extension", "--protocol", "1"};

// Runs a conversation whose output takes at most `room` bytes; returns the status and,
// in `*output`, what got through.
int run_with_room(const std::string& input, std::size_t room, std::string* output) {
  File in = input_stream(input);
  std::string buffer(room + 1, '\0');
  File out(fmemopen(buffer.data(), buffer.size(), "w"));
  std::setvbuf(out.get(), nullptr, _IONBF, 0);
  const int status = run_extension(3, ARGV, in.get(), out.get());
  out.reset();
  *output = buffer.c_str();
  return status;
}

TEST(Driver, ConversationInProcess) {
  File in = input_stream(HANDSHAKE + ECHO + SHUTDOWN);
  File out = output_stream();
  EXPECT_EQ(run_extension(3, ARGV, in.get(), out.get()), EXIT_OK);
  const std::string lines = written(out.get());
  EXPECT_NE(lines.find("\"request_id\":\"1\",\"type\":\"call_result\",\"value\":1}\n"),
            std::string::npos);
}

TEST(Driver, FailedHandshakeResultEndsWithNothingMore) {
  std::string output;
  EXPECT_EQ(run_with_room(HANDSHAKE + ECHO + SHUTDOWN, 0, &output), EXIT_PROTOCOL);
}

TEST(Driver, FailedRegisterEndsWithinTheSecondLine) {
  std::string output;
  EXPECT_EQ(run_with_room(HANDSHAKE + ECHO + SHUTDOWN, 200, &output), EXIT_PROTOCOL);
  // The handshake_result line, then as much of the register line as fitted, and no more.
  EXPECT_EQ(output.size(), 200U);
  EXPECT_EQ(output.find('\n'), 129U);
  EXPECT_EQ(output.substr(130, 14), "{\"callables\":[");
}

TEST(Driver, FailedReplyEndsTheConversation) {
  std::string output;
  EXPECT_EQ(run_with_room(HANDSHAKE + ECHO + ECHO + SHUTDOWN, 130 + 694 + 20, &output),
            EXIT_PROTOCOL);
  EXPECT_EQ(output.size(), 130U + 694U + 20U) << "the reply was cut by the full stream";
}

TEST(Driver, ReadErrorWhileServingIsAFailure) {
  const std::string before_the_failure = HANDSHAKE + ECHO;
  {
    File in = input_stream(before_the_failure);
    File out = output_stream();
    EXPECT_EQ(run_extension(3, ARGV, in.get(), out.get()), EXIT_OK) << "a clean end of input";
  }
  File in = failing_input_stream(before_the_failure);
  File out = output_stream();
  EXPECT_EQ(run_extension(3, ARGV, in.get(), out.get()), EXIT_PROTOCOL);
  EXPECT_NE(written(out.get()).find("\"type\":\"call_result\",\"value\":1}\n"), std::string::npos)
      << "the call before the failure was answered";
}

// The k-th line of a conversation fails halfway, whichever line it is: the conversation
// ends there with status 2, and no line after it is even tried.
TEST(Driver, EachFailedWriteEndsTheConversationWithNothingMore) {
  const std::string input = HANDSHAKE + ECHO + FAIL + ECHO + SHUTDOWN;
  std::string whole;
  {
    File out = output_failing_at(0, &whole);  // no write fails
    File in = input_stream(input);
    ASSERT_EQ(run_extension(3, ARGV, in.get(), out.get()), EXIT_OK);
  }
  // The lines in the order written: handshake_result, register, result, error, result.
  std::vector<std::string> lines;
  for (std::size_t start = 0, end = 0; start < whole.size(); start = end + 1) {
    end = whole.find('\n', start);
    lines.push_back(whole.substr(start, end + 1 - start));
  }
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_EQ(lines[3], ERROR_REPLY);

  for (std::size_t failing = 1; failing <= lines.size(); ++failing) {
    std::string output;
    File out = output_failing_at(failing, &output);
    File in = input_stream(input);
    EXPECT_EQ(run_extension(3, ARGV, in.get(), out.get()), EXIT_PROTOCOL) << "line " << failing;
    std::string expected;
    for (std::size_t line = 0; line + 1 < failing; ++line) {
      expected += lines[line];
    }
    const std::string& cut = lines[failing - 1];
    expected += cut.substr(0, cut.size() / 2);
    EXPECT_EQ(output, expected) << "line " << failing << " failed; what was written after it?";
  }
}

TEST(Driver, WrongCommandLineReadsAndWritesNothing) {
  File in = input_stream(HANDSHAKE);
  File out = output_stream();
  const char* const two[] = {"sample-extension", "--protocol", "2"};
  EXPECT_EQ(run_extension(3, two, in.get(), out.get()), EXIT_USAGE);
  EXPECT_EQ(std::ftell(in.get()), 0);
  EXPECT_EQ(written(out.get()), "");
}

TEST(Startup, SeedsAreNeverZeroAndVary) {
  EXPECT_NE(unpredictable_seed(), 0U);
  EXPECT_NE(unpredictable_seed(), unpredictable_seed());
  const std::size_t fallback = seed_from_clock_and_process();
  EXPECT_NE(fallback, 0U);
  timespec pause{0, 2000};
  nanosleep(&pause, nullptr);
  EXPECT_NE(seed_from_clock_and_process(), fallback);
}

}  // namespace
