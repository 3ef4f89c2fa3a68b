// The extension's command line: one convention for all four commands.
//
// After "--" comes the extension's command line as it is run for the protocol, a wrapper
// before it if you like:
//   extension-host run -- ./ext --protocol 1
//   extension-host check -- valgrind -q ./ext --protocol 1
// run and record run it as given. check and compare play cases that carry their own
// arguments: those take the place of the protocol's "--protocol 1" at its end, or are
// added at the end when it was left out, so "-- ./ext" works there too. Anything else
// about the protocol's arguments in the words check and compare are given is refused,
// with what to type; and the program it names must exist and be runnable before any
// work starts.
#ifndef HOST_COMMANDS_EXTENSION_LINE_H_
#define HOST_COMMANDS_EXTENSION_LINE_H_

#include <optional>
#include <string>
#include <vector>

// The protocol's own arguments, which an extension is run with.
extern const std::vector<std::string> PROTOCOL_ARGUMENTS;

// Whether `words` end in the protocol's arguments.
bool ends_in_protocol_arguments(const std::vector<std::string>& words);

// The usual form of `words`: what comes before any "--protocol" of their own (after the
// program), then "--protocol 1". REQUIRES: !words.empty().
std::vector<std::string> usual_form(const std::vector<std::string>& words);

// The words before each case's own arguments, for check and compare: `words` without a
// final "--protocol 1". None, with the line to print in `*problem`, when what is left
// still says something of the protocol's arguments ("--protocol 2", a lone "--protocol"),
// which each case gives for itself.
std::optional<std::vector<std::string>> words_before_case_arguments(
    const std::vector<std::string>& words, const std::string& command, std::string* problem);

// The arguments a recorded case carries so that check, given the same `words`, runs the
// same command line: from the first "--protocol" after the program to the end, or none
// when there is no "--protocol" (check then adds nothing to the words it is given).
// REQUIRES: !words.empty().
std::vector<std::string> case_arguments(const std::vector<std::string>& words);

// Whether the program `words` start with can be run; if not, says why in `*problem`.
// REQUIRES: !words.empty().
bool program_runs(const std::vector<std::string>& words, std::string* problem);

#endif  // HOST_COMMANDS_EXTENSION_LINE_H_
