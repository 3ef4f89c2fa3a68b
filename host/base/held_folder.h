// A folder opened once and reached through its descriptor ever after.
//
// A folder that an extension may write (a grant, or one within it) can be renamed, or a
// folder on its path swapped for a link, between the moment the host checks it and the
// moment the host writes there. Held, it stays the folder that was checked: every path
// beneath() gives goes through the descriptor (/proc/self/fd/N/NAME), so the kernel
// looks up only NAME, and location() tells where the folder really is by then.
#ifndef HOST_BASE_HELD_FOLDER_H_
#define HOST_BASE_HELD_FOLDER_H_

#include <filesystem>
#include <optional>
#include <string>

class HeldFolder {
 public:
  // Opens `path`, which must be a folder; its links are followed, as a path the user gave
  // is meant. Call it before anything untrusted runs. None, with why in `*problem`.
  static std::optional<HeldFolder> open(const std::filesystem::path& path, std::string* problem);

  HeldFolder(HeldFolder&& other) noexcept;
  HeldFolder& operator=(HeldFolder&& other) noexcept;
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  ~HeldFolder();

  // Another hold on the same folder.
  [[nodiscard]] std::optional<HeldFolder> again(std::string* problem) const;

  // The folder `name` (one component) within this one, made when missing, and opened
  // without following a link: a link put in its place is refused. None, with why.
  [[nodiscard]] std::optional<HeldFolder> subfolder(const std::string& name,
                                                    std::string* problem) const;

  // A path to `name` within this folder that any call taking a path may use; `name` may
  // be "." for the folder itself.
  [[nodiscard]] std::filesystem::path beneath(const std::string& name) const;

  // Where the folder is now, as the kernel names it; the path it was opened by when the
  // kernel cannot tell.
  [[nodiscard]] std::filesystem::path location() const;

  [[nodiscard]] int fd() const { return fd_; }

 private:
  HeldFolder(int fd, std::filesystem::path opened) : fd_(fd), opened_(std::move(opened)) {}
  int fd_ = -1;  // O_PATH, close-on-exec
  std::filesystem::path opened_;
};

#endif  // HOST_BASE_HELD_FOLDER_H_
