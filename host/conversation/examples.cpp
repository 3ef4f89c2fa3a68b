// Values for each type word a catalogue may declare, and calls made of them.
#include "conversation/examples.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "text/visible.h"

namespace {

// More arguments than this make no demo anyone would read.
constexpr long long MOST_ARGUMENTS_SHOWN = 8;

struct Example {
  std::string_view type;
  std::string_view shown;       // in the demo: each part of JSON it can hold
  std::string_view short_form;  // in a hint
};

// A type word missing here (a newer one) takes null, which any value is.
constexpr std::array<Example, 7> EXAMPLES = {{
    {"Value", R"({"greeting":"h\u00e9llo, \u4e16\u754c","nested":{"b":[1,2.5,null],"a":true}})",
     R"("hi")"},
    {"Int", "300", "1"},
    {"Number", "2.5", "2.5"},
    {"String", R"("h\u00e9llo, \u4e16\u754c")", R"("hi")"},
    {"Bool", "true", "true"},
    {"Array", R"([1,"two",null])", "[1]"},
    {"Object", R"({"a":1,"b":"two"})", R"({"a":1})"},
}};

// The text of the JSON array of a call of `callable`; none when it takes too many.
std::optional<std::string> arguments_of(const AnnouncedCallable& callable, bool in_short) {
  if (callable.minimum_arity > MOST_ARGUMENTS_SHOWN ||
      callable.maximum_arity < callable.minimum_arity) {
    return std::nullopt;
  }
  const long long count = callable.input == "()" ? 0
                                                 : std::min(std::max(callable.minimum_arity, 1LL),
                                                            callable.maximum_arity);
  std::string_view value = "null";
  for (const Example& example : EXAMPLES) {
    if (example.type == callable.input) {
      value = in_short ? example.short_form : example.shown;
    }
  }
  std::string text = "[";
  for (long long i = 0; i < count; ++i) {
    text += i == 0 ? "" : ",";
    text += value;
  }
  return text + "]";
}

}  // namespace

std::vector<Call> demo_calls(const std::vector<AnnouncedCallable>& catalogue) {
  std::vector<Call> calls;
  for (const AnnouncedCallable& callable : catalogue) {
    std::string problem;
    if (const std::optional<std::string> arguments = arguments_of(callable, false)) {
      if (std::optional<Call> call = parse_call(callable.name, *arguments, &problem)) {
        calls.push_back(std::move(*call));
      }
    }
  }
  return calls;
}

std::string example_call(const std::vector<AnnouncedCallable>& catalogue) {
  for (const AnnouncedCallable& callable : catalogue) {
    if (const std::optional<std::string> arguments = arguments_of(callable, true)) {
      return visible(callable.name) + " " + *arguments;
    }
  }
  return "NAME JSON_ARRAY";
}
