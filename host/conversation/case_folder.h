// Golden conversations on disk: one folder per case.
//
// A case folder holds these files and no others:
//   input     the bytes written to the extension's standard input, which is then closed
//             (optional: none means an empty input)
//   output    the bytes the extension must write to standard output, exactly
//   status    the exit status it must end with, as a decimal number
//   args      optional: its command line after the program name, one argument per line
//             (default "--protocol" and "1"; an empty file means no arguments)
//   duration  optional: "MIN_MS MAX_MS", bounds on the time from start to exit
// Standard error must always stay empty.
//
// Case folders come from anyone (a pull request, a downloaded suite), so they are read
// as untrusted: only regular files, each up to a bound, and a folder that is not quite a
// case is a bad case that says why, never one passed over.
#ifndef HOST_CONVERSATION_CASE_FOLDER_H_
#define HOST_CONVERSATION_CASE_FOLDER_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
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

// The names a case folder may hold.
inline constexpr std::array<std::string_view, 5> CASE_FILES = {"input", "output", "status", "args",
                                                               "duration"};
// The largest case file read or written, unless an option says otherwise.
inline constexpr std::size_t DEFAULT_MAX_CASE_FILE = std::size_t{256} << 20U;

// Whether `folder` holds any entry named as a case's file other than a real folder: it is
// then one case, good or bad, rather than a folder of cases (a folder named "args" among
// them is a case).
bool holds_case_files(const std::filesystem::path& folder);

// Reads the case in `folder`, each file at most `max_file_bytes`; a link, the folder's or a
// file's, is followed only where it stays inside `within` (the folder being checked), so
// that a case cannot make the host read, and show, a file from elsewhere. On failure
// returns none and says why in `*error`, naming the file: one that is not a regular file
// (a link to a device, a FIFO), a link that leads out, one too large, one the format does
// not know, "status" or "output" missing, a status or duration that does not read.
std::optional<Conversation> load_conversation(const std::filesystem::path& folder,
                                              std::size_t max_file_bytes,
                                              const std::filesystem::path& within,
                                              std::string* error);

// Why `folder` may not be replaced by a new case: "" when it is a real folder (not a
// link) that holds only regular files named as a case's; otherwise the reason.
std::string not_a_case_folder(const std::filesystem::path& folder);

// Writes the files of `conversation` into the existing, empty `folder`, each synced to
// disk: input, output, status, args when they are not the default, duration when bounded.
// `skip_streams` leaves out input and output, for a writer that wrote them as they
// passed. On failure returns false and says why in `*error`.
bool write_case_files(const std::filesystem::path& folder, const Conversation& conversation,
                      bool skip_streams, std::string* error);

#endif  // HOST_CONVERSATION_CASE_FOLDER_H_
