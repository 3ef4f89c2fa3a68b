// Looking a program up the way execvp does, and telling why one cannot be run.
#include "process/program.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// execvp's search path when PATH is unset.
constexpr char DEFAULT_PATH[] = "/bin:/usr/bin";

// Why `path` cannot be run, or "" when it can.
std::string unrunnable(const std::string& path) {
  struct stat status = {};
  if (stat(path.c_str(), &status) != 0) {
    return errno == ENOENT ? "no such file" : std::strerror(errno);
  }
  if (S_ISDIR(status.st_mode)) {
    return "is a folder, not a program";
  }
  if (!S_ISREG(status.st_mode)) {
    return "is not a regular file";
  }
  if (access(path.c_str(), X_OK) != 0) {
    return "is not executable (" + std::string(std::strerror(errno)) + ")";
  }
  // The kernel refuses anything else with ENOEXEC; execvp would then hand the file to
  // /bin/sh, which runs text files and reports anything else in words on standard error.
  // A program that is neither is a mistake to name at once, not a run that fails.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  std::array<char, 4> magic{};
  const ssize_t got = read(fd, magic.data(), magic.size());
  close(fd);
  const std::string_view start(magic.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
  if (!start.starts_with("#!") && start !=
                                      "\x7f"
                                      "ELF") {
    return "is not a program: neither an ELF executable nor a script starting with #!";
  }
  return "";
}

}  // namespace

std::optional<std::string> find_program(const std::string& name, std::string* problem) {
  if (name.empty()) {
    *problem = "the extension's name is empty";
    return std::nullopt;
  }
  if (name.find('/') != std::string::npos) {
    const std::string why = unrunnable(name);
    if (!why.empty()) {
      *problem = name + ": " + why;
      return std::nullopt;
    }
    return name;
  }
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): read only
  std::string_view folders = path != nullptr ? path : DEFAULT_PATH;
  std::string first_problem;
  for (;;) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    // An empty entry is the current folder, as for execvp.
    const std::string candidate =
        (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
    const std::string why = unrunnable(candidate);
    if (why.empty()) {
      return candidate;
    }
    if (first_problem.empty() && why != "no such file") {
      first_problem = candidate;
      first_problem += ": ";
      first_problem += why;
    }
    if (colon == std::string_view::npos) {
      break;
    }
    folders.remove_prefix(colon + 1);
  }
  *problem = !first_problem.empty() ? first_problem : name + ": not found in PATH";
  return std::nullopt;
}
