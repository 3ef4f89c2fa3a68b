// Drawing conversations. Every choice comes from one small generator of our own, whose
// numbers, unlike those of the standard distributions, are the same in every library.
#include "differential/generator.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// SplitMix64: small, fast, and the same everywhere.
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27U)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31U);
  }
  // A number below `bound`. REQUIRES: bound > 0.
  std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
  // True `percent` times in a hundred.
  bool chance(std::size_t percent) { return below(100) < percent; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& choices) {
    return choices[below(N)];
  }

 private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 10> STRING_PIECES = {
    "a", "hello", "h\xc3\xa9llo",        "\xe4\xb8\x96\xe7\x95\x8c", "\xf0\x9f\x98\x80",
    " ", "\x7f",  R"(\n\t\"\\\/\b\f\r)", "\\u00e9\\u4E16",           "\\ud83d\\ude00"};
// Pieces no string may hold: the line is refused, and must be by both.
constexpr std::array<std::string_view, 6> BAD_STRING_PIECES = {
    "\\u0000", "\\ud800", "\x01", "\\x", "\xc3\x28", "\xed\xa0\x80"};
constexpr std::array<std::string_view, 18> NUMBERS = {"0",
                                                      "-0",
                                                      "1",
                                                      "-1",
                                                      "42",
                                                      "9223372036854775807",
                                                      "-9223372036854775808",
                                                      "9223372036854775808",
                                                      "-9223372036854775809",
                                                      "0.5",
                                                      "-0.0",
                                                      "1e-300",
                                                      "5e-324",
                                                      "1.7976931348623157e308",
                                                      "1e309",
                                                      "1E+2",
                                                      "123.456e-7",
                                                      "0.1"};
constexpr std::array<std::string_view, 6> KEYS = {"a", "b", "A", "\\u00e9", "z", "a b"};

// Characters whose order by byte (as the extension sorts keys) is not their order by
// UTF-16 code unit (as Java, JavaScript and C# compare strings): one beyond the Basic
// Multilingual Plane is a surrogate pair, below U+E000 in UTF-16 and above all of these
// in UTF-8. Each written escaped or as it is.
struct TrapKey {
  std::string_view escaped;
  std::string_view raw;
  bool astral;
};
constexpr std::array<TrapKey, 6> TRAP_KEYS = {{
    {"\\uE000", "\xee\x80\x80", false},
    {"\\uFFFF", "\xef\xbf\xbf", false},
    {"\\uFB01", "\xef\xac\x81", false},
    {"\\ud83d\\ude00", "\xf0\x9f\x98\x80", true},
    {"\\ud800\\udc00", "\xf0\x90\x80\x80", true},
    {"\\udbff\\udfff", "\xf4\x8f\xbf\xbf", true},
}};

std::string string_content(Draw& draw) {
  std::string content;
  const std::size_t pieces = draw.below(4);
  for (std::size_t i = 0; i < pieces; ++i) {
    content += draw.pick(STRING_PIECES);
  }
  if (draw.chance(8)) {
    content += draw.pick(BAD_STRING_PIECES);
  }
  return content;
}

JsonText value(Draw& draw, int depth);

JsonText object_value(Draw& draw, int depth) {
  JsonText object = JsonText::object();
  const std::size_t count = draw.below(4);
  for (std::size_t i = 0; i < count; ++i) {
    object.members.push_back(member(std::string(draw.pick(KEYS)), value(draw, depth + 1)));
  }
  // A duplicate key, at any depth: the line is refused.
  if (!object.members.empty() && draw.chance(4)) {
    object.members.emplace_back(object.members.front().first, value(draw, depth + 1));
  }
  return object;
}

