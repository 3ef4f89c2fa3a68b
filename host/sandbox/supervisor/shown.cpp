// Finding a shown entry again, as the host saw it.
#include "sandbox/supervisor/shown.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

int open_unchanged(const ViewEntry& entry, bool folder) {
  open_how how = {};
  how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC | (folder ? O_DIRECTORY : 0);
  how.resolve = RESOLVE_NO_SYMLINKS;
  const int fd = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, entry.path, &how, sizeof how));
  if (fd < 0) {
    return -1;
  }
  struct stat status = {};
  if (fstat(fd, &status) != 0 || status.st_dev != entry.device || status.st_ino != entry.inode) {
    const int error = errno;
    close(fd);
    errno = status.st_ino == 0 ? error : ESTALE;
    return -1;
  }
  return fd;
}
