// Reading and writing golden case folders.
#include "conversation/case_folder.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
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

bool write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace

bool write_conversation(const std::filesystem::path& folder, const Conversation& conversation,
                        std::string* error) {
  std::error_code failure;
  std::filesystem::create_directories(folder, failure);
  bool written = !failure && write_file(folder / "input", conversation.input) &&
                 write_file(folder / "output", conversation.output) &&
                 write_file(folder / "status", std::to_string(conversation.status) + "\n");
  if (written && conversation.arguments != std::vector<std::string>{"--protocol", "1"}) {
    std::string lines;
    for (const std::string& argument : conversation.arguments) {
      lines += argument + "\n";
    }
    written = write_file(folder / "args", lines);
  }
  if (written && conversation.min_duration && conversation.max_duration) {
    written = write_file(folder / "duration",
                         std::to_string(conversation.min_duration->count()) + " " +
                             std::to_string(conversation.max_duration->count()) + "\n");
  }
  if (!written) {
    *error = "cannot write the case " + folder.string() + ": " +
             (failure ? failure.message() : std::string("a write failed"));
  }
  return written;
}

bool is_conversation(const std::filesystem::path& folder) {
  return std::filesystem::is_regular_file(folder / "status");
}

std::optional<Conversation> load_conversation(const std::filesystem::path& folder,
                                              std::string* error) {
  Conversation conversation;
  conversation.name = folder.filename().string();
  const std::optional<std::string> status = read_file(folder / "status");
  const char* rest = nullptr;
  const std::optional<long long> number =
      status ? parse_number(status->c_str(), &rest) : std::nullopt;
  if (!number || !only_blanks(rest) || *number < 0 || *number > 255) {
    *error = (folder / "status").string() + ": expected an exit status, a decimal number";
    return std::nullopt;
  }
  conversation.status = static_cast<int>(*number);
  conversation.input = read_file(folder / "input").value_or("");
  conversation.output = read_file(folder / "output").value_or("");
  const std::optional<std::string> arguments = read_file(folder / "args");
  conversation.arguments =
      arguments ? split_lines(*arguments) : std::vector<std::string>{"--protocol", "1"};
  if (const std::optional<std::string> duration = read_file(folder / "duration")) {
    const std::optional<long long> low = parse_number(duration->c_str(), &rest);
    const std::optional<long long> high = low ? parse_number(rest, &rest) : std::nullopt;
    if (!high || !only_blanks(rest) || *low < 0 || *low > *high) {
      *error = (folder / "duration").string() + ": expected \"MIN_MS MAX_MS\"";
      return std::nullopt;
    }
    conversation.min_duration = std::chrono::milliseconds(*low);
    conversation.max_duration = std::chrono::milliseconds(*high);
  }
  return conversation;
}
