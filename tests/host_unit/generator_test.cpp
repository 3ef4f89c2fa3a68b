// The conversation generator and the shrinker, in-process: the same seed gives the same
// conversations; the generator reaches every kind of input it promises; shrinking keeps
// what a difference needs and drops the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "differential/generator.h"
#include "differential/shrink.h"

namespace {

TEST(Generator, TheSameSeedGivesTheSameConversations) {
  for (std::uint64_t index = 0; index < 200; ++index) {
    const GeneratedConversation first = generate_conversation(42, index);
    const GeneratedConversation again = generate_conversation(42, index);
    EXPECT_EQ(first.input(), again.input()) << index;
    EXPECT_EQ(first.arguments, again.arguments) << index;
  }
  std::size_t same = 0;
  for (std::uint64_t index = 0; index < 200; ++index) {
    same += generate_conversation(42, index).input() == generate_conversation(43, index).input()
                ? 1U
                : 0U;
  }
  EXPECT_LT(same, 20U) << "another seed gives mostly the same conversations";
}

TEST(Generator, ReachesEveryKindOfInput) {
  // What each kind looks like in a conversation's input, or in its command line.
  struct Kind {
    const char* what;
    std::string text;
    bool found = false;
  };
  Kind kinds[] = {
      {"a call of sample.wait", R"("callable":"sample.wait")"},
      {"a call of sample.fail", R"("callable":"sample.fail")"},
      {"a callable's name off by case", R"("callable":"Sample.Echo")"},
      {"a second handshake", "}\n{\"type\":\"handshake\""},
      {"a NUL byte", std::string(1, '\0')},
      {"a byte that is no UTF-8", "\xff"},
      {"CR LF", "\r\n"},
      {"a blank line", "\n\n"},
      {"two objects on one line", "}{}"},
      {"an integer past the 64-bit edge", "9223372036854775808"},
      {"a real past the largest", "1e309"},
      {"nesting near the depth limit", std::string(2040, '[')},
      {"text beyond the Basic Multilingual Plane", "\xf0\x9f\x98\x80"},
      {"an escaped surrogate pair", "\\ud83d\\ude00"},
      {"DEL", "\x7f"},
  };
  bool wrong_command_line = false;
  bool no_final_line_feed = false;
  bool longest_line = false;
  bool one_byte_longer = false;
  for (std::uint64_t index = 0; index < 5000; ++index) {
    const GeneratedConversation conversation = generate_conversation(1, index);
    const std::string input = conversation.input();
    for (Kind& kind : kinds) {
      kind.found = kind.found || input.find(kind.text) != std::string::npos;
    }
    wrong_command_line =
        wrong_command_line || conversation.arguments != std::vector<std::string>{"--protocol", "1"};
    no_final_line_feed = no_final_line_feed || (!input.empty() && input.back() != '\n');
    for (const GeneratedLine& line : conversation.lines) {
      const std::size_t length = line.message ? line.message->render().size() + 1 : 0;
      longest_line = longest_line || length == LONGEST_INPUT_LINE;
      one_byte_longer = one_byte_longer || length == LONGEST_INPUT_LINE + 1;
    }
  }
  for (const Kind& kind : kinds) {
    EXPECT_TRUE(kind.found) << "no conversation has " << kind.what;
  }
  EXPECT_TRUE(wrong_command_line);
  EXPECT_TRUE(no_final_line_feed);
  EXPECT_TRUE(longest_line);
  EXPECT_TRUE(one_byte_longer);
}

TEST(Generator, WaitsAreShort) {
  // Every whole number of milliseconds a wait asks for is at most 20, or is refused before
  // any sleep (above 5000).
  const std::string head = R"("callable":"sample.wait","arguments":[)";
  std::size_t waits = 0;
  for (std::uint64_t index = 0; index < 5000; ++index) {
    for (const GeneratedLine& line : generate_conversation(3, index).lines) {
      const std::string text = line.message ? line.message->render() : "";
      const std::size_t at = text.find(head);
      if (at == std::string::npos) {
        continue;
      }
      const std::size_t from = at + head.size();
      const std::string first = text.substr(from, text.find_first_of(",]", from) - from);
      if (!first.empty() && first.size() < 7 &&
          std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        ++waits;
        EXPECT_TRUE(std::stoi(first) <= 20 || std::stoi(first) > 5000) << text;
      }
    }
  }
  EXPECT_GT(waits, 500U) << "too few waits to tell";
}

// A conversation differs while it still holds a call of sample.fail: the shrunk one holds
// that call alone, its arguments made simplest.
TEST(Shrink, KeepsWhatTheDifferenceNeedsAndDropsTheRest) {
  GeneratedConversation start;
  start.arguments = {"--protocol", "2"};
  const auto line = [](const std::string& callable, JsonText arguments) {
    return GeneratedLine{
        JsonText::object({member("type", JsonText::string("call")),
                          member("request_id", JsonText::string("long-identifier")),
                          member("callable", JsonText::string(callable)),
                          member("arguments", std::move(arguments))}),
        "", "  ", "\r\n"};
  };
  start.lines.push_back(
      {JsonText::object({member("type", JsonText::string("handshake"))}), "", "", "\n"});
  start.lines.push_back(line("sample.echo", JsonText::array({JsonText::string("x")})));
  start.lines.push_back(
      line("sample.fail", JsonText::array({JsonText::object(
                              {member("a", JsonText::array({JsonText::raw("12345")}))})})));
  start.lines.push_back(line("sample.wait", JsonText::array({JsonText::raw("3")})));
  std::size_t tries = 0;
  const StillDiffers holds_fail = [&](const GeneratedConversation& conversation) {
    ++tries;
    return conversation.input().find(R"("callable":"sample.fail")") != std::string::npos;
  };
  ASSERT_TRUE(holds_fail(start));
  const GeneratedConversation shrunk = shrink(start, holds_fail, 1000);
  EXPECT_EQ(shrunk.arguments, (std::vector<std::string>{"--protocol", "1"}));
  EXPECT_EQ(shrunk.input(), "{\"callable\":\"sample.fail\"}\n");
  EXPECT_LT(tries, 1000U);

  // A budget bounds the work, and what comes back still differs.
  tries = 0;
  const GeneratedConversation bounded = shrink(start, holds_fail, 5);
  EXPECT_LE(tries, 6U);
  EXPECT_TRUE(holds_fail(bounded));
}

}  // namespace
