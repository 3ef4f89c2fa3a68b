// Finding the cgroup hierarchies, and making and removing an extension's groups.
#include "sandbox/control_groups.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>

#include "sandbox/process_list.h"

namespace {

constexpr char GROUP_PREFIX[] = "extension-host.";
// An emptied group may still count a process that has just ended: rmdir is tried again
// for a moment.
constexpr int REMOVE_ATTEMPTS = 100;
constexpr std::chrono::milliseconds REMOVE_PAUSE{2};

std::atomic<unsigned long> groups_made{0};

// For a handler of a terminating signal, which may touch nothing else: the number (plus
// one) of each group made and not yet removed, and the folders groups are made in. A host
// with more groups alive at once than slots leaves the rest to the next host's sweep.
constexpr std::size_t LIVE_SLOTS = 8192;
std::array<std::atomic<unsigned long>, LIVE_SLOTS> live_groups{};
std::array<std::atomic<int>, 2> group_parents{-1, -1};
// How long a handler waits for the groups' processes to end: far beyond a SIGKILL's.
constexpr int END_PASSES = 500;
constexpr long END_PAUSE_NS = 10000000;

// "extension-host.PID.N" into `name`, with no call that a signal handler may not make.
void format_group_name(std::array<char, 64>* name, pid_t host, unsigned long number) {
  std::size_t at = 0;
  for (const char character : std::string_view(GROUP_PREFIX)) {
    (*name)[at++] = character;
  }
  const auto append_number = [&](unsigned long value) {
    std::array<char, 24> digits{};
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) {
      (*name)[at++] = digits[--count];
    }
  };
  append_number(static_cast<unsigned long>(host));
  (*name)[at++] = '.';
  append_number(number);
  (*name)[at] = '\0';
}

// Sends SIGKILL to each process the group `name` in `parent` holds, as its cgroup.procs
// lists them; the supervisor among them, whose namespace ends with it.
void kill_members(int parent, const char* name) {
  std::array<char, 96> path{};
  std::size_t at = 0;
  for (const char* part : {name, "/cgroup.procs"}) {
    for (; *part != '\0' && at + 1 < path.size(); ++part) {
      path[at++] = *part;
    }
  }
  const int procs = openat(parent, path.data(), O_RDONLY | O_CLOEXEC);
  if (procs >= 0) {
    kill_listed(procs);
  }
}

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
    : folders_(std::exchange(other.folders_, {})),
      joining_(std::exchange(other.joining_, {})),
      slot_(std::exchange(other.slot_, -1)) {}

ExtensionGroups& ExtensionGroups::operator=(ExtensionGroups&& other) noexcept {
  if (this != &other) {
    close_joining();
    remove();
    folders_ = std::exchange(other.folders_, {});
    joining_ = std::exchange(other.joining_, {});
    slot_ = std::exchange(other.slot_, -1);
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
  if (slot_ >= 0) {
    live_groups[static_cast<std::size_t>(slot_)].store(0);
    slot_ = -1;
  }
}

void end_live_groups() {
  const pid_t host = getpid();
  for (int pass = 0; pass < END_PASSES; ++pass) {
    bool any_left = false;
    for (const std::atomic<unsigned long>& slot : live_groups) {
      const unsigned long number = slot.load();
      if (number == 0) {
        continue;
      }
      std::array<char, 64> name{};
      format_group_name(&name, host, number - 1);
      for (const std::atomic<int>& parent : group_parents) {
        const int folder = parent.load();
        if (folder < 0 || unlinkat(folder, name.data(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
          continue;
        }
        any_left = true;
        kill_members(folder, name.data());
      }
    }
    if (!any_left) {
      return;
    }
    const timespec pause = {0, END_PAUSE_NS};
    nanosleep(&pause, nullptr);
  }
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
  // Where a handler of a terminating signal finds them; one folder for both is held once.
  for (std::size_t i = 0; i < group_parents.size(); ++i) {
    const std::string& folder = i == 0 ? groups.processes_ : groups.memory_;
    if (folder.empty() || (i == 1 && folder == groups.processes_)) {
      continue;
    }
    const int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    int none = -1;
    if (fd >= 0 && !group_parents[i].compare_exchange_strong(none, fd)) {
      close(fd);
    }
  }
  return groups;
}

std::optional<ExtensionGroups> ControlGroups::make(long max_processes, std::size_t max_memory,
                                                   std::string* problem) const {
  ExtensionGroups made;
  const unsigned long number = groups_made.fetch_add(1);
  const std::string name = GROUP_PREFIX + std::to_string(getpid()) + "." + std::to_string(number);
  for (std::size_t slot = 0; slot < LIVE_SLOTS; ++slot) {
    unsigned long free = 0;
    if (live_groups[slot].compare_exchange_strong(free, number + 1)) {
      made.slot_ = static_cast<long>(slot);
      break;
    }
  }
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
