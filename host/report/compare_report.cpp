// Showing generated conversations.
#include "report/compare_report.h"

#include <algorithm>
#include <string_view>

#include "text/visible.h"

namespace {

constexpr std::size_t SHOWN_LINE = 300;

// How deep the brackets of JSON text nest, outside its strings.
std::size_t nesting_depth(std::string_view text) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char character : text) {
    if (in_string) {
      escaped = !escaped && character == '\\';
      in_string = escaped || character != '"';
      continue;
    }
    if (character == '"') {
      in_string = true;
    } else if (character == '[' || character == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((character == ']' || character == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

std::string conversation_for_people(const GeneratedConversation& conversation) {
  std::string text = "command line: ";
  text += conversation.arguments.empty() ? "(no arguments)" : shell_quoted(conversation.arguments);
  text += "\n";
  if (conversation.lines.empty()) {
    text += "  (no input at all)\n";
  }
  for (std::size_t i = 0; i < conversation.lines.size(); ++i) {
    const std::string line = conversation.lines[i].render();
    bool cut = false;
    std::string shown = visible_prefix(line, SHOWN_LINE, &cut);
    if (cut) {
      shown += " (" + std::to_string(line.size()) + " bytes, nested " +
               std::to_string(nesting_depth(line)) + " deep)";
    }
    text += "  " + std::to_string(i + 1) + ": " + shown + "\n";
  }
  return text;
}
