// JSON as written, not as parsed: a tree that keeps what a parser would lose or refuse —
// the order of members, duplicate keys, the exact text of numbers and escapes — so that
// generated lines say exactly what they mean to, and can be made simpler piece by piece.
#ifndef HOST_DIFFERENTIAL_JSON_TEXT_H_
#define HOST_DIFFERENTIAL_JSON_TEXT_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct JsonText {
  enum class Kind { kScalar, kArray, kObject };
  Kind kind = Kind::kScalar;
  // A scalar's whole text: null, true, 12, -0.5e3, "a\u00e9"; even one that is no JSON.
  std::string scalar;
  std::vector<JsonText> items;                            // an array's
  std::vector<std::pair<std::string, JsonText>> members;  // an object's: key text, value

  static JsonText raw(std::string text) { return {Kind::kScalar, std::move(text), {}, {}}; }
  // A JSON string holding `content` as it stands between the quotes (escapes kept).
  static JsonText string(const std::string& content) { return raw("\"" + content + "\""); }
  static JsonText array(std::vector<JsonText> items = {}) {
    return {Kind::kArray, "", std::move(items), {}};
  }
  static JsonText object(std::vector<std::pair<std::string, JsonText>> members = {}) {
    return {Kind::kObject, "", {}, std::move(members)};
  }

  // The text, keys written as given ("\"k\""), members in their order: compact, or with
  // `spacing` (JSON's white space) after each of { [ , : and before each of } ].
  [[nodiscard]] std::string render(std::string_view spacing = {}) const;
  // Members and items under this node, itself included.
  [[nodiscard]] std::size_t size() const;
};

// What stands between the quotes of a JSON string holding `text`: quotes, backslashes and
// control characters escaped, every other byte as it is.
std::string json_escaped(std::string_view text);

// An object's member of `key` (plain text, quoted here) set to `value`.
std::pair<std::string, JsonText> member(const std::string& key, JsonText value);

#endif  // HOST_DIFFERENTIAL_JSON_TEXT_H_
