// The conversation generator and the shrinker, in-process: the same seed gives the same
// conversations; the generator reaches every kind of input it promises; shrinking keeps
// what a difference needs and drops the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>

#include "base/json.h"
#include "differential/generator.h"
#include "differential/shrink.h"

namespace {

const Catalogue& sample() {
  static const auto* const catalogue = new Catalogue(catalogue_of(
      "sample",
      {{"sample.echo", 1, 1, "Value"}, {"sample.fail", 0, 0, "()"}, {"sample.wait", 1, 1, "Int"}}));
  return *catalogue;
}

GeneratedConversation generate_conversation(std::uint64_t seed, std::uint64_t index) {
  return ::generate_conversation(sample(), seed, index);
}

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

// Whether `line` holds an object whose keys sort otherwise by UTF-16 code unit than by
// byte: one beyond the Basic Multilingual Plane, and one from U+E000 up.
bool holds_a_utf16_trap(const std::string& line) {
  const auto has_key = [&](std::initializer_list<const char*> keys) {
    return std::any_of(keys.begin(), keys.end(), [&](const char* key) {
      std::string quoted_key = "\"";
      quoted_key += key;
      quoted_key += "\":";
      return line.find(quoted_key) != std::string::npos;
    });
  };
  return has_key({"\\ud83d\\ude00", "\\ud800\\udc00", "\\udbff\\udfff", "\xf0\x9f\x98\x80",
                  "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf"}) &&
         has_key({"\\uE000", "\\uFFFF", "\\uFB01", "\xee\x80\x80", "\xef\xbf\xbf", "\xef\xac\x81"});
}

// Every class of input the extension tells apart, and every fault ports are known to
// make, comes up at a rate that a run of a few seconds meets: here, at least ten times in
// 5000 conversations (a run plays over a hundred a second). The wait of the limit is kept
// rarer, as each takes five seconds (on a lane of its own).
TEST(Generator, ReachesEveryKindOfInputOften) {
  using Holds = std::function<bool(const GeneratedConversation&, const std::string&)>;
  struct Kind {
    const char* what;
    Holds holds;
    std::size_t times = 0;
  };
  const auto in_input = [](std::string text) -> Holds {
    return [text](const GeneratedConversation&, const std::string& input) {
      return input.find(text) != std::string::npos;
    };
  };
  const auto with_words = [](std::size_t count) -> Holds {
    return [count](const GeneratedConversation& conversation, const std::string&) {
      return conversation.arguments.size() == count;
    };
  };
  const auto any_line = [](std::function<bool(const GeneratedLine&)> test) -> Holds {
    return [test](const GeneratedConversation& conversation, const std::string&) {
      return std::any_of(conversation.lines.begin(), conversation.lines.end(), test);
    };
  };
  std::vector<Kind> kinds = {
      {"a call of sample.wait", in_input(R"("callable":"sample.wait")")},
      {"a call of sample.fail", in_input(R"("callable":"sample.fail")")},
      {"a callable's name off by case", in_input(R"("callable":"Sample.Echo")")},
      {"a second handshake", in_input("}\n{\"type\":\"handshake\"")},
      {"a shutdown with a request_id", in_input(R"({"type":"shutdown","request_id")")},
      {"a type that is null", in_input(R"({"type":null})")},
      {"a top-level array", in_input("\n[")},
      {"a top-level string", in_input("\n\"shutdown\"")},
      {"a NUL byte", in_input(std::string(1, '\0'))},
      {"a NUL right after a complete object", in_input(std::string("}") + '\0')},
      {"a byte that is no UTF-8", in_input("\xff")},
      {"an overlong form", in_input("\xc0\xaf")},
      {"an escaped NUL", in_input("\\u0000")},
      {"a lone surrogate", in_input("\\ud800\"")},
      {"a byte-order mark on the first line",
       [](const GeneratedConversation&, const std::string& input) {
         return input.starts_with("\xef\xbb\xbf");
       }},
      {"a byte-order mark on a later line", in_input("\n\xef\xbb\xbf")},
      {"CR LF", in_input("\r\n")},
      {"white space between tokens", any_line([](const GeneratedLine& line) {
         return line.message && line.render().find(", \"") != std::string::npos;
       })},
      {"a CR between tokens", any_line([](const GeneratedLine& line) {
         return line.message && line.render().find(":\r\"") != std::string::npos;
       })},
      {"a blank line", in_input("\n\n")},
      {"two objects on one line", in_input("}{}")},
      {"an integer past the 64-bit edge", in_input("9223372036854775808")},
      {"a real past the largest", in_input("1e309")},
      {"nesting near the depth limit", in_input(std::string(2040, '['))},
      {"text beyond the Basic Multilingual Plane", in_input("\xf0\x9f\x98\x80")},
      {"an escaped surrogate pair", in_input("\\ud83d\\ude00")},
      {"DEL", in_input("\x7f")},
      {"keys whose byte order is not their UTF-16 order",
       any_line([](const GeneratedLine& line) { return holds_a_utf16_trap(line.render()); })},
      {"a wait of one past the limit", in_input(R"("arguments":[5001])")},
      {"a wait long enough to measure",
       [](const GeneratedConversation& conversation, const std::string&) {
         const std::vector<AskedWait> waits = asked_waits(conversation);
         return std::any_of(waits.begin(), waits.end(), [](const AskedWait& wait) {
           return wait.milliseconds >= 50 && wait.milliseconds < WAIT_LIMIT_MS;
         });
       }},
      {"a command line of no words", with_words(0)},
      {"a command line of one word", with_words(1)},
      {"a command line of three words", with_words(3)},
      {"a command line of two wrong words",
       [](const GeneratedConversation& conversation, const std::string&) {
         return conversation.arguments.size() == 2 &&
                conversation.arguments != std::vector<std::string>{"--protocol", "1"};
       }},
      {"no final line feed",
       [](const GeneratedConversation&, const std::string& input) {
         return !input.empty() && input.back() != '\n';
       }},
      {"an empty input",
       [](const GeneratedConversation&, const std::string& input) { return input.empty(); }},
      {"a line of the longest length", any_line([](const GeneratedLine& line) {
         return line.message && line.message->render().size() + 1 == LONGEST_INPUT_LINE;
       })},
      {"a line one byte longer", any_line([](const GeneratedLine& line) {
         return line.message && line.message->render().size() + 1 == LONGEST_INPUT_LINE + 1;
       })},
  };
  std::size_t waits_of_the_limit = 0;
  for (std::uint64_t index = 0; index < 5000; ++index) {
    const GeneratedConversation conversation = generate_conversation(1, index);
    const std::string input = conversation.input();
    for (Kind& kind : kinds) {
      kind.times += kind.holds(conversation, input) ? 1U : 0U;
    }
    waits_of_the_limit += input.find(R"("arguments":[5000])") != std::string::npos ? 1U : 0U;
  }
  for (const Kind& kind : kinds) {
    EXPECT_GE(kind.times, 10U) << kind.what << ": only " << kind.times << " in 5000";
  }
  EXPECT_GE(waits_of_the_limit, 10U) << "too few waits of the limit: a port that refuses it "
                                        "would be found only after a long search";
  EXPECT_LE(waits_of_the_limit, 100U) << "waits of the limit are not rare";
}

TEST(Generator, WaitsAreShortButForAFewMeasurableOnesAndTheRareLimit) {
  std::size_t waits = 0;
  std::size_t measurable = 0;
  std::size_t waits_of_the_limit = 0;
  for (std::uint64_t index = 0; index < 5000; ++index) {
    for (const AskedWait& wait : asked_waits(generate_conversation(3, index))) {
      ++waits;
      EXPECT_TRUE(wait.milliseconds <= 300 || wait.milliseconds == WAIT_LIMIT_MS)
          << wait.milliseconds;
      waits_of_the_limit += wait.milliseconds == WAIT_LIMIT_MS ? 1U : 0U;
      measurable += wait.milliseconds >= 50 && wait.milliseconds <= 300 ? 1U : 0U;
    }
  }
  EXPECT_GT(waits, 500U) << "too few waits to tell";
  EXPECT_GT(measurable, 0U) << "no wait long enough to measure";
  EXPECT_LT((measurable + waits_of_the_limit) * 20, waits)
      << "long waits are not rare: conversations stay quick";
}

// Of any extension, the calls are drawn from its catalogue: every callable is called,
// mostly within its arity and with values of its input type, a name that must be escaped
// is written escaped, and no name of the sample's comes in. No call is timed: what a wait
// means is known of the sample's alone.
TEST(Generator, DrawsItsCallsFromAnyCatalogue) {
  const Catalogue forecast = catalogue_of("forecast", {{"forecast.today", 1, 1, "String"},
                                                       {"forecast.days", 0, 2, "Int"},
                                                       {"forecast.we\"ird\\", 2, 40, "Value"}});
  EXPECT_EQ(forecast.timed_callable, "");
  struct Tally {
    std::size_t calls = 0;
    std::size_t fitting = 0;  // within the arity, each argument of the input type
  };
  std::map<std::string, Tally> tallies;
  std::size_t longest_lines = 0;
  for (std::uint64_t index = 0; index < 3000; ++index) {
    const GeneratedConversation conversation = ::generate_conversation(forecast, 5, index);
    EXPECT_TRUE(asked_waits(conversation).empty()) << index;
    EXPECT_EQ(conversation.input().find("sample"), std::string::npos) << index;
    for (const GeneratedLine& line : conversation.lines) {
      const std::string text = line.render();
      const Json message(json_loadb(text.data(), text.size(), JSON_DECODE_ANY, nullptr));
      const json_t* callable = json_object_get(message.get(), "callable");
      const json_t* arguments = json_object_get(message.get(), "arguments");
      if (!json_is_string(callable) || !json_is_array(arguments)) {
        continue;
      }
      const std::string name = json_string_value(callable);
      longest_lines += text.size() >= LONGEST_INPUT_LINE && name == "forecast.today" ? 1U : 0U;
      const std::size_t count = json_array_size(arguments);
      bool typed = true;
      for (std::size_t i = 0; i < count; ++i) {
        const json_t* argument = json_array_get(arguments, i);
        typed = typed && (name == "forecast.today"  ? json_is_string(argument)
                          : name == "forecast.days" ? json_is_integer(argument)
                                                    : true);
      }
      const bool within = name == "forecast.today"  ? count == 1
                          : name == "forecast.days" ? count <= 2
                                                    : count >= 2 && count <= 40;
      Tally& tally = tallies[name];
      ++tally.calls;
      tally.fitting += within && typed ? 1U : 0U;
    }
  }
  for (const char* name : {"forecast.today", "forecast.days", "forecast.we\"ird\\"}) {
    const Tally& tally = tallies[name];
    EXPECT_GT(tally.calls, 300U) << name;
    EXPECT_GT(tally.fitting * 10, tally.calls * 7) << name << ": too few calls fit it";
    EXPECT_LT(tally.fitting, tally.calls) << name << ": it is never called otherwise";
  }
  for (const char* wrong : {"Forecast.Today", "FORECAST.DAYS", "today", "forecast.todayes"}) {
    EXPECT_GT(tallies[wrong].calls, 0U) << wrong;
  }
  EXPECT_GT(longest_lines, 0U) << "no line of the longest length calls a callable it announced";
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
        "",
        "  ",
        "\r\n",
        "",
        ""};
  };
  start.lines.push_back(
      message_line(JsonText::object({member("type", JsonText::string("handshake"))})));
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

