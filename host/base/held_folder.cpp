// Holding a folder by its descriptor.
#include "base/held_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

std::optional<HeldFolder> HeldFolder::open(const std::filesystem::path& path,
                                           std::string* problem) {
  const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *problem = "cannot open the folder " + path.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return HeldFolder(fd, path);
}

HeldFolder::HeldFolder(HeldFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), opened_(std::move(other.opened_)) {}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
    opened_ = std::move(other.opened_);
  }
  return *this;
}

HeldFolder::~HeldFolder() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

std::optional<HeldFolder> HeldFolder::again(std::string* problem) const {
  const int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    *problem = std::string("cannot hold the folder again: ") + std::strerror(errno);
    return std::nullopt;
  }
  return HeldFolder(fd, opened_);
}

std::optional<HeldFolder> HeldFolder::subfolder(const std::string& name,
                                                std::string* problem) const {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    *problem = "'" + name + "' names no folder within " + location().string();
    return std::nullopt;
  }
  if (mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
    *problem =
        "cannot make the folder " + (location() / name).string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const int fd = openat(fd_, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *problem = "cannot open the folder " + (location() / name).string() + ": " +
               (errno == ENOTDIR || errno == ELOOP ? std::string("it is not a folder (a link?)")
                                                   : std::string(std::strerror(errno)));
    return std::nullopt;
  }
  return HeldFolder(fd, opened_ / name);
}

std::filesystem::path HeldFolder::beneath(const std::string& name) const {
  return std::filesystem::path("/proc/self/fd/" + std::to_string(fd_)) / name;
}

std::filesystem::path HeldFolder::location() const {
  std::array<char, PATH_MAX> target{};
  const std::string link = "/proc/self/fd/" + std::to_string(fd_);
  const ssize_t length = readlink(link.c_str(), target.data(), target.size() - 1);
  if (length <= 0 || target[0] != '/') {
    return opened_;
  }
  return std::string(target.data(), static_cast<std::size_t>(length));
}
