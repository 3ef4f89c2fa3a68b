// Splitting and reading the host's command line.
#include "commands/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "text/visible.h"

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

std::optional<std::size_t> parse_size(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    ++digits;
  }
  const std::string suffix = text.substr(digits);
  unsigned shift = 0;
  if (suffix == "K") {
    shift = 10;
  } else if (suffix == "M") {
    shift = 20;
  } else if (suffix == "G") {
    shift = 30;
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  if (digits == 0 || digits > 12) {
    return std::nullopt;
  }
  const std::size_t value = std::stoull(text.substr(0, digits));
  if (value == 0) {
    return std::nullopt;
  }
  return value << shift;
}

std::string size_problem(const std::string& option) {
  return option + " takes a size in bytes above zero, with K, M or G for KiB, MiB or GiB";
}

int usage_error(const std::string& command, const std::string& problem) {
  std::fprintf(stderr, "extension-host %s: %s (see 'extension-host %s --help')\n", command.c_str(),
               visible(problem).c_str(), command.c_str());
  return 2;
}

std::filesystem::path host_folder() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
}
