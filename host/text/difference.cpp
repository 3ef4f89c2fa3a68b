// Showing where two outputs part.
#include "text/difference.h"

#include <algorithm>
#include <string_view>

#include "text/visible.h"

namespace {

constexpr std::size_t CONTEXT_BEFORE = 20;
constexpr std::size_t SHOWN_CONTEXT = 60;

// `offset` moved back to the start of the UTF-8 character it falls in, so that the
// context shown never begins with half a character.
std::size_t character_start(const std::string& text, std::size_t offset) {
  while (offset > 0 && offset < text.size() &&
         (static_cast<unsigned char>(text[offset]) & 0xC0U) == 0x80U) {
    --offset;
  }
  return offset;
}

}  // namespace

std::string first_difference(const std::string& expected, const std::string& actual,
                             std::size_t actual_total) {
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(expected.begin(), mismatch.first, '\n'));
  const std::size_t from = offset < CONTEXT_BEFORE ? 0 : offset - CONTEXT_BEFORE;
  const auto around = [&](const std::string& text) {
    const std::size_t start = character_start(text, std::min(from, text.size()));
    return visible_prefix(std::string_view(text).substr(start), SHOWN_CONTEXT);
  };
  std::string words = "output differs at byte " + std::to_string(offset) + " (line " +
                      std::to_string(line) + "): expected \"" + around(expected) + "\", got \"" +
                      around(actual) + "\"";
  if (expected.size() != actual_total) {
    words += " (" + std::to_string(expected.size()) + " bytes expected, " +
             std::to_string(actual_total) + " written)";
  }
  return words;
}
