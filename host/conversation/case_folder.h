// Golden conversations on disk: one folder per case.
//
// A case folder holds:
//   input     the bytes written to the extension's standard input, which is then closed
//   output    the bytes the extension must write to standard output, exactly
//   status    the exit status it must end with, as a decimal number
//   args      optional: its command line after the program name, one argument per line
//             (default "--protocol" and "1"; an empty file means no arguments)
//   duration  optional: "MIN_MS MAX_MS", bounds on the time from start to exit
// Standard error must always stay empty.
#ifndef HOST_CONVERSATION_CASE_FOLDER_H_
#define HOST_CONVERSATION_CASE_FOLDER_H_

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct Conversation {
  std::string name;
  std::vector<std::string> arguments;
  std::string input;
  std::string output;
  int status = 0;
  std::optional<std::chrono::milliseconds> min_duration;
  std::optional<std::chrono::milliseconds> max_duration;
};

// Whether `folder` is one case (it has a "status" file) rather than a folder of cases.
bool is_conversation(const std::filesystem::path& folder);

// Reads the case in `folder`. On failure returns none and says why in `*error`.
std::optional<Conversation> load_conversation(const std::filesystem::path& folder,
                                              std::string* error);

// Writes `conversation` as a case folder that load_conversation reads back the same:
// input, output, status, args when they are not the default, duration when bounded.
// Creates the folder. On failure returns false and says why in `*error`.
bool write_conversation(const std::filesystem::path& folder, const Conversation& conversation,
                        std::string* error);

#endif  // HOST_CONVERSATION_CASE_FOLDER_H_
