// Reading case folders as untrusted input, and writing their files.
#include "conversation/case_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/visible.h"

namespace {

// What exec takes: a word of at most 128 KiB with its NUL, and 2 MiB of words and their
// pointers in all (a quarter of the usual 8 MiB stack).
constexpr std::size_t ARG_WORD_LIMIT = std::size_t{128} << 10U;
constexpr std::size_t ARGS_LIMIT = std::size_t{2} << 20U;

// Opens `relative` beneath the folder `root`: a link is followed only where it stays
// beneath it, and what is checked afterwards is the descriptor, not the path again, so a
// file swapped for a link meanwhile cannot lead out. -1 with errno on failure; EXDEV
// when the path leads out.
int open_beneath(int root, const std::filesystem::path& relative, std::uint64_t flags) {
  open_how how = {};
  how.flags = flags | O_CLOEXEC | O_NOCTTY;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how));
}

// `path` relative to `root`, as given: "." for the root itself.
std::filesystem::path beneath(const std::filesystem::path& path,
                              const std::filesystem::path& root) {
  const auto normal = [](const std::filesystem::path& given) {
    std::filesystem::path plain = given.lexically_normal();
    return plain.has_filename() || !plain.has_relative_path() ? plain : plain.parent_path();
  };
  const std::filesystem::path relative = normal(path).lexically_relative(normal(root));
  return relative.empty() ? std::filesystem::path(".") : relative;
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

// The bytes of the regular file `name` of the case folder `folder` (relative to the
// open folder `root`), at most `limit` of them. None when it is missing (`*missing` set)
// or cannot be read as a case file, with why in `*error`. Never blocks: a FIFO is opened
// without waiting for a writer, and refused.
std::optional<std::string> read_case_file(int root, const std::filesystem::path& folder,
                                          const char* file, std::size_t limit, bool* missing,
                                          std::string* error) {
  const std::string name = visible_name(file);
  *missing = false;
  const int fd = open_beneath(root, folder / file, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    *missing = errno == ENOENT;
    *error = errno == EXDEV || errno == ELOOP
                 ? "'" + name + "' is a link that leads out of the folder being checked"
                 : "'" + name + "' cannot be read: " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat status = {};
  std::optional<std::string> bytes;
  if (fstat(fd, &status) != 0) {
    *error = "'" + name + "' cannot be read: " + std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    *error = "'" + name + "' is " + kind_of(status.st_mode) + "; a case holds only regular files";
  } else if (static_cast<std::uintmax_t>(status.st_size) > limit) {
    *error = "'" + name + "' is " + std::to_string(status.st_size) + " bytes, more than the " +
             std::to_string(limit) + " a case file may hold (--max-file-size)";
  } else {
    bytes = read_bounded(fd, limit, name, error);
  }
  close(fd);
  return bytes;
}

// Why the words of an args file cannot be an extension's command line, or "": exec takes
// no NUL inside a word, a word of at most ARG_WORD_LIMIT bytes, ARGS_LIMIT in all.
std::string unrunnable_arguments(const std::string& text, const std::vector<std::string>& words) {
  if (text.find('\0') != std::string::npos) {
    return "'args' holds a NUL byte, which no argument can hold";
  }
  std::size_t total = 0;
  for (const std::string& word : words) {
    if (word.size() + 1 > ARG_WORD_LIMIT) {
      return "'args' holds an argument of " + std::to_string(word.size()) +
             " bytes; a program takes at most " + std::to_string(ARG_WORD_LIMIT - 1);
    }
    total += word.size() + 1 + sizeof(char*);
  }
  if (total > ARGS_LIMIT) {
    return "'args' holds " + std::to_string(words.size()) + " arguments, " + std::to_string(total) +
           " bytes as exec counts them; a program takes at most " + std::to_string(ARGS_LIMIT);
  }
  return "";
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
    // A real folder named like a case file is a case of its own among others.
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(folder / name, failure);
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
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
  const int root = open(within.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    *error = std::string("the folder of cases cannot be read: ") + std::strerror(errno);
    return std::nullopt;
  }
  const std::filesystem::path relative = beneath(folder, within);
  const int listing_fd = open_beneath(root, relative, O_RDONLY | O_DIRECTORY);
  if (listing_fd < 0) {
    *error = errno == EXDEV || errno == ELOOP
                 ? "the case folder is a link that leads out of the folder being checked"
                 : std::string("the folder cannot be read: ") + std::strerror(errno);
    close(root);
    return std::nullopt;
  }
  DIR* listing = fdopendir(listing_fd);
  std::string stranger;
  while (const dirent* entry = listing == nullptr ? nullptr : readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && !is_case_file_name(name) && stranger.empty()) {
      stranger = name;
    }
  }
  if (listing != nullptr) {
    closedir(listing);
  } else {
    close(listing_fd);
  }
  if (!stranger.empty()) {
    close(root);
    *error = "it holds '" + visible_name(stranger) +
             "', which is no file of a case (input, output, status, args, duration)";
    return std::nullopt;
  }
  struct RootCloser {
    int fd;
    ~RootCloser() { close(fd); }
  } closer{root};
  bool missing = false;
  const auto read = [&](const char* name) {
    return read_case_file(root, relative, name, max_file_bytes, &missing, error);
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
    if (const std::string why = unrunnable_arguments(*arguments, conversation.arguments);
        !why.empty()) {
      *error = why;
      return std::nullopt;
    }
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
