// Walking /proc/PID/task/TID/children from the supervisor down, and reading each state.
#include "process/activity.h"

#include <dirent.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// A process holds at most this many descendants in view: the sandbox bounds them anyway.
constexpr std::size_t MAX_WALKED = 4096;

// The state letter of a /proc stat file, after the command's closing parenthesis; ' ' when
// the thread is gone.
char state_in(const std::string& stat_path) {
  std::ifstream stat(stat_path);
  std::string text;
  std::getline(stat, text);
  const std::size_t name_end = text.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= text.size() ? ' ' : text[name_end + 2];
}

// Reads every thread of `pid`: true when one of them runs, is ready to run, or waits on
// the disk; else adds the children each started to `*children`. Every thread counts, not
// the process's first alone: a wrapper's main thread may sleep on its input while another,
// ready to run, has yet to pass an answer on.
bool any_thread_at_work(pid_t pid, std::vector<pid_t>* children) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* listing = opendir(tasks.c_str());
  if (listing == nullptr) {
    return false;
  }
  bool at_work = false;
  while (const dirent* task = readdir(listing)) {
    if (task->d_name[0] < '0' || task->d_name[0] > '9') {
      continue;
    }
    const std::string folder = tasks + "/" + task->d_name;
    const char state = state_in(folder + "/stat");
    if (state == 'R' || state == 'D') {
      at_work = true;
      break;
    }
    std::ifstream list(folder + "/children");
    for (pid_t child = 0; list >> child;) {
      children->push_back(child);
    }
  }
  closedir(listing);
  return at_work;
}

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

}  // namespace

bool any_process_at_work(pid_t supervisor) {
  // The supervisor's own state says nothing of the extension's: only its children count.
  std::vector<pid_t> pending = children_of(supervisor);
  // None yet: the supervisor is still making the sandbox, which a busy machine can make
  // slow. Once the extension has started, its processes are seen until its output ends.
  if (pending.empty()) {
    return true;
  }
  for (std::size_t walked = 0; !pending.empty() && walked < MAX_WALKED; ++walked) {
    const pid_t pid = pending.back();
    pending.pop_back();
    if (any_thread_at_work(pid, &pending)) {
      return true;
    }
  }
  return false;
}
