// What a person types at the session's prompt, read against an announced catalogue:
// commands, unfinished values, calls checked for their name and arity.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conversation/typed_line.h"

namespace {

const std::vector<AnnouncedCallable> CATALOGUE = {
    {"sample.echo", 1, 1, "Value"}, {"sample.fail", 0, 0, "()"}, {"sample.wait", 1, 1, "Int"}};

TEST(TypedLine, ReadsEachKindOfEntry) {
  struct Case {
    std::string typed;
    Typed::Kind kind;
    std::string command_or_problem;  // the command, or a piece of the problem
  };
  const Case cases[] = {
      {"", Typed::Kind::kNothing, ""},
      {"   # a comment", Typed::Kind::kNothing, ""},
      {"sample.echo [1]", Typed::Kind::kCall, ""},
      {"sample.fail", Typed::Kind::kCall, ""},  // no array: no arguments
      {"sample.echo [\"a ] still\"", Typed::Kind::kIncomplete, ""},
      {"sample.echo [\"\\\"]\"", Typed::Kind::kIncomplete, ""},  // an escaped quote
      {"sample.echo [{\"a\":\n[1,\n2]}]", Typed::Kind::kCall, ""},
      {"sample.echo [{\"a\":1}", Typed::Kind::kIncomplete, ""},
      {"help", Typed::Kind::kCommand, "help"},
      {"?", Typed::Kind::kCommand, "help"},
      {"quit", Typed::Kind::kCommand, "quit"},
      {"exit", Typed::Kind::kCommand, "quit"},
      {":q", Typed::Kind::kCommand, "quit"},
      {"catalogue", Typed::Kind::kCommand, "catalogue"},
      {":send {\"type\":\"Call\"}", Typed::Kind::kCommand, "send"},
      {":send", Typed::Kind::kBad, ":send takes the line"},
      {"sample.ecoh [1]", Typed::Kind::kBad, "did you mean sample.echo?"},
      {"Sample.Echo [1]", Typed::Kind::kBad, "did you mean sample.echo?"},
      {"wait [1]", Typed::Kind::kBad, "did you mean sample.wait?"},
      {"frobnicate [1]", Typed::Kind::kBad, "':catalogue' lists those it did"},
      {"sample.echo [1,2]", Typed::Kind::kBad, "sample.echo takes 1 argument, not 2"},
      {"sample.echo", Typed::Kind::kBad, "sample.echo takes 1 argument, not 0"},
      {"sample.fail [1]", Typed::Kind::kBad, "sample.fail takes no arguments, not 1"},
      // A bare value is answered with the line it was meant as.
      {"sample.echo {}", Typed::Kind::kBad, "the arguments go in a JSON array: sample.echo [{}]"},
      {"sample.wait 10", Typed::Kind::kBad, "the arguments go in a JSON array: sample.wait [10]"},
      {"sample.echo \"x\"", Typed::Kind::kBad, "in a JSON array: sample.echo [\"x\"]"},
      {"sample.echo x", Typed::Kind::kBad, "not JSON"},
      {"sample.echo hello", Typed::Kind::kBad, "in a JSON array: sample.echo [\"hello\"]"},
      // The declared input type, where the host knows it; its range is the extension's.
      {"sample.wait [\"x\"]", Typed::Kind::kBad, "sample.wait takes Int: an integer, not \"x\""},
      {"sample.wait [1.5]", Typed::Kind::kBad, "not 1.5 (a real)"},
      {"sample.wait [99999]", Typed::Kind::kCall, ""},
      {"sample.echo [null]", Typed::Kind::kCall, ""},
      {"sample.echo [1]]", Typed::Kind::kBad, "not JSON"},
      {"]", Typed::Kind::kBad, "a call starts with the callable's name"},
      {"[1]", Typed::Kind::kBad, "a call starts with the callable's name"},
  };
  for (const Case& each : cases) {
    const Typed typed = read_typed(each.typed, CATALOGUE);
    EXPECT_EQ(typed.kind, each.kind) << each.typed << ": " << typed.problem;
    if (each.kind == Typed::Kind::kCommand) {
      EXPECT_EQ(typed.command, each.command_or_problem) << each.typed;
    }
    if (each.kind == Typed::Kind::kBad) {
      EXPECT_NE(typed.problem.find(each.command_or_problem), std::string::npos)
          << each.typed << ": " << typed.problem;
    }
  }
}

// A bare word is the session's command only while no callable is named so: an extension
// that announces "help" gets its calls.
TEST(TypedLine, ACallableNamedLikeACommandKeepsItsName) {
  const std::vector<AnnouncedCallable> catalogue = {{"help", 0, 0, "()"}};
  EXPECT_EQ(read_typed("help", catalogue).kind, Typed::Kind::kCall);
  EXPECT_EQ(read_typed(":help", catalogue).kind, Typed::Kind::kCommand);
}

TEST(TypedLine, NamesOnlyANearNameAsMeant) {
  EXPECT_EQ(nearest_name("sample.wiat", CATALOGUE).value_or(""), "sample.wait");
  EXPECT_EQ(nearest_name("SAMPLE.FAIL", CATALOGUE).value_or(""), "sample.fail");
  EXPECT_FALSE(nearest_name("other.thing", CATALOGUE).has_value());
  EXPECT_FALSE(nearest_name("x", CATALOGUE).has_value());
}

}  // namespace
