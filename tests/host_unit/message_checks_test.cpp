// conform's checks of single lines an extension wrote: each point that holds for the
// sample's own lines, then each way of breaking it, told with the member or the byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance/message_checks.h"
#include "text/markup.h"

namespace {

const char HANDSHAKE_RESULT[] =
    R"({"extension_id":"sample","extension_version":"0.1.0","protocol_version":"1.0",)"
    R"("request_id":"handshake","type":"handshake_result"})"
    "\n";

Json parsed(const std::string& line) {
  LineProblem problem;
  Json message = parse_written_line(line, &problem);
  EXPECT_TRUE(message) << line << ": " << problem.what;
  return message;
}

TEST(MessageChecks, FramingTellsTheByte) {
  LineProblem problem;
  ASSERT_TRUE(parse_written_line(HANDSHAKE_RESULT, &problem));
  struct Case {
    std::string line;
    std::string said;
    std::size_t byte;
  };
  const Case cases[] = {
      {R"({"type":"x"})", "no line feed", 12},
      {"\n", "an empty line", 1},
      {"[1]\n", "not an object but an array", 1},
      {"{\"type\":\"x\",}\n", "not one JSON object", 13},
      {R"({"a":1,"a":2})"
       "\n",
       "not one JSON object: duplicate object key", 0},
      {"{\"a\":\"\xff\"}\n", "not one JSON object", 0},
  };
  for (const Case& each : cases) {
    problem = {};
    EXPECT_FALSE(parse_written_line(each.line, &problem)) << each.line;
    EXPECT_NE(problem.what.find(each.said), std::string::npos) << each.line << ": " << problem.what;
    if (each.byte > 0) {
      EXPECT_EQ(problem.byte, each.byte) << each.line;
    }
  }
}

TEST(MessageChecks, Envelope) {
  const Json right = parsed(HANDSHAKE_RESULT);
  EXPECT_EQ(envelope_problem(right.get(), "sample"), "");
  EXPECT_EQ(handshake_result_problem(right.get()), "");
  struct Case {
    std::string line;
    std::string said;
  };
  const Case cases[] = {
      {R"({"extension_id":"sample","protocol_version":"1.0","type":"x"})",
       R"("request_id" is missing)"},
      {R"({"extension_id":"sample","protocol_version":1,"request_id":"r","type":"x"})",
       R"("protocol_version" is an integer, not a string)"},
      {R"({"extension_id":"sample","protocol_version":"1","request_id":"r","type":"x"})",
       R"("protocol_version" is "1", not "1.0")"},
      {R"({"extension_id":"other","protocol_version":"1.0","request_id":"r","type":"x"})",
       R"("extension_id" is "other", where the handshake's result said "sample")"},
  };
  for (const Case& each : cases) {
    const Json message = parsed(each.line + "\n");
    EXPECT_EQ(envelope_problem(message.get(), "sample"), each.said) << each.line;
  }
  const Json unversioned = parsed(
      R"({"extension_id":"s","protocol_version":"1.0","request_id":"handshake","type":"handshake_result"})"
      "\n");
  EXPECT_EQ(handshake_result_problem(unversioned.get()), R"("extension_version" is missing)");
}

TEST(MessageChecks, Descriptors) {
  const std::string descriptor =
      R"({"action":false,"cancel":false,"effect":"none","input":"Value","lazy":false,)"
      R"("maximum_arity":1,"minimum_arity":1,"name":"sample.echo","output":"Value",)"
      R"("sendable":true,"threading":"isolated_process"})";
  const auto registration = [](const std::string& callables) {
    return R"({"callables":)" + callables +
           R"(,"extension_id":"sample","protocol_version":"1.0","request_id":"register","type":"register"})"
           "\n";
  };
  std::vector<AnnouncedCallable> catalogue;
  const Json right = parsed(registration("[" + descriptor + "]"));
  EXPECT_EQ(register_problem(right.get(), &catalogue), "");
  ASSERT_EQ(catalogue.size(), 1U);
  EXPECT_EQ(catalogue[0].name, "sample.echo");

  const auto with = [&](const std::string& from, const std::string& to) {
    std::string changed = descriptor;
    changed.replace(changed.find(from), from.size(), to);
    return "[" + changed + "]";
  };
  struct Case {
    std::string callables;
    std::string said;
  };
  const Case cases[] = {
      {"{}", R"("callables" is an object, not an array)"},
      {"[1]", "callable 1 is an integer, not an object"},
      {with(R"("lazy":false,)", ""), R"(callable 1: "lazy" is missing)"},
      {with(R"("maximum_arity":1)", R"("maximum_arity":1.0)"),
       R"(callable 1: "maximum_arity" is a real, not an integer)"},
      {with(R"("minimum_arity":1)", R"("minimum_arity":2)"),
       R"(callable 1 (sample.echo): "minimum_arity" 2 and "maximum_arity" 1 are no range)"},
      {"[" + descriptor + "," + descriptor + "]",
       R"(callable 2 is named "sample.echo", as one before it)"},
  };
  for (const Case& each : cases) {
    catalogue.clear();
    const Json message = parsed(registration(each.callables));
    EXPECT_EQ(register_problem(message.get(), &catalogue), each.said) << each.callables;
  }
}

TEST(MessageChecks, Answers) {
  const Json result = parsed(
      R"({"extension_id":"s","protocol_version":"1.0","request_id":"c\"1","type":"call_result","value":null})"
      "\n");
  EXPECT_EQ(answer_problem(result.get(), "c\"1"), "");
  EXPECT_EQ(answer_problem(result.get(), "c\"1\xc3\xa9"),
            R"(it answers "request_id" "c\"1", where the call's was "c\"1\u00E9")");
  const Json valueless = parsed(
      R"({"extension_id":"s","protocol_version":"1.0","request_id":"c","type":"call_result"})"
      "\n");
  EXPECT_EQ(answer_problem(valueless.get(), "c"), R"(the "call_result" has no "value")");
  const Json error = parsed(
      R"({"code":"E","extension_id":"s","kind":"bad_thing","protocol_version":"1.0","request_id":"c","type":"error"})"
      "\n");
  EXPECT_EQ(answer_problem(error.get(), "c"), "");
  EXPECT_EQ(error_members_problem(error.get()), R"(the "error"'s "message" is missing)");
  EXPECT_EQ(error_kind_problem(error.get()), R"(the error's "kind" "bad_thing" is not UpperCamel)");
  EXPECT_EQ(error_members_problem(result.get()), "");
}

