// Finding the cgroup hierarchies, and making and removing an extension's groups.
#include "sandbox/control_groups.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace {

constexpr char GROUP_PREFIX[] = "extension-host.";
// An emptied group may still count a process that has just ended: rmdir is tried again
// for a moment.
constexpr int REMOVE_ATTEMPTS = 100;
constexpr std::chrono::milliseconds REMOVE_PAUSE{2};

std::atomic<unsigned long> groups_made{0};

struct Mount {
  std::string root;   // the hierarchy's folder mounted there
  std::string point;  // where it is mounted
};

struct Hierarchies {
  std::optional<Mount> unified;
  std::optional<Mount> processes_v1;
  std::optional<Mount> memory_v1;
};

bool holds_word(const std::string& list, const std::string& word, char separator) {
  std::stringstream words(list);
  std::string each;
  while (std::getline(words, each, separator)) {
    if (each == word) {
      return true;
    }
  }
  return false;
}

Hierarchies mounted_hierarchies() {
  Hierarchies found;
  std::ifstream mountinfo("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mountinfo, line)) {
    std::istringstream fields(line);
    std::string id;
    std::string parent;
    std::string device;
    Mount mount;
    fields >> id >> parent >> device >> mount.root >> mount.point;
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string type;
    std::string source;
    std::string options;
    fields >> type >> source >> options;
    if (type == "cgroup2" && !found.unified) {
      found.unified = mount;
    } else if (type == "cgroup" && holds_word(options, "pids", ',') && !found.processes_v1) {
      found.processes_v1 = mount;
    } else if (type == "cgroup" && holds_word(options, "memory", ',') && !found.memory_v1) {
      found.memory_v1 = mount;
    }
  }
  return found;
}

// This process's group in each hierarchy: "0" for the unified one, else the controller.
std::string own_group(const std::string& controller) {
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
      continue;
    }
    const std::string controllers = line.substr(first + 1, second - first - 1);
    if ((controller.empty() && line.substr(0, first) == "0" && controllers.empty()) ||
        (!controller.empty() && holds_word(controllers, controller, ','))) {
      return line.substr(second + 1);
    }
  }
  return "";
}

std::string folder_of(const Mount& mount, const std::string& group) {
  std::string relative = group;
  if (mount.root != "/" && relative.starts_with(mount.root)) {
    relative.erase(0, mount.root.size());
  }
  return mount.point + (relative == "/" ? "" : relative);
}

std::string read_small_file(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

bool write_small_file(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

// In the unified hierarchy, the deepest folder from the host's own group up that hands
// `controller` down to the groups made in it.
std::string unified_folder_for(const Mount& mount, const std::string& controller) {
  std::string folder = folder_of(mount, own_group(""));
  for (;;) {
    if (holds_word(read_small_file(folder + "/cgroup.subtree_control"), controller, ' ')) {
      return folder;
    }
    if (folder.size() <= mount.point.size()) {
      return "";
    }
    folder.erase(folder.rfind('/'));
  }
}

bool writable_folder(const std::string& folder) {
  return !folder.empty() && access(folder.c_str(), W_OK) == 0;
}

// Removes the groups that hosts no longer running left in `folder`.
void sweep(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) {
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (!name.starts_with(GROUP_PREFIX)) {
      continue;
    }
    const long owner = std::strtol(name.c_str() + std::strlen(GROUP_PREFIX), nullptr, 10);
    if (owner > 0 && kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH) {
      std::string group = folder;
      group += "/";
      group += name;
      rmdir(group.c_str());
    }
  }
  closedir(listing);
}

}  // namespace

ExtensionGroups::ExtensionGroups(ExtensionGroups&& other) noexcept
    : folders_(std::exchange(other.folders_, {})), joining_(std::exchange(other.joining_, {})) {}

ExtensionGroups& ExtensionGroups::operator=(ExtensionGroups&& other) noexcept {
  if (this != &other) {
    close_joining();
    remove();
    folders_ = std::exchange(other.folders_, {});
    joining_ = std::exchange(other.joining_, {});
  }
  return *this;
}

ExtensionGroups::~ExtensionGroups() {
  close_joining();
  remove();
}

void ExtensionGroups::close_joining() {
  for (const int fd : joining_) {
    close(fd);
  }
  joining_.clear();
}

void ExtensionGroups::remove() {
  for (const std::string& folder : folders_) {
    for (int attempt = 0; attempt < REMOVE_ATTEMPTS; ++attempt) {
      if (rmdir(folder.c_str()) == 0 || errno != EBUSY) {
        break;
      }
      std::this_thread::sleep_for(REMOVE_PAUSE);
    }
  }
  folders_.clear();
}

ControlGroups ControlGroups::find() {
  ControlGroups groups;
  const Hierarchies hierarchies = mounted_hierarchies();
  if (hierarchies.processes_v1) {
    groups.processes_ = folder_of(*hierarchies.processes_v1, own_group("pids"));
  } else if (hierarchies.unified) {
    groups.processes_ = unified_folder_for(*hierarchies.unified, "pids");
  }
  if (hierarchies.memory_v1) {
    groups.memory_ = folder_of(*hierarchies.memory_v1, own_group("memory"));
  } else if (hierarchies.unified) {
    groups.memory_ = unified_folder_for(*hierarchies.unified, "memory");
    groups.memory_v2_ = true;
  }
  for (std::string* folder : {&groups.processes_, &groups.memory_}) {
    if (!writable_folder(*folder)) {
      folder->clear();
    } else {
      sweep(*folder);
    }
  }
  return groups;
}

std::optional<ExtensionGroups> ControlGroups::make(long max_processes, std::size_t max_memory,
                                                   std::string* problem) const {
  ExtensionGroups made;
  const std::string name =
      GROUP_PREFIX + std::to_string(getpid()) + "." + std::to_string(groups_made.fetch_add(1));
  const auto make_group = [&](const std::string& parent) -> std::string {
    std::string folder = parent + "/" + name;
    if (std::find(made.folders_.begin(), made.folders_.end(), folder) != made.folders_.end()) {
      return folder;  // one unified group bounds both
    }
    if (mkdir(folder.c_str(), 0755) != 0) {
      *problem = "cannot make the control group " + folder + ": " + std::strerror(errno);
      return "";
    }
    made.folders_.push_back(folder);
    const int joining = open((folder + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC);
    if (joining < 0) {
      *problem = "cannot open " + folder + "/cgroup.procs: " + std::strerror(errno);
      return "";
    }
    made.joining_.push_back(joining);
    return folder;
  };
  if (!processes_.empty()) {
    const std::string folder = make_group(processes_);
    if (folder.empty() || !write_small_file(folder + "/pids.max", std::to_string(max_processes))) {
      *problem = problem->empty() ? "cannot bound the processes of " + folder : *problem;
      return std::nullopt;
    }
  }
  if (!memory_.empty()) {
    const std::string folder = make_group(memory_);
    const std::string limit = memory_v2_ ? "/memory.max" : "/memory.limit_in_bytes";
    if (folder.empty() || !write_small_file(folder + limit, std::to_string(max_memory))) {
      *problem = problem->empty() ? "cannot bound the memory of " + folder : *problem;
      return std::nullopt;
    }
    if (memory_v2_) {
      write_small_file(folder + "/memory.swap.max", "0");  // where swap is accounted at all
    }
  }
  return made;
}
