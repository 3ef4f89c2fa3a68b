// Command-line helpers shared by the host's subcommands.
#ifndef HOST_COMMANDS_OPTIONS_H_
#define HOST_COMMANDS_OPTIONS_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct CommandLine {
  std::vector<std::string> options;  // everything before "--"
  std::vector<std::string> command;  // the extension and its arguments, after "--"
};

// Splits a subcommand's arguments at the first "--".
CommandLine split_command_line(const std::vector<std::string>& arguments);

// A whole number above zero, or none.
std::optional<long> parse_positive(const std::string& text);

// A size in bytes: a whole number above zero, with an optional suffix K, M or G (KiB, MiB,
// GiB); none for anything else.
std::optional<std::size_t> parse_size(const std::string& text);
// The problem with a bad value of a size option, in words.
std::string size_problem(const std::string& option);

// The folder of this host's executable (bin/ when installed), found through /proc; empty
// where it cannot be read.
std::filesystem::path host_folder();

// Prints `problem`, and where to read of `command`'s usage, on one line of standard error;
// returns the usage exit status, 2.
int usage_error(const std::string& command, const std::string& problem);

#endif  // HOST_COMMANDS_OPTIONS_H_
