// Command-line helpers shared by the host's subcommands.
#ifndef HOST_COMMANDS_OPTIONS_H_
#define HOST_COMMANDS_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
  std::vector<std::string> options;  // everything before "--"
  std::vector<std::string> command;  // the extension and its arguments, after "--"
};

// Splits a subcommand's arguments at the first "--".
CommandLine split_command_line(const std::vector<std::string>& arguments);

// The whole number `text` when it lies from `low` to `high`; otherwise none, and in
// `*problem` what `option` takes, with its range: "--jobs takes a whole number from 1 to
// 4096, not '0'".
std::optional<long long> parse_whole(const std::string& option, const std::string& text,
                                     long long low, long long high, std::string* problem);

// A number of seconds above zero and at most `high`, a fraction allowed ("1.5"); otherwise
// none, and what `option` takes in `*problem`.
std::optional<double> parse_seconds(const std::string& option, const std::string& text, double high,
                                    std::string* problem);

// A size in bytes: a whole number above zero, with an optional suffix K, M or G (KiB, MiB,
// GiB); otherwise none, and what `option` takes in `*problem`.
std::optional<std::size_t> parse_size(const std::string& option, const std::string& text,
                                      std::string* problem);

// Prints `problem`, and where to read of `command`'s usage, on one line of standard error;
// returns the usage exit status, 2.
int usage_error(const std::string& command, const std::string& problem);

#endif  // HOST_COMMANDS_OPTIONS_H_
