// Plays every golden conversation of a folder against an extension and reports each case.
#include "check.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "conversation.h"
#include "options.h"

namespace {

constexpr char CHECK_HELP[] =
    "usage: extension-host check [--timeout-ms N] [DIR] -- EXTENSION [WORDS...]\n"
    "\n"
    "Plays golden conversations against EXTENSION and compares, byte for byte, what it\n"
    "writes to standard output, its exit status, and its silence on standard error.\n"
    "DIR is a folder of cases or a single case; by default the conversations that come\n"
    "with this host. Each case is a folder holding 'input', 'output', 'status', and\n"
    "optionally 'args' (one argument per line) and 'duration' (\"MIN_MS MAX_MS\").\n"
    "Words after EXTENSION come before each case's own arguments, so a wrapper can run\n"
    "the extension: -- valgrind -q --error-exitcode=99 ./sample-extension\n"
    "Prints one line per case, then 'N passed, M failed'. Exits 0 only if all pass.\n"
    "\n"
    "  --timeout-ms N   kill a case's extension after N ms (default 15000)\n"
    "  --no-durations   ignore the cases' duration bounds (for slow wrappers)\n"
    "\n"
    "example: extension-host check -- ./build/sample-extension\n";

// The conversations shipped with the host: installed beside it, or in its source tree.
std::filesystem::path default_conversations() {
  std::error_code ignored;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
  std::filesystem::path installed =
      self.parent_path().parent_path() / "share" / "sample-extension" / "conversations";
  if (!self.empty() && std::filesystem::is_directory(installed)) {
    return installed;
  }
  return SAMPLE_CONVERSATIONS_DIR;
}

std::vector<std::filesystem::path> cases_in(const std::filesystem::path& folder) {
  if (is_conversation(folder)) {
    return {folder};
  }
  std::vector<std::filesystem::path> cases;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_directory() && is_conversation(entry.path())) {
      cases.push_back(entry.path());
    }
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

}  // namespace

int check_command(const std::vector<std::string>& arguments) {
  CommandLine line = split_command_line(arguments);
  std::optional<long> timeout_ms = 15000;
  std::optional<std::string> folder;
  bool check_durations = true;
  for (std::size_t i = 0; i < line.options.size(); ++i) {
    const std::string& option = line.options[i];
    if (option == "--help" || option == "-h") {
      std::fputs(CHECK_HELP, stdout);
      return 0;
    }
    if (option == "--no-durations") {
      check_durations = false;
    } else if (option == "--timeout-ms" && i + 1 < line.options.size()) {
      timeout_ms = parse_positive(line.options[++i]);
    } else if (!option.starts_with("-") && !folder) {
      folder = option;
    } else {
      return usage_error(CHECK_HELP, "unexpected argument '" + option + "'");
    }
  }
  if (!timeout_ms) {
    return usage_error(CHECK_HELP, "--timeout-ms takes a positive number of milliseconds");
  }
  if (line.command.empty()) {
    return usage_error(CHECK_HELP, "name the extension executable after '--'");
  }
  const std::filesystem::path root =
      folder ? std::filesystem::path(*folder) : default_conversations();
  const std::vector<std::filesystem::path> cases = cases_in(root);
  if (cases.empty()) {
    std::fprintf(stderr, "extension-host: no conversations in %s\n", root.c_str());
    return 2;
  }
  int passed = 0;
  int failed = 0;
  for (const std::filesystem::path& path : cases) {
    std::string error;
    std::optional<Conversation> conversation = load_conversation(path, &error);
    if (!conversation) {
      std::printf("FAIL %s: %s\n", path.filename().c_str(), error.c_str());
      ++failed;
      continue;
    }
    if (!check_durations) {
      conversation->min_duration.reset();
      conversation->max_duration.reset();
    }
    const Verdict verdict =
        play(*conversation, line.command, std::chrono::milliseconds(*timeout_ms));
    if (verdict.passed) {
      std::printf("PASS %s (%lld ms)\n", conversation->name.c_str(),
                  static_cast<long long>(verdict.elapsed.count()));
      ++passed;
    } else {
      std::printf("FAIL %s: %s\n", conversation->name.c_str(), verdict.detail.c_str());
      ++failed;
    }
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