TEST(MessageChecks, CanonicalFormTellsWhereItParts) {
  const Json right = parsed(HANDSHAKE_RESULT);
  EXPECT_FALSE(canonical_problem(HANDSHAKE_RESULT, right.get()).found());
  struct Case {
    std::string line;
    std::size_t byte;
  };
  const Case cases[] = {
      {R"({"b":1,"a":2})", 3},      // keys out of order
      {R"({"a": 2})", 6},           // a space
      {R"({"a":"\u00e9"})", 11},    // a lower-case escape
      {"{\"a\":\"\xc3\xa9\"}", 7},  // not ASCII
      {R"({"a":0.1})", 9},          // a real in fewer digits
  };
  for (const Case& each : cases) {
    const Json message = parsed(each.line + "\n");
    const LineProblem problem = canonical_problem(each.line + "\n", message.get());
    EXPECT_TRUE(problem.found()) << each.line;
    EXPECT_EQ(problem.byte, each.byte) << each.line << ": " << problem.what;
  }
}

TEST(MessageChecks, CallableNames) {
  EXPECT_EQ(callable_name_problem("sample.echo", "sample"), "");
  EXPECT_EQ(callable_name_problem("sample.wait_2", "sample"), "");
  for (const char* name :
       {"echo", "sample.", "sample.Echo", "other.echo", "sample.echo-it", "sample.2echo"}) {
    EXPECT_NE(callable_name_problem(name, "sample"), "") << name;
  }
}

TEST(Markup, NoTextBreaksItsForm) {
  EXPECT_EQ(xml_escaped("<a & \"b\">"), "&lt;a &amp; &quot;b&quot;&gt;");
  EXPECT_EQ(markdown_cell("a|b\nc"), "a\\|b\\nc");
  EXPECT_EQ(markdown_code("x ``` y"), "````\nx ``` y\n````\n");
  EXPECT_EQ(markdown_code("plain\n"), "```\nplain\n```\n");
  EXPECT_EQ(tap_description("a # SKIP"), "a \\# SKIP");
  EXPECT_EQ(yaml_block("one\ntwo"), "|\n    one\n    two");
}

}  // namespace
