// Landlock's rules, written against its stable ABI so that the kernel decides what it can
// hold: each newer right is asked for only where the kernel's version has it.
#include "sandbox/supervisor/landlock_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace {

// The ABI's own numbers, stable across kernels; the C library's headers may be older than
// the kernel, so they are spelt out here.
constexpr unsigned CREATE_RULESET_VERSION = 1U << 0U;
constexpr int RULE_PATH_BENEATH = 1;
constexpr std::uint64_t EXECUTE = 1ULL << 0U;
constexpr std::uint64_t WRITE_FILE = 1ULL << 1U;
constexpr std::uint64_t READ_FILE = 1ULL << 2U;
constexpr std::uint64_t READ_DIR = 1ULL << 3U;
constexpr std::uint64_t FIRST_VERSION_RIGHTS = (1ULL << 13U) - 1;  // EXECUTE .. MAKE_SYM
constexpr std::uint64_t REFER = 1ULL << 13U;                       // version 2
constexpr std::uint64_t TRUNCATE = 1ULL << 14U;                    // version 3
constexpr std::uint64_t IOCTL_DEV = 1ULL << 15U;                   // version 5
constexpr std::uint64_t SCOPE_ABSTRACT_UNIX_SOCKET = 1ULL << 0U;   // version 6
constexpr std::uint64_t SCOPE_SIGNAL = 1ULL << 1U;                 // version 6

struct RulesetAttributes {
  std::uint64_t handled_access_fs;
  std::uint64_t handled_access_net;
  std::uint64_t scoped;
};

struct __attribute__((packed)) PathBeneath {
  std::uint64_t allowed_access;
  std::int32_t parent_fd;
};

constexpr std::array<const char*, 5> DEVICES = {"/dev/null", "/dev/zero", "/dev/full",
                                                "/dev/random", "/dev/urandom"};

bool allow(int ruleset, int fd, std::uint64_t rights) {
  const PathBeneath rule = {rights, fd};
  return syscall(SYS_landlock_add_rule, ruleset, RULE_PATH_BENEATH, &rule, 0) == 0;
}

// Allows `rights` beneath the path, as the supervisor finds it (no entry of the host's).
bool allow_path(int ruleset, const char* path, std::uint64_t rights) {
  const int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT;  // a device this machine lacks is simply not there
  }
  const bool allowed = allow(ruleset, fd, rights);
  close(fd);
  return allowed;
}

}  // namespace

int make_landlock_ruleset(const ViewEntry* entries, std::size_t count, const char* temporary_folder,
                          SupervisorReport::Step* step) {
  *step = SupervisorReport::kLandlock;
  const long version = syscall(SYS_landlock_create_ruleset, nullptr, 0, CREATE_RULESET_VERSION);
  if (version < 1) {
    return -1;
  }
  std::uint64_t all = FIRST_VERSION_RIGHTS;
  all |= version >= 2 ? REFER : 0;
  all |= version >= 3 ? TRUNCATE : 0;
  all |= version >= 5 ? IOCTL_DEV : 0;
  const RulesetAttributes attributes = {
      all, 0, version >= 6 ? SCOPE_ABSTRACT_UNIX_SOCKET | SCOPE_SIGNAL : 0};
  // The attributes of the kernel's version only: an older kernel refuses a longer struct.
  const std::size_t size = version >= 6   ? sizeof attributes
                           : version >= 4 ? offsetof(RulesetAttributes, scoped)
                                          : offsetof(RulesetAttributes, handled_access_net);
  const int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attributes, size, 0));
  if (ruleset < 0) {
    return -1;
  }
  // What a rule on a file may hold: the rest apply to folders alone.
  const std::uint64_t file_rights = all & (EXECUTE | WRITE_FILE | READ_FILE | TRUNCATE);
  bool allowed = allow_path(ruleset, "/proc", READ_FILE | READ_DIR);
  for (const char* device : DEVICES) {
    allowed = allowed && allow_path(ruleset, device, file_rights & ~EXECUTE);
  }
  if (temporary_folder != nullptr) {
    allowed = allowed && allow_path(ruleset, temporary_folder, all);
  }
  for (std::size_t i = 0; allowed && i < count; ++i) {
    const ViewEntry& entry = entries[i];
    if (entry.kind == ViewEntry::kLink || entry.kind == ViewEntry::kHidden) {
      continue;
    }
    const int fd = open_unchanged(entry, /*folder=*/entry.kind != ViewEntry::kReadOnly);
    struct stat status = {};
    if (fd < 0 || fstat(fd, &status) != 0) {
      *step = errno == ESTALE ? SupervisorReport::kReplaced : SupervisorReport::kLandlock;
      allowed = false;
      break;
    }
    const bool folder = S_ISDIR(status.st_mode);
    const std::uint64_t reading = EXECUTE | READ_FILE | (folder ? READ_DIR : 0);
    const std::uint64_t rights = entry.kind == ViewEntry::kWritable   ? all
                                 : entry.kind == ViewEntry::kListOnly ? READ_DIR
                                                                      : reading;
    allowed = allow(ruleset, fd, folder ? rights : rights & file_rights);
    close(fd);
  }
  if (!allowed) {
    const int error = errno;
    close(ruleset);
    errno = error;
    return -1;
  }
  return ruleset;
}

bool enter_landlock(int ruleset) { return syscall(SYS_landlock_restrict_self, ruleset, 0) == 0; }
