// The view, as one sequence of steps: the device nodes copied before anything is covered,
// a new root made on a tmpfs over /dev, each shown folder copied into it (looked up
// without links, and only if unchanged), what is hidden covered, /proc and /dev made,
// and then the new root entered and the machine's let go.
#include "sandbox/supervisor/file_view.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

using Step = SupervisorReport::Step;

constexpr std::array<const char*, 5> DEVICES = {"null", "zero", "full", "random", "urandom"};
// The kernel's settings and triggers under /proc: read-only, since a process that is
// root, even without capabilities, may write many of them.
constexpr std::array<const char*, 4> PROC_GUARDED = {"/proc/sys", "/proc/sysrq-trigger",
                                                     "/proc/irq", "/proc/bus"};
constexpr unsigned DEVICES_SIZE_KIB = 64;
constexpr unsigned ROOT_SIZE_KIB = 1024;
// Where the new root is made: /dev is there on every machine, and its devices are copied
// before it is covered.
constexpr char BASE[] = "/dev";
// The new root's own /dev, until the root is entered: BASE + "/dev".
constexpr char NEW_DEVICES[] = "/dev/dev";
// Within the new root, until it is entered: the sources of what covers a hidden entry.
constexpr char EMPTY_FOLDER[] = ".empty-folder";
constexpr char EMPTY_FILE[] = ".empty-file";

class Failure {
 public:
  explicit Failure(int* error) : error_(error) {}
  [[nodiscard]] Step at(Step step) const {
    *error_ = errno;
    return step;
  }

 private:
  int* error_;
};