// An object of two or three keys that sort otherwise by UTF-16 code unit than by byte: at
// least one beyond the Basic Multilingual Plane and one from U+E000 up, in any order.
JsonText trap_object(Draw& draw) {
  std::vector<std::size_t> chosen = {draw.below(3), 3 + draw.below(3)};
  if (draw.chance(50)) {
    const std::size_t third = draw.below(TRAP_KEYS.size());
    if (std::find(chosen.begin(), chosen.end(), third) == chosen.end()) {
      chosen.push_back(third);
    }
  }
  for (std::size_t i = chosen.size(); i > 1; --i) {
    std::swap(chosen[i - 1], chosen[draw.below(i)]);
  }
  JsonText object = JsonText::object();
  for (const std::size_t index : chosen) {
    const TrapKey& key = TRAP_KEYS[index];
    object.members.push_back(member(std::string(draw.chance(50) ? key.escaped : key.raw),
                                    JsonText::raw(std::to_string(index))));
  }
  return object;
}

// Arrays nested `levels` deep around a zero.
JsonText nested(std::size_t levels) {
  return JsonText::raw(std::string(levels, '[') + "0" + std::string(levels, ']'));
}

JsonText value(Draw& draw, int depth) {
  const std::size_t kind = draw.below(depth > 3 ? 6 : 11);
  switch (kind) {
    case 0:
      return JsonText::raw("null");
    case 1:
      return JsonText::raw(draw.chance(50) ? "true" : "false");
    case 2:
    case 3:
      return JsonText::raw(std::string(draw.pick(NUMBERS)));
    case 4:
    case 5:
      return JsonText::string(string_content(draw));
    case 6:
    case 7: {
      JsonText array = JsonText::array();
      const std::size_t count = draw.below(4);
      for (std::size_t i = 0; i < count; ++i) {
        array.items.push_back(value(draw, depth + 1));
      }
      return array;
    }
    case 8:
      return object_value(draw, depth);
    case 9:
      return trap_object(draw);
    default:
      // Near the parser's limit of 2,048 levels, two of which are the call's own.
      return draw.chance(90) ? value(draw, depth + 1) : nested(2040 + draw.below(10));
  }
}

// The part of a callable's name before its first dot, and the part after.
std::string_view prefix_of(std::string_view name) {
  const std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(0, dot);
}
std::string_view verb_of(std::string_view name) {
  const std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& character : result) {
    if (character >= 'a' && character <= 'z') {
      character = static_cast<char>(character - 'a' + 'A');
    }
  }
  return result;
}

// `text` with its first letter and each after a dot in upper case: "Sample.Echo".
std::string capitalised(std::string_view text) {
  std::string result(text);
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (i == 0 || result[i - 1] == '.') {
      result[i] = upper(result.substr(i, 1))[0];
    }
  }
  return result;
}

// Names a careless host gets wrong, made from the catalogue's: off by case, the verb
// alone, the identifier alone, a letter or two too many, another identifier.
std::vector<std::string> wrong_names(const Catalogue& catalogue) {
  std::vector<std::string> names;
  for (const AnnouncedCallable& callable : catalogue.callables) {
    names.push_back(callable.name);
  }
  if (names.empty()) {
    names.push_back(catalogue.extension_id + ".call");
  }
  const std::string& first = names[0];
  const std::string& second = names[1 % names.size()];
  const std::string& third = names[2 % names.size()];
  std::string case_of_verb(prefix_of(third));
  case_of_verb += '.';
  case_of_verb += capitalised(verb_of(third));
  std::string other = "other.";
  other += verb_of(first);
  return {capitalised(first),           upper(second), case_of_verb, std::string(verb_of(first)),
          catalogue.extension_id + ".", first + "es",  other,        second + "ure"};
}

// A wait that a right extension sleeps: mostly none, so that conversations stay quick; now
// and then up to 20 ms; rarely long enough to measure.
std::string right_wait(Draw& draw) {
  if (draw.chance(2)) {
    return std::to_string(50 + draw.below(251));
  }
  return std::to_string(draw.chance(70) ? 0 : draw.below(draw.chance(70) ? 4 : 21));
}