// Strings are shrunk inside by whole characters and escapes: of a string whose "é" alone
// makes the difference, only that is left, written as it was.
TEST(Shrink, ShrinksStringsInsideByWholeCharacters) {
  GeneratedConversation start;
  start.arguments = {"--protocol", "1"};
  start.lines.push_back(message_line(JsonText::object(
      {member("type", JsonText::string("call")),
       member("arguments", JsonText::array({JsonText::string(
                               "h\xc3\xa9llo\\n\\t\\\"\\\\\\/\\b\\f\\r\x7f\\u00e9")}))})));
  const StillDiffers holds_accent = [](const GeneratedConversation& conversation) {
    return conversation.input().find("\xc3\xa9") != std::string::npos;
  };
  const GeneratedConversation shrunk = shrink(start, holds_accent, 1000);
  EXPECT_EQ(shrunk.input(), "{\"arguments\":[\"\xc3\xa9\"]}\n");
}

// A difference that any refused line shows is shown by a blank one, the plainest, rather
// than by what the refused line happened to be; one that needs an object, by "{}".
TEST(Shrink, PrefersABlankLineThenAnEmptyObject) {
  GeneratedConversation start;
  start.arguments = {"--protocol", "1"};
  start.lines.push_back(
      message_line(JsonText::object({member("type", JsonText::string("handshake"))})));
  start.lines.push_back(message_line(JsonText::object(
      {member("arguments", JsonText::array({JsonText::raw("9223372036854775808")}))})));
  const StillDiffers refused_line = [](const GeneratedConversation& conversation) {
    return conversation.lines.size() >= 2 &&
           conversation.lines[1].render().find("\"type\"") == std::string::npos;
  };
  EXPECT_EQ(shrink(start, refused_line, 1000).lines[1].render(), "\n");
  const StillDiffers typeless_object = [](const GeneratedConversation& conversation) {
    return conversation.lines.size() >= 2 && conversation.lines[1].render().starts_with("{") &&
           conversation.lines[1].render().find("\"type\"") == std::string::npos;
  };
  EXPECT_EQ(shrink(start, typeless_object, 1000).lines[1].render(), "{}\n");
}

}  // namespace
