// Deciding the view: the system's folders and the hidden entries once per command, the
// program's and arguments' folders once per start, then all put in the order they are
// made.
#include "sandbox/view_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// The system's programs, libraries and configuration, and the kernel's view of devices.
constexpr std::array<const char*, 10> SYSTEM = {"/usr",   "/bin",    "/sbin", "/lib", "/lib32",
                                                "/lib64", "/libx32", "/etc",  "/opt", "/sys"};
constexpr char CONFIGURATION[] = "/etc";
// Bounds on the walk of the configuration: far above any machine's.
constexpr std::size_t MAX_CONFIGURATION_ENTRIES = 200000;
constexpr std::size_t MAX_HIDDEN = 256;
// The folder a version manager keeps its shims in; the manager's whole folder is shown
// with it, as a shim runs the manager, which runs the version chosen.
constexpr char SHIMS[] = "shims";
// How much of a program is read for its interpreter line.
constexpr std::size_t INTERPRETER_LINE = 256;

std::optional<ShownEntry> folder(const fs::path& path, ShownEntry::Kind kind) {
  std::error_code failed;
  const fs::path real = fs::canonical(path, failed);
  struct stat status = {};
  if (failed || stat(real.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return std::nullopt;
  }
  return ShownEntry{kind, real.string(), "", status.st_dev, status.st_ino};
}

// The folder a word names, or the folder of the file it names; none for a word that
// names nothing, for the root, which would show all, and for what lies in /dev or /proc,
// which the sandbox makes of its own (a terminal named on the command line stays out).
void add_named(const std::string& word, std::vector<ShownEntry>* entries) {
  if (word.empty() || word.find('\0') != std::string::npos) {
    return;
  }
  std::error_code failed;
  const fs::path real = fs::canonical(word, failed);
  if (failed || real == "/") {
    return;
  }
  const fs::path shown = fs::is_directory(real, failed) ? real : real.parent_path();
  if (shown == "/" || lies_within(shown.string(), "/dev") || lies_within(shown.string(), "/proc")) {
    return;
  }
  if (std::optional<ShownEntry> entry = folder(shown, ShownEntry::kReadOnly)) {
    entries->push_back(std::move(*entry));
  }
}

// A program's folder, as named and as its links lead; a version manager's folder where
// it is one of its shims.
void add_program_folders(const fs::path& program, std::vector<ShownEntry>* entries) {
  std::error_code failed;
  const fs::path named = fs::canonical(program.parent_path(), failed);
  if (!failed) {
    add_named(named.string(), entries);
    if (named.filename() == SHIMS) {
      add_named(named.parent_path().string(), entries);
    }
  }
  add_named(program.string(), entries);
}

// Where `name` is found on the host's PATH, which the extension gets too.
fs::path on_path(const std::string& name) {
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): read only
  std::string folders = path == nullptr ? "" : path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    if (!candidate.parent_path().empty() && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

// The interpreter a script names on its first line ("#!/usr/bin/env python3" names
// python3, as PATH finds it).
fs::path interpreter_of(const std::string& program) {
  std::ifstream file(program, std::ios::binary);
  std::array<char, INTERPRETER_LINE> line{};
  file.getline(line.data(), line.size());
  const std::string text(line.data());
  if (!text.starts_with("#!")) {
    return {};
  }
  std::vector<std::string> words;
  std::size_t at = 2;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t\r", at);
    if (start == std::string::npos) {
      break;
    }
    const std::size_t end = std::min(text.find_first_of(" \t\r", start), text.size());
    words.push_back(text.substr(start, end - start));
    at = end;
  }
  if (words.empty()) {
    return {};
  }
  if (fs::path(words[0]).filename() == "env") {
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (!words[i].starts_with("-") && words[i].find('=') == std::string::npos) {
        return on_path(words[i]);
      }
    }
    return {};
  }
  return words[0];
}

