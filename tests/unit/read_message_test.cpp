// The reading side of the channel: framing, the line limit, and the parser's settings.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "channel/channel.h"
#include "support/streams.h"

namespace {

const char* name_of(ReadOutcome outcome) {
  switch (outcome) {
    case ReadOutcome::kMessage:
      return "message";
    case ReadOutcome::kEndOfInput:
      return "end of input";
    case ReadOutcome::kNotAMessage:
      return "not a message";
    case ReadOutcome::kReadError:
      return "read error";
  }
  return "?";
}

// Reads every line of `bytes` until something other than a message comes; returns each
// message compactly encoded with sorted keys, then the name of the outcome that stopped it.
// With a `buffer_size`, the stream reads ahead that many bytes at a time, so that lines
// reach the reader in pieces, split at every possible place.
std::vector<std::string> read_all(std::string_view bytes, std::size_t buffer_size = 0) {
  File in = input_stream(bytes);
  std::vector<char> buffer(buffer_size);
  if (buffer_size != 0) {
    std::setvbuf(in.get(), buffer.data(), _IOFBF, buffer.size());
  }
  std::vector<std::string> seen;
  for (;;) {
    ReadResult read = read_message(in.get());
    if (read.outcome != ReadOutcome::kMessage) {
      seen.emplace_back(name_of(read.outcome));
      return seen;
    }
    char* text = json_dumps(read.message.get(), JSON_COMPACT | JSON_SORT_KEYS);
    seen.emplace_back(text);
    free(text);  // NOLINT(cppcoreguidelines-no-malloc)
  }
}

struct ReadCase {
  const char* what;
  std::string input;
  std::vector<std::string> expected;
};

std::string with_nul(std::string text, std::size_t at) {
  text.insert(at, 1, '\0');
  return text;
}

class ReadMessage : public testing::TestWithParam<ReadCase> {};

std::string test_name(const testing::TestParamInfo<ReadCase>& info) {
  std::string name = info.param.what;
  for (char& c : name) {
    c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  return name;
}

TEST_P(ReadMessage, YieldsTheExpectedMessagesThenStops) {
  EXPECT_EQ(read_all(GetParam().input), GetParam().expected) << GetParam().what;
}

TEST_P(ReadMessage, YieldsTheSameWhateverTheStreamsBufferSize) {
  for (const std::size_t size : {1U, 2U, 3U, 5U, 8U}) {
    EXPECT_EQ(read_all(GetParam().input, size), GetParam().expected) << "buffer of " << size;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadMessage,
    testing::Values(
        ReadCase{"nothing at all", "", {"end of input"}},
        ReadCase{"an empty object", "{}\n", {"{}", "end of input"}},
        ReadCase{"two lines", "{\"a\":1}\n{\"b\":2}\n", {"{\"a\":1}", "{\"b\":2}", "end of input"}},
        ReadCase{"a bare line feed", "\n{}\n", {"not a message"}},
        ReadCase{"spaces only", "   \n", {"not a message"}},
        ReadCase{"CR LF and trailing blanks",
                 "{\"a\":1} \t\r\n{}\r\n",
                 {"{\"a\":1}", "{}", "end of input"}},
        ReadCase{
            "last line without line feed", "{}\n{\"z\":0}", {"{}", "{\"z\":0}", "end of input"}},
        ReadCase{"an array", "[]\n", {"not a message"}},
        ReadCase{"a string", "\"x\"\n", {"not a message"}},
        ReadCase{"null", "null\n", {"not a message"}},
        ReadCase{"two objects", "{}{}\n", {"not a message"}},
        ReadCase{"object then text", "{} x\n", {"not a message"}},
        ReadCase{"duplicate key", "{\"a\":1,\"a\":1}\n", {"not a message"}},
        ReadCase{"nested duplicate key", "{\"a\":[{\"b\":1,\"b\":2}]}\n", {"not a message"}},
        ReadCase{"integer above 64 bits", "{\"n\":9223372036854775808}\n", {"not a message"}},
        ReadCase{"integer limits",
                 "{\"a\":9223372036854775807,\"b\":-9223372036854775808}\n",
                 {"{\"a\":9223372036854775807,\"b\":-9223372036854775808}", "end of input"}},
        ReadCase{"invalid UTF-8", "{\"s\":\"\xff\"}\n", {"not a message"}},
        ReadCase{"escaped NUL", "{\"s\":\"\\u0000\"}\n", {"not a message"}},
        ReadCase{"lone surrogate", "{\"s\":\"\\udc00\"}\n", {"not a message"}},
        ReadCase{"NUL after a number", with_nul("{\"n\":1}\n", 6), {"not a message"}},
        ReadCase{"NUL inside a number's array", with_nul("{\"n\":[1]}\n", 7), {"not a message"}},
        ReadCase{"NUL after the object", with_nul("{}\n", 2), {"not a message"}},
        ReadCase{"NUL at the start", with_nul("{}\n", 0), {"not a message"}},
        ReadCase{"NUL in the last unterminated line", with_nul("{}", 2), {"not a message"}}),
    test_name);

std::string object_line_of_size(std::size_t size) {
  // {"s":"xxx...x"}\n
  const std::size_t frame = std::string("{\"s\":\"\"}\n").size();
  return "{\"s\":\"" + std::string(size - frame, 'x') + "\"}\n";
}

TEST(ReadMessageLimit, TakesALineOfExactlyTheLimit) {
  const std::string line = object_line_of_size(LINE_LIMIT);
  ASSERT_EQ(line.size(), 1048577U);
  File in = input_stream(line + "{}\n");
  EXPECT_EQ(read_message(in.get()).outcome, ReadOutcome::kMessage);
  EXPECT_EQ(read_message(in.get()).outcome, ReadOutcome::kMessage);
}

TEST(ReadMessageLimit, RefusesALineOneByteLonger) {
  File in = input_stream(object_line_of_size(LINE_LIMIT + 1));
  EXPECT_EQ(read_message(in.get()).outcome, ReadOutcome::kNotAMessage);
}

TEST(ReadMessageLimit, HoldsWhereverTheStreamsBufferEnds) {
  // Buffers that end exactly at the limit, one byte before it and one after it.
  for (const std::size_t size : {LINE_LIMIT, LINE_LIMIT - 1, LINE_LIMIT + 1, std::size_t{4095}}) {
    EXPECT_EQ(read_all(object_line_of_size(LINE_LIMIT) + "{}\n", size),
              (std::vector<std::string>{"{\"s\":\"" + std::string(LINE_LIMIT - 9, 'x') + "\"}",
                                        "{}", "end of input"}))
        << "buffer of " << size;
    EXPECT_EQ(read_all(object_line_of_size(LINE_LIMIT + 1), size),
              std::vector<std::string>{"not a message"})
        << "buffer of " << size;
  }
}

TEST(ReadMessageLimit, RefusesALongLineWhoseStartIsAnObject) {
  // Only the whole line counts: the first MAX_LINE bytes are a complete object.
  std::string line = "{}" + std::string(LINE_LIMIT, ' ') + "\n";
  File in = input_stream(line);
  EXPECT_EQ(read_message(in.get()).outcome, ReadOutcome::kNotAMessage);
}

TEST(ReadMessageLimit, TakesAnUnterminatedLastLineOfTheLimit) {
  std::string line = object_line_of_size(LINE_LIMIT + 1);
  line.pop_back();
  ASSERT_EQ(line.size(), LINE_LIMIT);
  File in = input_stream(line);
  EXPECT_EQ(read_message(in.get()).outcome, ReadOutcome::kMessage);
  EXPECT_EQ(read_message(in.get()).outcome, ReadOutcome::kEndOfInput);
}

TEST(ReadMessageErrors, AStreamThatCannotBeReadIsAReadError) {
  File write_only(std::fopen("/dev/null", "w"));
  ASSERT_NE(write_only, nullptr);
  EXPECT_EQ(read_message(write_only.get()).outcome, ReadOutcome::kReadError);
}

}  // namespace
