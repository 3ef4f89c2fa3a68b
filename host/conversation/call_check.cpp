// Names, arities and input types.
#include "conversation/call_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "base/json.h"
#include "text/visible.h"

namespace {

struct InputType {
  std::string_view word;
  bool (*fits)(const json_t* value);
  std::string_view described;
};

bool is_integer(const json_t* value) { return json_is_integer(value); }
bool is_number(const json_t* value) { return json_is_number(value); }
bool is_string(const json_t* value) { return json_is_string(value); }
bool is_boolean(const json_t* value) { return json_is_boolean(value); }
bool is_array(const json_t* value) { return json_is_array(value); }
bool is_object(const json_t* value) { return json_is_object(value); }

constexpr std::array<InputType, 6> KNOWN_INPUTS = {{
    {"Int", is_integer, "an integer"},
    {"Number", is_number, "a number"},
    {"String", is_string, "a string"},
    {"Bool", is_boolean, "true or false"},
    {"Array", is_array, "an array"},
    {"Object", is_object, "an object"},
}};

std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string lower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered;
}

std::string arguments_in_words(long long count) {
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

// Why `count` arguments are too few or too many for `callable`, or "".
std::string arity_problem(const AnnouncedCallable& callable, std::size_t count) {
  const auto given = static_cast<long long>(count);
  if (given >= callable.minimum_arity && given <= callable.maximum_arity) {
    return "";
  }
  const std::string takes =
      callable.minimum_arity == callable.maximum_arity
          ? (callable.minimum_arity == 0 ? std::string("no arguments")
                                         : arguments_in_words(callable.minimum_arity))
          : "from " + std::to_string(callable.minimum_arity) + " to " +
                arguments_in_words(callable.maximum_arity);
  return visible(callable.name) + " takes " + takes + ", not " + std::to_string(count);
}

// Why an argument is not of `callable`'s input type, where the host knows the type; "".
std::string input_problem(const AnnouncedCallable& callable, const json_t* arguments) {
  const auto* const known =
      std::find_if(KNOWN_INPUTS.begin(), KNOWN_INPUTS.end(),
                   [&](const InputType& type) { return type.word == callable.input; });
  if (known == KNOWN_INPUTS.end()) {
    return "";
  }
  for (std::size_t i = 0; i < json_array_size(arguments); ++i) {
    const json_t* argument = json_array_get(arguments, i);
    if (!known->fits(argument)) {
      char* text = json_dumps(argument, JSON_COMPACT | JSON_ENCODE_ANY);
      const std::string shown = text == nullptr ? "" : visible_prefix(text, 60);
      std::free(text);  // NOLINT(cppcoreguidelines-no-malloc): jansson's own allocation
      return visible(callable.name) + " takes " + std::string(known->word) + ": " +
             std::string(known->described) + ", not " + shown + " (" +
             std::string(json_kind(argument)) + ")";
    }
  }
  return "";
}

}  // namespace

bool announced(const std::string& name, const std::vector<AnnouncedCallable>& catalogue) {
  return std::any_of(catalogue.begin(), catalogue.end(),
                     [&](const AnnouncedCallable& callable) { return callable.name == name; });
}

std::optional<std::string> nearest_name(const std::string& name,
                                        const std::vector<AnnouncedCallable>& catalogue) {
  std::optional<std::string> nearest;
  std::size_t best = std::max<std::size_t>(2, name.size() / 4) + 1;
  for (const AnnouncedCallable& callable : catalogue) {
    const std::size_t dot = callable.name.find('.');
    const bool same_but_case = lower(callable.name) == lower(name);
    const bool verb_alone = dot != std::string::npos && callable.name.substr(dot + 1) == name;
    // Lengths that differ by the best distance or more cannot come nearer: an announced
    // name may be megabytes long, and is not compared letter by letter.
    const std::size_t length_apart =
        std::max(name.size(), callable.name.size()) - std::min(name.size(), callable.name.size());
    const std::size_t distance = same_but_case || verb_alone ? 0
                                 : length_apart >= best      ? best
                                                             : edit_distance(name, callable.name);
    if (distance < best) {
      best = distance;
      nearest = callable.name;
    }
  }
  return nearest;
}

std::string unfit_call(const Call& call, const std::vector<AnnouncedCallable>& catalogue) {
  const auto callable =
      std::find_if(catalogue.begin(), catalogue.end(),
                   [&](const AnnouncedCallable& each) { return each.name == call.callable; });
  if (callable == catalogue.end()) {
    const std::optional<std::string> nearest = nearest_name(call.callable, catalogue);
    return "the extension announced no callable named '" + visible(call.callable) + "'" +
           (nearest ? "; did you mean " + visible(*nearest) + "?" : "");
  }
  const json_t* arguments = call.arguments.get();
  if (std::string problem = arity_problem(*callable, json_array_size(arguments));
      !problem.empty()) {
    return problem;
  }
  return input_problem(*callable, arguments);
}
