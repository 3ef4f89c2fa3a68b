// Writing a case beside its target, then one rename: RENAME_NOREPLACE for a new case,
// RENAME_EXCHANGE to swap a new case for an old one.
#include "conversation/case_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "text/visible.h"

namespace {

std::string shown_path(const std::filesystem::path& path) { return visible(path.string()); }

// Removes a case folder's files and the folder; leaves anything else it holds.
void remove_case_folder(const std::filesystem::path& folder) {
  std::error_code ignored;
  for (const std::string_view name : CASE_FILES) {
    std::filesystem::remove(folder / name, ignored);
  }
  std::filesystem::remove(folder, ignored);
}

bool exists_here(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

}  // namespace

std::optional<std::filesystem::path> folder_name(const std::filesystem::path& path) {
  std::error_code failure;
  std::filesystem::path name = std::filesystem::absolute(path, failure).lexically_normal();
  if (failure) {
    return std::nullopt;
  }
  if (name.filename().empty()) {
    name = name.parent_path();  // "x/" names the folder x
  }
  if (name.filename().empty() || name == name.root_path() || name.filename() == "..") {
    return std::nullopt;
  }
  return name;
}

std::optional<CaseWriter> CaseWriter::prepare(const std::filesystem::path& target, bool replace,
                                              const std::string& replace_option,
                                              std::string* error) {
  const std::optional<std::filesystem::path> name = folder_name(target);
  if (!name) {
    *error = shown_path(target) + " names no folder a case could be written as";
    return std::nullopt;
  }
  std::error_code failure;
  if (!std::filesystem::is_directory(name->parent_path(), failure)) {
    *error = "cannot write in " + shown_path(name->parent_path()) +
             (exists_here(name->parent_path()) ? ": it is not a folder" : ": it is not there");
    return std::nullopt;
  }
  std::optional<HeldFolder> folder = HeldFolder::open(name->parent_path(), error);
  if (!folder) {
    return std::nullopt;
  }
  std::optional<CaseWriter> writer =
      prepare_in(*folder, name->filename().string(), replace, replace_option, error);
  if (writer) {
    writer->target_ = *name;
  }
  return writer;
}

std::optional<CaseWriter> CaseWriter::prepare_in(const HeldFolder& folder, const std::string& name,
                                                 bool replace, const std::string& replace_option,
                                                 std::string* error) {
  const std::filesystem::path shown = folder.location() / name;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    *error = shown_path(shown) + " names no folder a case could be written as";
    return std::nullopt;
  }
  std::optional<HeldFolder> held = folder.again(error);
  if (!held) {
    return std::nullopt;
  }
  const std::filesystem::path here = held->beneath(name);
  if (exists_here(here)) {
    if (const std::string why = not_a_case_folder(here); !why.empty()) {
      *error = shown_path(shown) + " exists and is not a case folder (" + why +
               "); only a case folder is ever replaced";
      return std::nullopt;
    }
    if (!replace) {
      *error = shown_path(shown) + " exists" +
               (replace_option.empty() ? "" : "; " + replace_option + " replaces it");
      return std::nullopt;
    }
  }
  if (faccessat(held->fd(), ".", W_OK | X_OK, 0) != 0) {
    *error = "cannot write in " + shown_path(held->location()) + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return CaseWriter(std::move(*held), name, shown, replace);
}

std::string CaseWriter::fresh_folder_beside(const char* what) const {
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::array<char, 16> suffix{};
    std::snprintf(suffix.data(), suffix.size(), "%08x", seed());
    std::string name = ".";
    name += name_;
    name += '.';
    name += what;
    name += '-';
    name += suffix.data();
    // The mode any new folder gets (mkdtemp's would be private).
    if (mkdirat(folder_.fd(), name.c_str(), 0777) == 0) {
      return name;
    }
    if (errno != EEXIST) {
      return "";
    }
  }
  return "";
}

std::filesystem::path CaseWriter::scratch(std::string* error) {
  if (scratch_.empty()) {
    scratch_name_ = fresh_folder_beside("recording");
    if (scratch_name_.empty()) {
      *error = "cannot write in " + shown_path(folder_.location()) + ": " + std::strerror(errno);
    } else {
      scratch_ = folder_.beneath(scratch_name_);
    }
  }
  return scratch_;
}

int CaseWriter::unnamed_file() const {
  return openat(folder_.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
}

bool link_into(int fd, const std::filesystem::path& path, std::string* error) {
  // A name given through /proc needs no privilege, as AT_EMPTY_PATH would.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    *error = "cannot write the case: " + std::string(std::strerror(errno));
    return false;
  }
  return true;
}

CaseWriter::CaseWriter(CaseWriter&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      target_(std::move(other.target_)),
      scratch_name_(std::move(other.scratch_name_)),
      scratch_(std::move(other.scratch_)),
      replace_(other.replace_),
      done_(std::exchange(other.done_, true)) {}

CaseWriter::~CaseWriter() {
  if (!done_ && !scratch_.empty()) {
    remove_case_folder(scratch_);
  }
}

bool CaseWriter::commit(std::string* error) {
  if (scratch_.empty()) {
    *error = "nothing was written";
    return false;
  }
  const int folder = folder_.fd();
  const std::string kept =
      "; the new case is kept in " + shown_path(folder_.location() / scratch_name_);
  if (!exists_here(here())) {
    done_ = true;
    int moved = renameat2(folder, scratch_name_.c_str(), folder, name_.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without RENAME_NOREPLACE: a plain rename can only replace an empty
      // folder that appeared meanwhile, which loses nothing.
      moved = renameat(folder, scratch_name_.c_str(), folder, name_.c_str());
    }
    if (moved != 0) {
      *error = "cannot put the case in place as " + shown_path(target_) + ": " +
               std::strerror(errno) + kept;
    }
    return moved == 0;
  }
  if (const std::string why = not_a_case_folder(here()); !why.empty() || !replace_) {
    done_ = true;
    *error = shown_path(target_) +
             (why.empty() ? " appeared while recording" : " changed: " + why) + kept;
    return false;
  }
  if (renameat2(folder, scratch_name_.c_str(), folder, name_.c_str(), RENAME_EXCHANGE) == 0) {
    // The old case is where the new one was written.
    done_ = true;
    remove_case_folder(scratch_);
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    done_ = true;
    *error = "cannot put the case in place of " + shown_path(target_) + ": " +
             std::strerror(errno) + kept;
    return false;
  }
  // A file system without RENAME_EXCHANGE: the old case steps aside, the new one takes its
  // place, and the old one goes; should the second step fail, the old one comes back.
  done_ = true;
  const std::string aside = fresh_folder_beside("replaced");
  if (aside.empty() || renameat(folder, name_.c_str(), folder, aside.c_str()) != 0) {
    *error = "cannot move the old case aside: " + std::string(std::strerror(errno)) + kept;
    return false;
  }
  if (renameat(folder, scratch_name_.c_str(), folder, name_.c_str()) != 0) {
    *error = "cannot put the case in place: " + std::string(std::strerror(errno)) + kept;
    renameat(folder, aside.c_str(), folder, name_.c_str());
    return false;
  }
  remove_case_folder(folder_.beneath(aside));
  return true;
}