// Calls are drawn no wider than this many arguments past their least: a catalogue may say
// 1000.
constexpr long long WIDEST_ARITY_DRAWN = 16;

// A value of the type `input` names, mostly; now and then, and for a type not known here,
// any JSON at all.
JsonText value_of_type(Draw& draw, const std::string& input) {
  if (input == "Int") {
    // Integers stay small, as a callable may take one as a time to sleep.
    if (!draw.chance(10)) {
      return JsonText::raw(right_wait(draw));
    }
    // Wrong ones, refused before any sleep by the sample's wait: negative, one past its
    // limit, not whole, not numbers. (A value drawn at large could ask for a long wait.)
    constexpr std::array<std::string_view, 9> wrong = {
        "-1",   "5001", "1.0",   "\"5\"", "9223372036854775807", "9223372036854775808",
        "null", "[1]",  "5000.0"};
    return JsonText::raw(std::string(draw.pick(wrong)));
  }
  const bool typed = !draw.chance(10);
  if (typed && input == "String") {
    return JsonText::string(string_content(draw));
  }
  if (typed && input == "Number") {
    return JsonText::raw(std::string(draw.pick(NUMBERS)));
  }
  if (typed && input == "Bool") {
    return JsonText::raw(draw.chance(50) ? "true" : "false");
  }
  if (typed && input == "Object") {
    return object_value(draw, 2);
  }
  if (typed && input == "Array") {
    JsonText array = JsonText::array();
    for (std::size_t i = draw.below(4); i > 0; --i) {
      array.items.push_back(value(draw, 3));
    }
    return array;
  }
  return value(draw, 2);
}

// Arguments for `callable` (none: a callable not announced), mostly within its arity.
JsonText arguments_for(Draw& draw, const AnnouncedCallable* callable) {
  const long long least =
      callable == nullptr ? 0 : std::min(callable->minimum_arity, WIDEST_ARITY_DRAWN);
  const long long most =
      callable == nullptr ? 1
                          : std::clamp(callable->maximum_arity, least, least + WIDEST_ARITY_DRAWN);
  long long count = least;
  if (most > least) {
    count += static_cast<long long>(draw.below(static_cast<std::size_t>(most - least + 1)));
  }
  if (draw.chance(8)) {
    // The wrong arity, now and then: one too few, one or two too many, or none.
    switch (draw.below(3)) {
      case 0:
        count = least > 0 ? least - 1 : most + 1;
        break;
      case 1:
        count = most + 1;
        break;
      default:
        count = draw.chance(50) ? 0 : most + 2;
        break;
    }
  }
  const std::string input = callable == nullptr ? "Value" : callable->input;
  JsonText arguments = JsonText::array();
  for (long long i = 0; i < count; ++i) {
    arguments.items.push_back(value_of_type(draw, input));
  }
  return arguments;
}

JsonText call(Draw& draw, std::size_t number, const Catalogue& catalogue) {
  const AnnouncedCallable* callable =
      catalogue.callables.empty() ? nullptr
                                  : &catalogue.callables[draw.below(catalogue.callables.size())];
  JsonText message = JsonText::object();
  message.members.push_back(member("type", JsonText::string("call")));
  if (!draw.chance(6)) {
    message.members.push_back(
        member("request_id", draw.chance(95) ? JsonText::string("r" + std::to_string(number))
                                             : JsonText::raw(draw.chance(50) ? "7" : "null")));
  }
  if (!draw.chance(3)) {
    std::string name = callable == nullptr ? catalogue.extension_id + ".call" : callable->name;
    if (draw.chance(6)) {
      const std::vector<std::string> wrong = wrong_names(catalogue);
      name = wrong[draw.below(wrong.size())];
    }
    message.members.push_back(member(
        "callable", draw.chance(2) ? JsonText::raw("1") : JsonText::string(json_escaped(name))));
  }
  if (!draw.chance(3)) {
    message.members.push_back(
        member("arguments", draw.chance(95)
                                ? arguments_for(draw, callable)
                                : (draw.chance(50) ? JsonText::object() : JsonText::string("[]"))));
  }
  if (draw.chance(5)) {
    message.members.push_back(member("extra", value(draw, 2)));
  }
  // Keys in another order than the usual one, now and then.
  if (draw.chance(20) && message.members.size() > 1) {
    std::swap(message.members.front(), message.members.back());
  }
  return message;
}

