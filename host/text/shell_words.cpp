// Splitting one option's value into a command line's words, as a shell would.
#include "text/shell_words.h"

namespace {

bool is_blank(char byte) { return byte == ' ' || byte == '\t' || byte == '\n'; }

// What a backslash keeps its meaning before, inside double quotes.
bool escapable_in_double_quotes(char byte) {
  return byte == '"' || byte == '\\' || byte == '$' || byte == '`' || byte == '\n';
}

}  // namespace

std::optional<std::vector<std::string>> shell_words(std::string_view line, std::string* problem) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;  // an empty pair of quotes is a word too
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char byte = line[i];
    if (is_blank(byte)) {
      if (in_word) {
        words.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
      continue;
    }
    in_word = true;
    if (byte == '\\') {
      if (++i == line.size()) {
        *problem = "it ends in a backslash, which escapes nothing";
        return std::nullopt;
      }
      // A backslash before a line feed joins the lines, as in a shell.
      if (line[i] != '\n') {
        word += line[i];
      }
    } else if (byte == '\'') {
      const std::size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) {
        *problem = "a single quote is left open";
        return std::nullopt;
      }
      word.append(line.substr(i + 1, close - i - 1));
      i = close;
    } else if (byte == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && escapable_in_double_quotes(line[i + 1])) {
          ++i;
          if (line[i] == '\n') {
            continue;
          }
        }
        word += line[i];
      }
      if (i == line.size()) {
        *problem = "a double quote is left open";
        return std::nullopt;
      }
    } else {
      word += byte;
    }
  }
  if (in_word) {
    words.push_back(std::move(word));
  }
  if (words.empty()) {
    *problem = "it holds no word";
    return std::nullopt;
  }
  return words;
}
