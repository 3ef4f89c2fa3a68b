// Escaping for the reports' formats.
#include "text/markup.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "text/visible.h"

std::string xml_escaped(const std::string& text, bool keep_line_feeds) {
  std::string escaped;
  for (const char character : keep_line_feeds ? visible_lines(text) : visible(text)) {
    switch (character) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += character;
    }
  }
  return escaped;
}

std::string yaml_quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char character : visible(text)) {
    if (character == '"' || character == '\\') {
      quoted += '\\';
    }
    quoted += character;
  }
  return quoted + "\"";
}

std::string yaml_block(const std::string& text) {
  std::string block = "|\n    ";
  for (const char character : visible_lines(text)) {
    block += character;
    if (character == '\n') {
      block += "    ";
    }
  }
  return block;
}

std::string tap_description(const std::string& name) {
  std::string description;
  for (const char character : visible_name(name)) {
    if (character == '#' || character == '\\') {
      description += '\\';
    }
    description += character;
  }
  return description;
}

std::string markdown_cell(const std::string& text) {
  std::string cell;
  for (const char character : visible(text)) {
    if (character == '|') {
      cell += '\\';
    }
    cell += character;
  }
  return cell;
}

std::string markdown_code(const std::string& text) {
  const std::string shown = visible_lines(text);
  std::size_t longest = 0;
  std::size_t run = 0;
  for (const char character : shown) {
    run = character == '`' ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  const std::string fence(std::max<std::size_t>(3, longest + 1), '`');
  return fence + "\n" + shown + (shown.ends_with('\n') ? "" : "\n") + fence + "\n";
}

std::string report_seconds(std::chrono::milliseconds elapsed) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.3f", static_cast<double>(elapsed.count()) / 1000.0);
  return text.data();
}