// A call of the timed callable for the limit itself.
JsonText wait_of_the_limit(const Catalogue& catalogue, std::size_t number) {
  return JsonText::object(
      {member("type", JsonText::string("call")),
       member("request_id", JsonText::string("r" + std::to_string(number))),
       member("callable", JsonText::string(json_escaped(catalogue.timed_callable))),
       member("arguments", JsonText::array({JsonText::raw(std::to_string(WAIT_LIMIT_MS))}))});
}

JsonText handshake(Draw& draw) {
  JsonText message = JsonText::object({member("type", JsonText::string("handshake"))});
  if (draw.chance(20)) {
    message.members.push_back(member("protocol_version", JsonText::string("1.0")));
  }
  if (draw.chance(5)) {
    message.members.push_back(member("host", value(draw, 2)));
  }
  return message;
}

JsonText other_message(Draw& draw) {
  switch (draw.below(12)) {
    case 0:
      return JsonText::object({member("type", JsonText::string("shutdown"))});
    case 1:
      return handshake(draw);
    case 2:
      return JsonText::object({member("type", JsonText::string("Call"))});
    case 3:
      return JsonText::object({member("type", JsonText::raw(draw.chance(50) ? "3" : "null"))});
    case 4:
      return JsonText::object({member("request_id", JsonText::string("x"))});
    case 5:
      return JsonText::object();
    case 6:
      return JsonText::object({member("type", JsonText::string("shutdown")),
                               member("request_id", JsonText::string("s"))});
    case 7:
      // A top-level array, which the parser takes and the extension must refuse.
      return draw.chance(50)
                 ? JsonText::array()
                 : JsonText::array(
                       {JsonText::object({member("type", JsonText::string("shutdown"))})});
    case 8:
      return JsonText::raw(draw.chance(50) ? "\"shutdown\"" : "1");
    case 9:
      return JsonText::raw("null");
    case 10:
      return JsonText::object({member("type", JsonText::string("call_result"))});
    default:
      return JsonText::object({member("type", JsonText::string("SHUTDOWN"))});
  }
}

// The callable the longest lines call: one that takes a value or a string, as the
// sample's echo does, or else any; its answer is not what such a line tests.
std::string long_line_callable(const Catalogue& catalogue) {
  for (const AnnouncedCallable& callable : catalogue.callables) {
    if ((callable.input == "Value" || callable.input == "String") && callable.minimum_arity <= 1 &&
        callable.maximum_arity >= 1) {
      return callable.name;
    }
  }
  return catalogue.callables.empty() ? catalogue.extension_id + ".call"
                                     : catalogue.callables.front().name;
}

// A call whose line is exactly `length` bytes with its line feed.
GeneratedLine line_of_length(const Catalogue& catalogue, std::size_t length) {
  JsonText message = JsonText::object(
      {member("type", JsonText::string("call")), member("request_id", JsonText::string("big")),
       member("callable", JsonText::string(json_escaped(long_line_callable(catalogue)))),
       member("arguments", JsonText::array({JsonText::string("")}))});
  const std::size_t frame = message.render().size() + 1;
  message.members[3].second.items[0] = JsonText::string(std::string(length - frame, 'x'));
  return message_line(std::move(message));
}

GeneratedLine raw_line(std::string bytes) {
  return {std::nullopt, std::move(bytes), "", "\n", "", ""};
}

