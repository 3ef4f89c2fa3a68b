// Showing where two outputs part.
#include "text/difference.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

std::string printable(const std::string& text, std::size_t limit) {
  std::string shown;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\\') {
      shown += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  if (text.size() > limit) {
    shown += "...";
  }
  return shown;
}

std::string first_difference(const std::string& expected, const std::string& actual) {
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(expected.begin(), mismatch.first, '\n'));
  const std::size_t context_start = offset < 20 ? 0 : offset - 20;
  std::ostringstream words;
  words << "output differs at byte " << offset << " (line " << line << "): expected \""
        << printable(expected.substr(std::min(context_start, expected.size())), 60) << "\", got \""
        << printable(actual.substr(std::min(context_start, actual.size())), 60) << "\"";
  if (expected.size() != actual.size()) {
    words << " (" << expected.size() << " bytes expected, " << actual.size() << " written)";
  }
  return words.str();
}
