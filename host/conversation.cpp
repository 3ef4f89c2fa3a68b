// Loading golden conversations and judging an extension against them.
#include "conversation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include "child_process.h"

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

std::string printable(const std::string& text, std::size_t limit) {
  std::string shown;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\\') {
      shown += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  if (text.size() > limit) {
    shown += "...";
  }
  return shown;
}

std::string first_difference(const std::string& expected, const std::string& actual) {
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(expected.begin(), mismatch.first, '\n'));
  const std::size_t context_start = offset < 20 ? 0 : offset - 20;
  std::ostringstream words;
  words << "output differs at byte " << offset << " (line " << line << "): expected \""
        << printable(expected.substr(std::min(context_start, expected.size())), 60) << "\", got \""
        << printable(actual.substr(std::min(context_start, actual.size())), 60) << "\"";
  if (expected.size() != actual.size()) {
    words << " (" << expected.size() << " bytes expected, " << actual.size() << " written)";
  }
  return words.str();
}

const char* failure_name(Failure failure) {
  switch (failure) {
    case Failure::kNone:
      return "passed";
    case Failure::kBadCase:
      return "bad case";
    case Failure::kCannotStart:
      return "cannot start";
    case Failure::kTimedOut:
      return "timed out";
    case Failure::kSignal:
      return "ended by a signal";
    case Failure::kOutputDiffers:
      return "output differs";
    case Failure::kExitStatus:
      return "exit status differs";
    case Failure::kStandardError:
      return "wrote to standard error";
    case Failure::kProcessLeft:
      return "left a process behind";
    case Failure::kDuration:
      return "duration out of bounds";
  }
  return "?";
}

namespace {

Verdict failed(Failure failure, const std::string& detail, std::chrono::milliseconds elapsed) {
  return {failure, std::string(failure_name(failure)) + ": " + detail, elapsed};
}

}  // namespace

Observed observe(const std::vector<std::string>& command, const std::vector<std::string>& arguments,
                 const std::string& input, std::chrono::milliseconds timeout) {
  Observed observed;
  std::vector<std::string> argv = command;
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + timeout;
  std::optional<ChildProcess> child = ChildProcess::start(argv, &observed.start_error);
  if (!child) {
    return observed;
  }
  observed.started = true;
  // The extension may end before it has read all its input (a violation ends it at once),
  // so a refused write is not a failure here; the output and the status tell.
  child->send(input, deadline);
  child->close_input();
  const bool in_time = child->read_to_end(deadline);
  observed.termination = child->wait(deadline);
  observed.timed_out = !in_time || observed.termination.killed_by_host;
  observed.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  observed.output = child->take_output();
  observed.error_bytes = child->error_output().total();
  observed.error_head = child->error_output().head();
  return observed;
}

Verdict play(const Conversation& conversation, const std::vector<std::string>& command,
             std::chrono::milliseconds timeout) {
  const Observed observed = observe(command, conversation.arguments, conversation.input, timeout);
  if (!observed.started) {
    return failed(Failure::kCannotStart, observed.start_error, {});
  }
  const Termination& termination = observed.termination;
  const std::string& output = observed.output;
  const auto elapsed = observed.elapsed;

  if (observed.timed_out) {
    return failed(Failure::kTimedOut,
                  "killed after " + std::to_string(timeout.count()) + " ms, having written " +
                      std::to_string(output.size()) + " bytes: \"" + printable(output, 200) + "\"",
                  elapsed);
  }
  if (termination.signaled) {
    return failed(Failure::kSignal, describe(termination), elapsed);
  }
  if (output != conversation.output) {
    Verdict verdict = failed(Failure::kOutputDiffers, "", elapsed);
    verdict.detail = first_difference(conversation.output, output);
    return verdict;
  }
  if (termination.code != conversation.status) {
    return failed(Failure::kExitStatus,
                  "expected " + std::to_string(conversation.status) + ", got " +
                      std::to_string(termination.code),
                  elapsed);
  }
  if (observed.error_bytes != 0) {
    return failed(Failure::kStandardError,
                  std::to_string(observed.error_bytes) + " bytes, starting \"" +
                      printable(observed.error_head, 200) + "\"",
                  elapsed);
  }
  if (termination.output_held_open) {
    return failed(Failure::kProcessLeft, describe(termination), elapsed);
  }
  if (conversation.min_duration && elapsed < *conversation.min_duration) {
    return failed(Failure::kDuration,
                  "ended after " + std::to_string(elapsed.count()) + " ms, expected at least " +
                      std::to_string(conversation.min_duration->count()),
                  elapsed);
  }
  if (conversation.max_duration && elapsed > *conversation.max_duration) {
    return failed(Failure::kDuration,
                  "ended after " + std::to_string(elapsed.count()) + " ms, expected at most " +
                      std::to_string(conversation.max_duration->count()),
                  elapsed);
  }
  return {Failure::kNone, "", elapsed};
}