// Damages `line` in one of the ways a careless host does.
void damage(Draw& draw, GeneratedLine* line) {
  switch (draw.below(7)) {
    case 0:
      line->end = "\r\n";
      break;
    case 1:
      line->trailer = draw.chance(50) ? " \t " : "  ";
      break;
    case 2:
      line->trailer = "{}";  // two objects on one line
      break;
    case 3:
    case 4: {
      // A NUL byte or a byte that is no UTF-8 (a stray one, or an overlong form),
      // somewhere in the line.
      std::string text = line->render();
      text.pop_back();
      const std::size_t at = draw.below(text.size() + 1);
      const std::size_t which = draw.below(3);
      text.insert(at, which == 0 ? std::string(1, '\0') : which == 1 ? "\xff" : "\xc0\xaf");
      *line = raw_line(std::move(text));
      break;
    }
    case 5:
      // A NUL right after a complete object: a reader that stops at the NUL takes the line.
      line->trailer = std::string(1, '\0') + (draw.chance(50) ? "" : "garbage");
      break;
    default:
      *line = raw_line(draw.chance(50) ? "" : "not json");
      break;
  }
}

// JSON's white space, for the space between tokens: a CR among it is no line's end.
constexpr std::array<std::string_view, 4> SPACINGS = {" ", "\t", "\r", " \t\r "};
// Only short lines are spaced: the longest must keep its length.
constexpr std::size_t SPACED_LINES_BELOW = 4096;

// Command lines an extension must refuse: other versions, other words, none, one, three.
constexpr std::array<std::array<std::string_view, 3>, 10> WRONG_COMMAND_LINES = {{
    {"--protocol", "2", ""},
    {"--protocol", "1.0", ""},
    {"1", "--protocol", ""},
    {"--Protocol", "1", ""},
    {"--protocol", "", ""},
    {"", "", ""},
    {"--protocol", "", ""},
    {"--protocol", "1", "--verbose"},
    {"--protocol", "1", "1"},
    {"--protocol", "1", ""},
}};
// How many words of each line above are given.
constexpr std::array<std::size_t, 10> WRONG_COMMAND_LINE_WORDS = {2, 2, 2, 2, 2, 0, 1, 3, 3, 3};

}  // namespace

GeneratedLine message_line(JsonText message) { return {std::move(message), "", "", "\n", "", ""}; }

std::string GeneratedLine::render() const {
  return prefix + (message ? spacing + message->render(spacing) : raw) + trailer + end;
}

std::string GeneratedConversation::input() const {
  std::string bytes;
  for (const GeneratedLine& line : lines) {
    bytes += line.render();
  }
  return bytes;
}

std::vector<AskedWait> asked_waits(const GeneratedConversation& conversation) {
  std::vector<AskedWait> waits;
  if (conversation.timed_callable.empty()) {
    return waits;
  }
  const std::string timed = JsonText::string(json_escaped(conversation.timed_callable)).scalar;
  for (std::size_t index = 0; index < conversation.lines.size(); ++index) {
    const GeneratedLine& line = conversation.lines[index];
    if (!line.message || line.message->kind != JsonText::Kind::kObject) {
      continue;
    }
    bool waits_a_call = false;
    const JsonText* arguments = nullptr;
    const JsonText* request_id = nullptr;
    for (const auto& [key, value] : line.message->members) {
      waits_a_call = waits_a_call || (key == "\"callable\"" && value.scalar == timed);
      arguments = key == "\"arguments\"" ? &value : arguments;
      request_id = key == "\"request_id\"" ? &value : request_id;
    }
    if (!waits_a_call || arguments == nullptr || request_id == nullptr ||
        arguments->kind != JsonText::Kind::kArray || arguments->items.size() != 1 ||
        !request_id->scalar.starts_with("\"")) {
      continue;
    }
    const std::string& text = arguments->items[0].scalar;
    if (!text.empty() && text.size() <= 4 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
      const long long milliseconds = std::stoll(text);
      if (milliseconds <= WAIT_LIMIT_MS) {
        waits.push_back({request_id->scalar, milliseconds, index});
      }
    }
  }
  return waits;
}

