// Reading case folders as untrusted input, and writing their files.
#include "conversation/case_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/visible.h"

namespace {

// Whether `path`, its links followed, lies inside `root`, its links followed.
bool stays_inside(const std::filesystem::path& path, const std::filesystem::path& root) {
  std::error_code failure;
  const std::filesystem::path resolved = std::filesystem::canonical(path, failure);
  if (failure) {
    return true;  // missing or unreadable: its reading says so
  }
  const std::filesystem::path base = std::filesystem::canonical(root, failure);
  if (failure) {
    return false;
  }
  const auto [left, _] = std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
  return left == base.end();
}

bool is_case_file_name(std::string_view name) {
  return std::find(CASE_FILES.begin(), CASE_FILES.end(), name) != CASE_FILES.end();
}

std::string kind_of(mode_t mode) {
  if (S_ISDIR(mode)) {
    return "a folder";
  }
  if (S_ISFIFO(mode)) {
    return "a FIFO";
  }
  if (S_ISCHR(mode) || S_ISBLK(mode)) {
    return "a device";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  return "not a regular file";
}

// All that is left to read from `fd`, when it is at most `limit` bytes: a file may change
// while it is read, and no more than the limit is taken whatever it becomes.
std::optional<std::string> read_bounded(int fd, std::size_t limit, const std::string& name,
                                        std::string* error) {
  std::string bytes;
  std::array<char, 65536> chunk{};
  for (;;) {
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      *error = "'" + name + "' cannot be read: " + std::strerror(errno);
      return std::nullopt;
    }
    if (got == 0) {
      return bytes;
    }
    if (bytes.size() + static_cast<std::size_t>(got) > limit) {
      *error = "'" + name + "' grew past the " + std::to_string(limit) +
               " bytes a case file may hold (--max-file-size)";
      return std::nullopt;
    }
    bytes.append(chunk.data(), static_cast<std::size_t>(got));
  }
}

// The bytes of the regular file `path`, at most `limit` of them. None when it is missing
// (`*missing` set) or cannot be read as a case file, with why in `*error`. Never blocks:
// a FIFO is opened without waiting for a writer, and refused.
std::optional<std::string> read_case_file(const std::filesystem::path& path, std::size_t limit,
                                          const std::filesystem::path& within, bool* missing,
                                          std::string* error) {
  const std::string name = visible(path.filename().string());
  *missing = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *missing = errno == ENOENT;
    *error = "'" + name + "' cannot be read: " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat status = {};
  std::optional<std::string> bytes;
  if (fstat(fd, &status) != 0) {
    *error = "'" + name + "' cannot be read: " + std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    *error = "'" + name + "' is " + kind_of(status.st_mode) + "; a case holds only regular files";
  } else if (!stays_inside(path, within)) {
    *error = "'" + name + "' is a link that leads out of the folder being checked";
  } else if (static_cast<std::uintmax_t>(status.st_size) > limit) {
    *error = "'" + name + "' is " + std::to_string(status.st_size) + " bytes, more than the " +
             std::to_string(limit) + " a case file may hold (--max-file-size)";
  } else {
    bytes = read_bounded(fd, limit, name, error);
  }
  close(fd);
  return bytes;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  return lines;
}

// A decimal number, alone but for white space around it.
std::optional<long long> parse_number(const char* text, const char** rest) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || errno != 0) {
    return std::nullopt;
  }
  *rest = end;
  return value;
}

