// Walking /proc/PID/task/TID/children from the supervisor down, and reading each state.
#include "process/activity.h"

#include <dirent.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// A process holds at most this many descendants in view: the sandbox bounds them anyway.
constexpr std::size_t MAX_WALKED = 4096;

std::vector<pid_t> children_of(pid_t pid) {
  std::vector<pid_t> children;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* listing = opendir(tasks.c_str());
  if (listing == nullptr) {
    return children;
  }
  while (const dirent* task = readdir(listing)) {
    if (task->d_name[0] < '0' || task->d_name[0] > '9') {
      continue;
    }
    std::ifstream list(tasks + "/" + task->d_name + "/children");
    for (pid_t child = 0; list >> child;) {
      children.push_back(child);
    }
  }
  closedir(listing);
  return children;
}

// The state letter of /proc/PID/stat, after the command's closing parenthesis; ' ' when
// the process is gone.
char state_of(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t name_end = text.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= text.size() ? ' ' : text[name_end + 2];
}

}  // namespace

bool any_process_at_work(pid_t supervisor) {
  std::vector<pid_t> pending = children_of(supervisor);
  // None yet: the supervisor is still making the sandbox, which a busy machine can make
  // slow. Once the extension has started, its processes are seen until its output ends.
  if (pending.empty()) {
    return true;
  }
  for (std::size_t walked = 0; !pending.empty() && walked < MAX_WALKED; ++walked) {
    const pid_t pid = pending.back();
    pending.pop_back();
    const char state = state_of(pid);
    if (state == 'R' || state == 'D') {
      return true;
    }
    for (const pid_t child : children_of(pid)) {
      pending.push_back(child);
    }
  }
  return false;
}