GeneratedConversation with_longer_wait(GeneratedConversation conversation, long long milliseconds) {
  for (const AskedWait& wait : asked_waits(conversation)) {
    if (wait.milliseconds > 0) {
      if (wait.milliseconds < milliseconds) {
        for (auto& [key, value] : conversation.lines[wait.line].message->members) {
          if (key == "\"arguments\"") {
            value.items[0] = JsonText::raw(std::to_string(milliseconds));
          }
        }
      }
      break;
    }
  }
  return conversation;
}

long long asked_wait_ms(const GeneratedConversation& conversation) {
  long long total = 0;
  for (const AskedWait& wait : asked_waits(conversation)) {
    total += wait.milliseconds;
  }
  return total;
}

GeneratedConversation generate_conversation(const Catalogue& catalogue, std::uint64_t seed,
                                            std::uint64_t index) {
  Draw draw(seed * 0x100000001b3ULL ^ (index + 1) * 0x9e3779b97f4a7c15ULL);
  GeneratedConversation conversation;
  conversation.timed_callable = catalogue.timed_callable;
  conversation.arguments = {"--protocol", "1"};
  if (draw.chance(5)) {
    const std::size_t which = draw.below(WRONG_COMMAND_LINES.size());
    conversation.arguments.assign(WRONG_COMMAND_LINES[which].begin(),
                                  WRONG_COMMAND_LINES[which].begin() +
                                      static_cast<std::ptrdiff_t>(WRONG_COMMAND_LINE_WORDS[which]));
  }
  std::vector<GeneratedLine>& lines = conversation.lines;
  if (!draw.chance(3)) {
    lines.push_back(message_line(handshake(draw)));
  }
  const std::size_t messages = draw.below(7);
  for (std::size_t i = 0; i < messages; ++i) {
    if (draw.chance(1)) {
      // The longest line, or one byte more: rare, as each is a mebibyte.
      lines.push_back(line_of_length(catalogue, LONGEST_INPUT_LINE + draw.below(2)));
    } else {
      lines.push_back(
          message_line(draw.chance(90) ? call(draw, i + 1, catalogue) : other_message(draw)));
    }
  }
  // A wait of the limit itself, now and then: its five seconds are spent beside the other
  // conversations, not in front of them.
  if (draw.below(150) == 0 && !catalogue.timed_callable.empty()) {
    lines.push_back(message_line(wait_of_the_limit(catalogue, messages + 1)));
  }
  if (draw.chance(75)) {
    lines.push_back(message_line(JsonText::object({member("type", JsonText::string("shutdown"))})));
  }
  for (GeneratedLine& line : lines) {
    if (draw.chance(3)) {
      damage(draw, &line);
    }
  }
  // A byte-order mark, on the first line or on another.
  if (!lines.empty() && draw.chance(3)) {
    lines[draw.chance(70) ? 0 : draw.below(lines.size())].prefix = "\xef\xbb\xbf";
  }
  if (draw.chance(4)) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(draw.below(lines.size() + 1)),
                 raw_line(""));  // a blank line
  }
  if (!lines.empty() && draw.chance(5)) {
    lines.back().end = "";  // no final line feed
  }
  if (draw.chance(5) && !lines.empty()) {
    lines.resize(draw.below(lines.size()));  // the input ends early, anywhere
  }
  // Drawn last, so that the rest of a numbered conversation stays as it was without it.
  for (GeneratedLine& line : lines) {
    if (draw.chance(2) && line.message && line.message->render().size() < SPACED_LINES_BELOW) {
      line.spacing = draw.pick(SPACINGS);
    }
  }
  return conversation;
}
