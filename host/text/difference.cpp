// Showing where two outputs part.
#include "text/difference.h"

#include <algorithm>
#include <string_view>

#include "text/visible.h"

namespace {

constexpr std::size_t CONTEXT_BEFORE = 40;
constexpr std::size_t SHOWN_AFTER = 50;

bool is_follower(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

// `offset` moved back to the start of the UTF-8 character it falls in, so that the
// context shown never begins with half a character.
std::size_t character_start(std::string_view text, std::size_t offset) {
  while (offset > 0 && offset < text.size() && is_follower(text[offset])) {
    --offset;
  }
  return offset;
}

// How many characters `text` shows as: each of its code points one column.
std::size_t columns(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char byte) { return !is_follower(byte); }));
}

}  // namespace

std::string first_difference(const std::string& expected, const std::string& actual,
                             std::size_t actual_total, OutputSides sides) {
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  // A difference inside a character is shown from the character's start.
  const std::size_t offset =
      character_start(expected, static_cast<std::size_t>(mismatch.first - expected.begin()));
  const std::string_view common = std::string_view(expected).substr(0, offset);
  const std::size_t line_start =
      common.rfind('\n') == std::string_view::npos ? 0 : common.rfind('\n') + 1;
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(common.begin(), common.end(), '\n'));
  const std::size_t column = 1 + columns(common.substr(line_start));
  std::string words = "output differs at line " + std::to_string(line) + ", column " +
                      std::to_string(column) + " (byte " + std::to_string(offset) + ")";
  if (expected.size() != actual_total) {
    words += "; " + std::to_string(expected.size()) + " bytes " + sides.expected_count + ", " +
             std::to_string(actual_total) + " " + sides.actual_count;
  }
  // Both sides from the same byte before the difference, which they share.
  const std::size_t from = character_start(expected, offset - std::min(offset, CONTEXT_BEFORE));
  std::string before = from > 0 ? "..." : "";
  before += visible(std::string_view(expected).substr(from, offset - from));
  const auto after = [&](const std::string& text, std::size_t total) -> std::string {
    if (offset >= text.size()) {
      return offset >= total ? "(ends here)" : "";
    }
    return visible_prefix(std::string_view(text).substr(offset), SHOWN_AFTER);
  };
  const std::string expected_label = sides.expected_label;
  const std::string actual_label = sides.actual_label;
  const std::size_t width = std::max(expected_label.size(), actual_label.size()) + 2;
  // Each piece appended in turn: a literal put before a temporary string is an insert at
  // its front, which GCC 12 at -O3 misreads as an overlapping copy (-Wrestrict).
  const auto add_side = [&](const std::string& name, const std::string& text, std::size_t total) {
    words += "\n  ";
    words += name;
    words += ':';
    words.append(width - name.size() - 1, ' ');
    words += before;
    words += after(text, total);
  };
  add_side(expected_label, expected, expected.size());
  add_side(actual_label, actual, actual_total);
  words += '\n';
  words.append(2 + width + columns(before), ' ');
  words += '^';
  return words;
}