// Closes a descriptor when it goes out of scope.
class Held {
 public:
  explicit Held(int fd) : fd_(fd) {}
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Held(Held&&) = delete;
  Held& operator=(Held&&) = delete;
  ~Held() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

bool set_attributes(int fd, const char* path, unsigned int flags, std::uint64_t set) {
  mount_attr attributes = {};
  attributes.attr_set = set;
  return syscall(SYS_mount_setattr, fd, path, flags, &attributes, sizeof attributes) == 0;
}

// A path below BASE, for what the supervisor makes itself in the new root.
bool in_base(const char* path, std::array<char, PATH_MAX>* full) {
  const int length = std::snprintf(full->data(), full->size(), "%s%s", BASE, path);
  if (length < 0 || static_cast<std::size_t>(length) >= full->size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

// A tmpfs of `bytes` at `path`, writable by all, as /dev/shm is.
bool mount_temporary(const char* path, unsigned long long bytes) {
  std::array<char, 64> options{};
  std::snprintf(options.data(), options.size(), "mode=1777,size=%llu", bytes);
  return mount("tmpfs", path, "tmpfs", MS_NOSUID | MS_NODEV, options.data()) == 0;
}

// Opens `path` below the new root `root`, one component at a time and never through a
// link; folders missing on the way are made when `make` holds (only the new root's own
// tmpfs lets them be). The last component may be a file where `folder` does not hold.
// Returns an O_PATH descriptor, or -1 with errno set (ELOOP where a link stands).
int open_below(int root, const char* path, bool make, bool folder) {
  std::array<char, PATH_MAX> copy{};
  if (std::strlen(path) >= copy.size()) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::strcpy(copy.data(), path);  // NOLINT: the length is checked above
  int parent = fcntl(root, F_DUPFD_CLOEXEC, 0);
  char* rest = copy.data();
  while (parent >= 0 && *rest != '\0') {
    while (*rest == '/') {
      ++rest;
    }
    char* end = std::strchr(rest, '/');
    const bool last = end == nullptr || end[std::strspn(end, "/")] == '\0';
    if (end != nullptr) {
      *end = '\0';
    }
    if (*rest == '\0') {
      break;
    }
    const int flags = O_PATH | O_NOFOLLOW | O_CLOEXEC | (last && !folder ? 0 : O_DIRECTORY);
    int next = openat(parent, rest, flags);
    if (next < 0 && errno == ENOENT && make && mkdirat(parent, rest, 0755) == 0) {
      next = openat(parent, rest, flags);
    }
    struct stat status = {};
    if (next >= 0 && (fstat(next, &status) != 0 || S_ISLNK(status.st_mode))) {
      close(next);
      next = -1;
      errno = ELOOP;
    }
    const int saved = errno;
    close(parent);
    errno = saved;
    parent = next;
    rest = end == nullptr ? rest + std::strlen(rest) : end + 1;
  }
  return parent;
}

// The folder the host saw at `entry.path`, looked up without a link, as a copy of its
// mounts ready to be placed; -1 with errno ESTALE where it is no longer that folder.
int copy_unchanged(const ViewEntry& entry) {
  const Held folder(open_unchanged(entry, /*folder=*/true));
  if (folder.get() < 0) {
    return -1;
  }
  return static_cast<int>(
      syscall(SYS_open_tree, folder.get(), "",
              AT_EMPTY_PATH | OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE));
}

bool place(int copy, int target) {
  return syscall(SYS_move_mount, copy, "", target, "",
                 MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) == 0;
}

bool in_devices(const char* path) {
  return std::strncmp(path, "/dev/", 5) == 0 || std::strcmp(path, "/dev") == 0;
}

bool is_folder(const ViewEntry& entry) {
  return entry.kind == ViewEntry::kReadOnly || entry.kind == ViewEntry::kWritable;
}

Step folder_step(const ViewEntry& entry) {
  return entry.kind == ViewEntry::kWritable ? SupervisorReport::kWritable
                                            : SupervisorReport::kReadOnly;
}

// A copy of the folder of `entry`, read-only unless granted writable, ready to be placed;
// -1 with errno set and the failed step in `*step`.
int copy_for_showing(const ViewEntry& entry, Step* step) {
  *step = folder_step(entry);
  const int copy = copy_unchanged(entry);
  if (copy < 0) {
    *step = errno == ESTALE ? SupervisorReport::kReplaced : *step;
    return -1;
  }
  const std::uint64_t attributes = entry.kind == ViewEntry::kWritable
                                       ? MOUNT_ATTR_NOSUID
                                       : MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID;
  if (!set_attributes(copy, "", AT_EMPTY_PATH | AT_RECURSIVE, attributes)) {
    const int error = errno;
    close(copy);
    errno = error;
    return -1;
  }
  return copy;
}

// Places the copy of a shown folder at its path below `root`.
bool place_below(int root, const ViewEntry& entry, int copy) {
  const Held target(open_below(root, entry.path, /*make=*/true, /*folder=*/true));
  return target.get() >= 0 && place(copy, target.get());
}

// Covers the entry at `path` below `root` with an empty folder or file, read-only.
bool hide(int root, const char* path) {
  const Held target(open_below(root, path, /*make=*/false, /*folder=*/false));
  struct stat status = {};
  if (target.get() < 0 || fstat(target.get(), &status) != 0) {
    return errno == ENOENT;  // gone since the host looked: nothing to hide
  }
  const char* empty = S_ISDIR(status.st_mode) ? EMPTY_FOLDER : EMPTY_FILE;
  const Held copy(
      static_cast<int>(syscall(SYS_open_tree, root, empty, OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC)));
  return copy.get() >= 0 &&
         set_attributes(copy.get(), "", AT_EMPTY_PATH, MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID) &&
         place(copy.get(), target.get());
}

// A link as the machine has it (/bin to usr/bin on a merged /usr).
bool link_below(int root, const ViewEntry& entry) {
  std::array<char, PATH_MAX> parent_path{};
  std::strncpy(parent_path.data(), entry.path, parent_path.size() - 1);
  char* slash = std::strrchr(parent_path.data(), '/');
  if (slash == nullptr) {
    errno = EINVAL;
    return false;
  }
  const char* name = entry.path + (slash - parent_path.data()) + 1;
  *slash = '\0';
  const Held parent(open_below(root, parent_path.data(), /*make=*/true, /*folder=*/true));
  return parent.get() >= 0 && symlinkat(entry.target, parent.get(), name) == 0;
}

// The device nodes copied from the machine's /dev onto empty files in the new one.
bool place_devices(const std::array<int, DEVICES.size()>& copies) {
  for (std::size_t i = 0; i < DEVICES.size(); ++i) {
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "%s/%s", NEW_DEVICES, DEVICES[i]);
    const int file = open(path.data(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (file < 0) {
      return false;
    }
    close(file);
    if (syscall(SYS_move_mount, copies[i], "", AT_FDCWD, path.data(), MOVE_MOUNT_F_EMPTY_PATH) !=
        0) {
      return false;
    }
    close(copies[i]);
  }
  const int devices = open(NEW_DEVICES, O_PATH | O_DIRECTORY | O_CLOEXEC);
  const bool made = devices >= 0 && symlinkat("/proc/self/fd", devices, "fd") == 0 &&
                    symlinkat("/proc/self/fd/0", devices, "stdin") == 0 &&
                    symlinkat("/proc/self/fd/1", devices, "stdout") == 0 &&
                    symlinkat("/proc/self/fd/2", devices, "stderr") == 0 &&
                    mkdirat(devices, "shm", 01777) == 0;
  if (devices >= 0) {
    close(devices);
  }
  return made;
}

}  // namespace

SupervisorReport::Step make_file_view(const FileView& view, int* error) {
  const Failure failed(error);
  // Nothing made here reaches the machine, nor anything of the machine's here.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return failed.at(SupervisorReport::kPrivateMounts);
  }
  // The devices it keeps, and the folders it is shown, copied before /dev is covered by
  // the new root: a folder granted within /dev/shm is the machine's.
  if (view.entry_count > MAX_VIEW_ENTRIES) {
    errno = E2BIG;
    return failed.at(SupervisorReport::kNewRoot);
  }
  std::array<int, MAX_VIEW_ENTRIES> copies{};
  copies.fill(-1);
  for (std::size_t i = 0; i < view.entry_count; ++i) {
    if (is_folder(view.entries[i])) {
      Step step = SupervisorReport::kNoStep;
      copies[i] = copy_for_showing(view.entries[i], &step);
      if (copies[i] < 0) {
        return failed.at(step);
      }
    }
  }
  std::array<int, DEVICES.size()> devices{};
  for (std::size_t i = 0; i < DEVICES.size(); ++i) {
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "/dev/%s", DEVICES[i]);
    devices[i] = static_cast<int>(
        syscall(SYS_open_tree, AT_FDCWD, path.data(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC));
    if (devices[i] < 0) {
      return failed.at(SupervisorReport::kDevices);
    }
  }
  // The new root: empty but for what is placed in it below, and the sources of what
  // covers a hidden entry.
  std::array<char, 32> root_options{};
  std::snprintf(root_options.data(), root_options.size(), "mode=0755,size=%uk", ROOT_SIZE_KIB);
  if (mount("tmpfs", BASE, "tmpfs", MS_NOSUID | MS_NODEV, root_options.data()) != 0) {
    return failed.at(SupervisorReport::kNewRoot);
  }
  const Held root(open(BASE, O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0 || mkdirat(root.get(), EMPTY_FOLDER, 0) != 0) {
    return failed.at(SupervisorReport::kNewRoot);
  }
  const Held empty_file(openat(root.get(), EMPTY_FILE, O_CREAT | O_RDONLY | O_CLOEXEC, 0));
  if (empty_file.get() < 0) {
    return failed.at(SupervisorReport::kNewRoot);
  }
  // What it is shown, parents first: folders copied as the host saw them, the machine's
  // links, and what is hidden within them. What lies in /dev waits for the new /dev.
  for (std::size_t i = 0; i < view.entry_count; ++i) {
    const ViewEntry& entry = view.entries[i];
    if (is_folder(entry)) {
      if (!in_devices(entry.path) && !place_below(root.get(), entry, copies[i])) {
        return failed.at(folder_step(entry));
      }
    } else if (entry.kind == ViewEntry::kListOnly) {
      continue;  // a mount shows a folder whole; only Landlock lists one apart
    } else if (entry.kind == ViewEntry::kLink ? !link_below(root.get(), entry)
                                              : !hide(root.get(), entry.path)) {
      return failed.at(SupervisorReport::kNewRoot);
    }
  }
  // A /proc of its own processes, its settings and triggers read-only.
  std::array<char, PATH_MAX> path{};
  if (mkdirat(root.get(), "proc", 0755) != 0 || !in_base("/proc", &path) ||
      mount("proc", path.data(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    return failed.at(SupervisorReport::kProcesses);
  }
  for (const char* guarded : PROC_GUARDED) {
    if (!in_base(guarded, &path)) {
      return failed.at(SupervisorReport::kProcesses);
    }
    if (access(path.data(), F_OK) == 0 &&
        (mount(path.data(), path.data(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
         !set_attributes(AT_FDCWD, path.data(), AT_RECURSIVE,
                         MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID))) {
      return failed.at(SupervisorReport::kProcesses);
    }
  }
  // A /dev of the harmless devices alone, and its private /dev/shm, its TMPDIR.
  std::array<char, 32> device_options{};
  std::snprintf(device_options.data(), device_options.size(), "mode=0755,size=%uk",
                DEVICES_SIZE_KIB);
  if (mkdirat(root.get(), "dev", 0755) != 0 ||
      mount("tmpfs", NEW_DEVICES, "tmpfs", MS_NOSUID | MS_NOEXEC, device_options.data()) != 0 ||
      !place_devices(devices)) {
    return failed.at(SupervisorReport::kDevices);
  }
  if (!in_base("/dev/shm", &path) || !mount_temporary(path.data(), view.temporary_bytes)) {
    return failed.at(SupervisorReport::kTemporary);
  }
  for (std::size_t i = 0; i < view.entry_count; ++i) {
    if (is_folder(view.entries[i]) && in_devices(view.entries[i].path) &&
        !place_below(root.get(), view.entries[i], copies[i])) {
      return failed.at(folder_step(view.entries[i]));
    }
  }
  for (const int copy : copies) {
    if (copy >= 0) {
      close(copy);
    }
  }
  if (!set_attributes(AT_FDCWD, NEW_DEVICES, 0, MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID)) {
    return failed.at(SupervisorReport::kDevices);
  }
  // The sources of the covers go; the covers stay, as mounts hold what they show.
  if (unlinkat(root.get(), EMPTY_FILE, 0) != 0 ||
      unlinkat(root.get(), EMPTY_FOLDER, AT_REMOVEDIR) != 0) {
    return failed.at(SupervisorReport::kNewRoot);
  }
  // Entered, and the machine's root let go: nothing of it stays reachable, not even by
  // "..". The new root itself is read-only: only /dev/shm and the grants may be written.
  if (chdir(BASE) != 0 || syscall(SYS_pivot_root, ".", ".") != 0 || umount2(".", MNT_DETACH) != 0 ||
      chdir("/") != 0 ||
      !set_attributes(AT_FDCWD, "/", 0, MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV)) {
    return failed.at(SupervisorReport::kNewRoot);
  }
  if (view.working_folder != nullptr && chdir(view.working_folder) != 0) {
    return failed.at(SupervisorReport::kNewRoot);
  }
  return SupervisorReport::kNoStep;
}
