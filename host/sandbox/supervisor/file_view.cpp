// Mounts, in the order that keeps what must stay reachable: copies of the device nodes
// and of the granted folders are taken first, before anything is hidden or made
// read-only, and put in place last.
#include "sandbox/supervisor/file_view.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
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
// Writable folders granted: at most this many.
constexpr std::size_t MAX_WRITABLE = 64;

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

bool set_read_only(const char* path, unsigned int flags) {
  mount_attr attributes = {};
  attributes.attr_set = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID;
  return mount_setattr(AT_FDCWD, path, flags, &attributes, sizeof attributes) == 0;
}

// A tmpfs of `bytes` at `path`, writable by all, as /dev/shm is.
bool mount_temporary(const char* path, unsigned long long bytes) {
  std::array<char, 64> options{};
  std::snprintf(options.data(), options.size(), "mode=1777,size=%llu", bytes);
  return mount("tmpfs", path, "tmpfs", MS_NOSUID | MS_NODEV, options.data()) == 0;
}

// Makes `path` and the folders above it that are missing; those on a read-only file system
// exist already, since their copy was taken from there.
bool make_folders(const char* path) {
  std::array<char, PATH_MAX> partial{};
  const std::size_t length = std::strlen(path);
  if (length >= partial.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (std::size_t i = 1; i <= length; ++i) {
    if (path[i] == '/' || path[i] == '\0') {
      std::memcpy(partial.data(), path, i);
      partial[i] = '\0';
      if (mkdir(partial.data(), 0755) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  return true;
}

// The device nodes copied from the machine's /dev onto empty files in the new one.
bool place_devices(const std::array<int, DEVICES.size()>& copies) {
  for (std::size_t i = 0; i < DEVICES.size(); ++i) {
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "/dev/%s", DEVICES[i]);
    const int file = open(path.data(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (file < 0) {
      return false;
    }
    close(file);
    if (move_mount(copies[i], "", AT_FDCWD, path.data(), MOVE_MOUNT_F_EMPTY_PATH) != 0) {
      return false;
    }
    close(copies[i]);
  }
  return symlink("/proc/self/fd", "/dev/fd") == 0 &&
         symlink("/proc/self/fd/0", "/dev/stdin") == 0 &&
         symlink("/proc/self/fd/1", "/dev/stdout") == 0 &&
         symlink("/proc/self/fd/2", "/dev/stderr") == 0 && mkdir("/dev/shm", 01777) == 0;
}

}  // namespace

SupervisorReport::Step make_file_view(const FileView& view, int* error) {
  const Failure failed(error);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return failed.at(SupervisorReport::kPrivateMounts);
  }
  std::array<int, DEVICES.size()> devices{};
  for (std::size_t i = 0; i < DEVICES.size(); ++i) {
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "/dev/%s", DEVICES[i]);
    devices[i] = open_tree(AT_FDCWD, path.data(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC);
    if (devices[i] < 0) {
      return failed.at(SupervisorReport::kDevices);
    }
  }
  if (view.writable_count > MAX_WRITABLE) {
    errno = E2BIG;
    return failed.at(SupervisorReport::kWritable);
  }
  std::array<int, MAX_WRITABLE> granted{};
  for (std::size_t i = 0; i < view.writable_count; ++i) {
    granted[i] =
        open_tree(AT_FDCWD, view.writable[i], OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE);
    if (granted[i] < 0) {
      return failed.at(SupervisorReport::kWritable);
    }
  }
  if (!set_read_only("/", AT_RECURSIVE)) {
    return failed.at(SupervisorReport::kReadOnly);
  }
  if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
    return failed.at(SupervisorReport::kProcesses);
  }
  for (const char* guarded : PROC_GUARDED) {
    if (access(guarded, F_OK) == 0 &&
        (mount(guarded, guarded, nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
         !set_read_only(guarded, AT_RECURSIVE))) {
      return failed.at(SupervisorReport::kProcesses);
    }
  }
  std::array<char, 32> device_options{};
  std::snprintf(device_options.data(), device_options.size(), "mode=0755,size=%uk",
                DEVICES_SIZE_KIB);
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, device_options.data()) != 0 ||
      !place_devices(devices)) {
    return failed.at(SupervisorReport::kDevices);
  }
  if (!mount_temporary("/dev/shm", view.temporary_bytes)) {
    return failed.at(SupervisorReport::kTemporary);
  }
  if (!set_read_only("/dev", 0)) {
    return failed.at(SupervisorReport::kDevices);
  }
  for (std::size_t i = 0; i < view.writable_count; ++i) {
    if (!make_folders(view.writable[i]) ||
        move_mount(granted[i], "", AT_FDCWD, view.writable[i], MOVE_MOUNT_F_EMPTY_PATH) != 0) {
      return failed.at(SupervisorReport::kWritable);
    }
    close(granted[i]);
  }
  return SupervisorReport::kNoStep;
}
