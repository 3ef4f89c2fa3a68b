// Splitting and reading the host's command line.
#include "commands/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "text/visible.h"

namespace {

// A size with its suffix, in bytes; none when it does not read as one, and with
// `*too_large` set when it reads but is more bytes than a size can count.
std::optional<std::size_t> parse_size_text(const std::string& text, bool* too_large) {
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
  if (value > (std::numeric_limits<std::size_t>::max() >> shift)) {
    *too_large = true;  // shifted, it would wrap around, to 0 for 17179869184G
    return std::nullopt;
  }
  return value << shift;
}

}  // namespace

CommandLine split_command_line(const std::vector<std::string>& arguments) {
  CommandLine line;
  const auto separator = std::find(arguments.begin(), arguments.end(), "--");
  line.options.assign(arguments.begin(), separator);
  if (separator != arguments.end()) {
    line.command.assign(separator + 1, arguments.end());
  }
  return line;
}

std::optional<long long> parse_whole(const std::string& option, const std::string& text,
                                     long long low, long long high, std::string* problem) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high ||
      !(std::isdigit(static_cast<unsigned char>(text[0])) != 0 || text[0] == '-')) {
    *problem = option + " takes a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not '" + text + "'";
    return std::nullopt;
  }
  return value;
}

std::optional<double> parse_seconds(const std::string& option, const std::string& text, double high,
                                    std::string* problem) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value > 0) || value > high ||
      text.find_first_not_of("0123456789.") != std::string::npos) {
    *problem = option + " takes a number of seconds above 0 and at most " +
               std::to_string(static_cast<long long>(high)) + " (1.5 will do), not '" + text + "'";
    return std::nullopt;
  }
  return value;
}

std::optional<std::size_t> parse_size(const std::string& option, const std::string& text,
                                      std::string* problem) {
  bool too_large = false;
  const std::optional<std::size_t> size = parse_size_text(text, &too_large);
  if (too_large) {
    *problem = option + " " + text + " is too large: a size is at most " +
               std::to_string(std::numeric_limits<std::size_t>::max() >> 30U) + "G";
  } else if (!size) {
    *problem = option + " takes a size in bytes above 0, with K, M or G for KiB, MiB or GiB " +
               "(256M), not '" + text + "'";
  }
  return size;
}
int usage_error(const std::string& command, const std::string& problem) {
  std::fprintf(stderr, "extension-host %s: %s (see 'extension-host %s --help')\n", command.c_str(),
               visible(problem).c_str(), command.c_str());
  return 2;
}
