// Calls made up from a catalogue: each fits what it was made for, whatever the extension.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/json.h"
#include "conversation/examples.h"

namespace {

TEST(Examples, TheDemoCallsEachCallableWithArgumentsOfItsType) {
  const std::vector<AnnouncedCallable> catalogue = {
      {"units.none", 0, 0, "()"},        {"units.name", 1, 1, "String"},
      {"units.pair", 2, 3, "Int"},       {"units.maybe", 0, 2, "Bool"},
      {"units.many", 9, 9, "Number"},  // more than a demo shows: left out
      {"units.newer", 1, 1, "Duration"}, {"units.list", 1, 1, "Array"},
      {"units.map", 1, 1, "Object"},
  };
  const std::vector<Call> calls = demo_calls(catalogue);
  std::vector<std::string> shown;
  for (const Call& call : calls) {
    shown.push_back(call.callable + " " + encode_as_written(call.arguments.get()));
  }
  const std::vector<std::string> expected = {
      "units.none []",
      R"(units.name ["h\u00E9llo, \u4E16\u754C"])",
      "units.pair [300,300]",
      "units.maybe [true]",
      "units.newer [null]",
      R"(units.list [[1,"two",null]])",
      R"(units.map [{"a":1,"b":"two"}])",
  };
  EXPECT_EQ(shown, expected);
}

TEST(Examples, AHintShowsTheFirstCallableThatCanBeCalled) {
  EXPECT_EQ(example_call({{"sample.echo", 1, 1, "Value"}, {"sample.fail", 0, 0, "()"}}),
            R"(sample.echo ["hi"])");
  EXPECT_EQ(example_call({{"units.many", 20, 20, "Int"}, {"units.two", 2, 2, "Int"}}),
            "units.two [1,1]");
  // A name is the extension's bytes: shown, never obeyed.
  EXPECT_EQ(example_call({{"bad\x1b[2J", 0, 0, "()"}}), "bad\\x1b[2J []");
  EXPECT_EQ(example_call({}), "NAME JSON_ARRAY");
}

}  // namespace
