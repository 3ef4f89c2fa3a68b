// Splitting and reading the host's command line.
#include "commands/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

CommandLine split_command_line(const std::vector<std::string>& arguments) {
  CommandLine line;
  const auto separator = std::find(arguments.begin(), arguments.end(), "--");
  line.options.assign(arguments.begin(), separator);
  if (separator != arguments.end()) {
    line.command.assign(separator + 1, arguments.end());
  }
  return line;
}

std::optional<long> parse_positive(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0) {
    return std::nullopt;
  }
  return value;
}

int usage_error(const char* help, const std::string& problem) {
  std::fprintf(stderr, "extension-host: %s\n\n%s", problem.c_str(), help);
  return 2;
}

std::filesystem::path host_folder() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
}