// The entries of the configuration that only their owner or group may read: a folder not
// open to all is hidden whole.
std::optional<std::vector<std::string>> private_configuration(std::string* problem) {
  std::vector<std::string> hidden;
  std::error_code failed;
  std::size_t seen = 0;
  fs::recursive_directory_iterator entry(CONFIGURATION,
                                         fs::directory_options::skip_permission_denied, failed);
  for (; !failed && entry != fs::recursive_directory_iterator(); entry.increment(failed)) {
    if (++seen > MAX_CONFIGURATION_ENTRIES) {
      *problem = std::string("the sandbox cannot look through ") + CONFIGURATION +
                 ": it holds more than " + std::to_string(MAX_CONFIGURATION_ENTRIES) + " entries";
      return std::nullopt;
    }
    struct stat status = {};
    if (lstat(entry->path().c_str(), &status) != 0 || S_ISLNK(status.st_mode)) {
      continue;
    }
    const bool open_to_all = S_ISDIR(status.st_mode)
                                 ? (status.st_mode & (S_IROTH | S_IXOTH)) == (S_IROTH | S_IXOTH)
                                 : (status.st_mode & S_IROTH) != 0;
    if (!open_to_all) {
      hidden.push_back(entry->path().string());
      if (S_ISDIR(status.st_mode)) {
        entry.disable_recursion_pending();
      }
    }
  }
  if (hidden.size() > MAX_HIDDEN) {
    *problem = std::string("the sandbox would hide more than ") + std::to_string(MAX_HIDDEN) +
               " entries of " + CONFIGURATION + " that only their owners may read";
    return std::nullopt;
  }
  return hidden;
}

// Parents first; a folder shown again within one already shown as well or better is left
// out, and a folder both writable and read-only is writable.
std::vector<ShownEntry> in_order(std::vector<ShownEntry> entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const ShownEntry& a, const ShownEntry& b) {
    if (a.path != b.path) {
      return a.path < b.path;
    }
    return a.kind == ShownEntry::kWritable && b.kind != ShownEntry::kWritable;
  });
  std::vector<ShownEntry> made;
  for (ShownEntry& entry : entries) {
    const bool is_folder =
        entry.kind == ShownEntry::kReadOnly || entry.kind == ShownEntry::kWritable;
    const bool covered =
        is_folder && std::any_of(made.begin(), made.end(), [&](const ShownEntry& a) {
          return (a.kind == ShownEntry::kWritable ||
                  (a.kind == ShownEntry::kReadOnly && entry.kind == ShownEntry::kReadOnly)) &&
                 lies_within(entry.path, a.path);
        });
    if (!covered) {
      made.push_back(std::move(entry));
    }
  }
  return made;
}

// `entries` with each folder shown read-only that holds a hidden entry replaced by the
// folder for listing and its entries one by one, the hidden left out; links within need
// no rule, as what they lead to is judged.
std::vector<ShownEntry> entry_by_entry(const std::vector<ShownEntry>& entries) {
  std::vector<std::string> hidden;
  for (const ShownEntry& entry : entries) {
    if (entry.kind == ShownEntry::kHidden) {
      hidden.push_back(entry.path);
    }
  }
  const auto holds_hidden = [&](const std::string& folder) {
    return std::any_of(hidden.begin(), hidden.end(), [&](const std::string& path) {
      return path != folder && lies_within(path, folder);
    });
  };
  std::vector<ShownEntry> split;
  std::vector<ShownEntry> pending;
  for (const ShownEntry& entry : entries) {
    if (entry.kind == ShownEntry::kHidden) {
      continue;
    }
    if (entry.kind != ShownEntry::kReadOnly || !holds_hidden(entry.path)) {
      split.push_back(entry);
      continue;
    }
    pending.push_back(entry);
    while (!pending.empty()) {
      ShownEntry folder_entry = std::move(pending.back());
      pending.pop_back();
      folder_entry.kind = ShownEntry::kListOnly;
      std::error_code failed;
      for (const fs::directory_entry& child : fs::directory_iterator(folder_entry.path, failed)) {
        struct stat status = {};
        const std::string path = child.path().string();
        if (lstat(path.c_str(), &status) != 0 || S_ISLNK(status.st_mode) ||
            std::find(hidden.begin(), hidden.end(), path) != hidden.end()) {
          continue;
        }
        ShownEntry shown{ShownEntry::kReadOnly, path, "", status.st_dev, status.st_ino};
        if (S_ISDIR(status.st_mode) && holds_hidden(path)) {
          pending.push_back(std::move(shown));
        } else {
          split.push_back(std::move(shown));
        }
      }
      split.push_back(std::move(folder_entry));
    }
  }
  return split;
}

}  // namespace

