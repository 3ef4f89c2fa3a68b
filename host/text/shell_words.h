// A command line given as one option's value ("--reference 'node units.js'"), split into
// words as a shell splits them: blanks part words; single quotes keep everything; double
// quotes keep everything but a backslash before ", \, $, ` or a line feed; a backslash
// outside quotes keeps the next character. Nothing is expanded: "$HOME" and "*" stand as
// typed, since no shell runs.
#ifndef HOST_TEXT_SHELL_WORDS_H_
#define HOST_TEXT_SHELL_WORDS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The words of `line`. None, with why in `*problem`, when a quote is left open, a
// backslash ends the line, or there is no word at all.
std::optional<std::vector<std::string>> shell_words(std::string_view line, std::string* problem);

#endif  // HOST_TEXT_SHELL_WORDS_H_