bool only_blanks(const char* text) {
  return std::string_view(text).find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool write_synced(const std::filesystem::path& path, const std::string& bytes, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool written = fd >= 0;
  std::string_view left = bytes;
  while (written && !left.empty()) {
    const ssize_t put = write(fd, left.data(), left.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    written = put > 0;
    left.remove_prefix(written ? static_cast<std::size_t>(put) : 0);
  }
  written = written && fsync(fd) == 0;
  if (!written) {
    *error = "cannot write " + visible(path.string()) + ": " + std::strerror(errno);
  }
  if (fd >= 0) {
    close(fd);
  }
  return written;
}

}  // namespace

bool holds_case_files(const std::filesystem::path& folder) {
  std::error_code failure;
  for (const std::string_view name : CASE_FILES) {
    if (std::filesystem::exists(std::filesystem::symlink_status(folder / name, failure))) {
      return true;
    }
  }
  return false;
}

std::optional<Conversation> load_conversation(const std::filesystem::path& folder,
                                              std::size_t max_file_bytes,
                                              const std::filesystem::path& within,
                                              std::string* error) {
  Conversation conversation;
  conversation.name = folder.filename().string();
  if (!stays_inside(folder, within)) {
    *error = "the case folder is a link that leads out of the folder being checked";
    return std::nullopt;
  }
  std::error_code failure;
  std::filesystem::directory_iterator entries(folder, failure);
  if (failure) {
    *error = "the folder cannot be read: " + failure.message();
    return std::nullopt;
  }
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!is_case_file_name(name)) {
      *error = "it holds '" + visible(name) +
               "', which is no file of a case (input, output, status, args, duration)";
      return std::nullopt;
    }
  }
  bool missing = false;
  const auto read = [&](const char* name) {
    return read_case_file(folder / name, max_file_bytes, within, &missing, error);
  };

  const std::optional<std::string> status = read("status");
  if (!status) {
    if (missing) {
      *error = "it has no 'status' file";
    }
    return std::nullopt;
  }
  const char* rest = nullptr;
  const std::optional<long long> number = parse_number(status->c_str(), &rest);
  if (!number || !only_blanks(rest) || *number < 0 || *number > 255 ||
      status->find('\0') != std::string::npos) {
    *error = "'status' does not hold an exit status, a decimal number from 0 to 255";
    return std::nullopt;
  }
  conversation.status = static_cast<int>(*number);

  std::optional<std::string> output = read("output");
  if (!output) {
    if (missing) {
      *error = "it has no 'output' file";
    }
    return std::nullopt;
  }
  conversation.output = std::move(*output);

  if (std::optional<std::string> input = read("input")) {
    conversation.input = std::move(*input);
  } else if (!missing) {
    return std::nullopt;
  }

  if (const std::optional<std::string> arguments = read("args")) {
    conversation.arguments = split_lines(*arguments);
  } else if (!missing) {
    return std::nullopt;
  } else {
    conversation.arguments = {"--protocol", "1"};
  }

  if (const std::optional<std::string> duration = read("duration")) {
    const std::optional<long long> low = parse_number(duration->c_str(), &rest);
    const std::optional<long long> high = low ? parse_number(rest, &rest) : std::nullopt;
    if (!high || !only_blanks(rest) || *low < 0 || *low > *high ||
        duration->find('\0') != std::string::npos) {
      *error = "'duration' does not hold \"MIN_MS MAX_MS\"";
      return std::nullopt;
    }
    conversation.min_duration = std::chrono::milliseconds(*low);
    conversation.max_duration = std::chrono::milliseconds(*high);
  } else if (!missing) {
    return std::nullopt;
  }
  return conversation;
}

std::string not_a_case_folder(const std::filesystem::path& folder) {
  std::error_code failure;
  const std::filesystem::file_status status = std::filesystem::symlink_status(folder, failure);
  if (std::filesystem::is_symlink(status)) {
    return "it is a link";
  }
  if (!std::filesystem::is_directory(status)) {
    return "it is not a folder";
  }
  std::filesystem::directory_iterator entries(folder, failure);
  if (failure) {
    return "it cannot be read: " + failure.message();
  }
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!is_case_file_name(name)) {
      return "it holds '" + visible(name) + "', which is no file of a case";
    }
    if (!entry.is_regular_file(failure) || entry.is_symlink(failure)) {
      return "its '" + name + "' is not a regular file";
    }
  }
  return "";
}

bool write_case_files(const std::filesystem::path& folder, const Conversation& conversation,
                      bool skip_streams, std::string* error) {
  bool written = skip_streams || (write_synced(folder / "input", conversation.input, error) &&
                                  write_synced(folder / "output", conversation.output, error));
  written =
      written && write_synced(folder / "status", std::to_string(conversation.status) + "\n", error);
  if (written && conversation.arguments != std::vector<std::string>{"--protocol", "1"}) {
    std::string lines;
    for (const std::string& argument : conversation.arguments) {
      lines += argument + "\n";
    }
    written = write_synced(folder / "args", lines, error);
  }
  if (written && conversation.min_duration && conversation.max_duration) {
    written = write_synced(folder / "duration",
                           std::to_string(conversation.min_duration->count()) + " " +
                               std::to_string(conversation.max_duration->count()) + "\n",
                           error);
  }
  return written;
}