bool lies_within(const std::string& path, const std::string& folder) {
  return path == folder ||
         (path.starts_with(folder) && (folder == "/" || path[folder.size()] == '/'));
}

std::optional<ViewPlan> ViewPlan::make(const SandboxPolicy& policy, std::string* problem) {
  ViewPlan plan;
  for (const char* name : SYSTEM) {
    struct stat status = {};
    if (lstat(name, &status) != 0) {
      continue;
    }
    if (S_ISLNK(status.st_mode)) {
      std::error_code failed;
      const fs::path target = fs::read_symlink(name, failed);
      if (!failed) {
        plan.common_.push_back({ShownEntry::kLink, name, target.string(), 0, 0});
      }
    } else if (std::optional<ShownEntry> entry = folder(name, ShownEntry::kReadOnly)) {
      plan.common_.push_back(std::move(*entry));
    }
  }
  const std::optional<std::vector<std::string>> hidden = private_configuration(problem);
  if (!hidden) {
    return std::nullopt;
  }
  for (const std::string& path : *hidden) {
    plan.common_.push_back({ShownEntry::kHidden, path, "", 0, 0});
  }
  plan.hidden_count_ = hidden->size();
  std::error_code failed;
  const fs::path current = fs::current_path(failed);
  if (failed) {
    *problem = "the current folder cannot be found: " + failed.message();
    return std::nullopt;
  }
  plan.working_folder_ = current.string();
  if (current != "/") {
    add_named(current.string(), &plan.common_);
  }
  for (const auto& [grants, kind] : {std::pair{&policy.readable, ShownEntry::kReadOnly},
                                     std::pair{&policy.writable, ShownEntry::kWritable}}) {
    for (const std::string& granted : *grants) {
      std::optional<ShownEntry> entry = folder(granted, kind);
      if (!entry) {
        *problem = "the folder " + granted + " cannot be granted: it is no longer there";
        return std::nullopt;
      }
      plan.common_.push_back(std::move(*entry));
    }
  }
  for (const std::string& variable : policy.environment) {
    const std::size_t equals = variable.find('=');
    const char* value = equals == std::string::npos
                            ? std::getenv(variable.c_str())  // NOLINT(concurrency-mt-unsafe)
                            : variable.c_str() + equals + 1;
    if (value != nullptr && value[0] == '/') {
      add_named(value, &plan.common_);
    }
  }
  return plan;
}

std::vector<ShownEntry> ViewPlan::for_command(const std::string& program,
                                              const std::vector<std::string>& argv,
                                              bool entry_by_entry_for_landlock) const {
  std::vector<ShownEntry> entries = common_;
  add_program_folders(program, &entries);
  const fs::path interpreter = interpreter_of(program);
  if (!interpreter.empty()) {
    add_program_folders(interpreter, &entries);
  }
  for (std::size_t i = 1; i < argv.size(); ++i) {
    add_named(argv[i], &entries);
  }
  std::vector<ShownEntry> ordered = in_order(std::move(entries));
  return entry_by_entry_for_landlock ? entry_by_entry(ordered) : ordered;
}
