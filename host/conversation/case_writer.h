// A case folder written beside its target and put in place whole, by one rename.
//
// Nothing is lost on any path: the target is only ever replaced when it is itself a case
// folder and replacing was asked for, and then in one step; until that step the old case
// stands untouched, and a failed or abandoned recording leaves it as it was. And nothing
// is left behind: the folder beside the target is made only when the case is complete,
// moments before it is put in place, so a host killed before (SIGKILL included) leaves
// nothing; a long recording writes its streams to files with no name until then.
#ifndef HOST_CONVERSATION_CASE_WRITER_H_
#define HOST_CONVERSATION_CASE_WRITER_H_

#include <filesystem>
#include <optional>
#include <string>

#include "base/held_folder.h"
#include "conversation/case_folder.h"

class CaseWriter {
 public:
  // As prepare, for the case `name` (one component) within `folder`, which is held
  // already: nothing that renames the folder, or swaps one on its path for a link, can
  // send the case elsewhere.
  static std::optional<CaseWriter> prepare_in(const HeldFolder& folder, const std::string& name,
                                              bool replace, const std::string& replace_option,
                                              std::string* error);

  // Checks that `target` may be written, and that files can be made beside it.
  // `target` is normalised first ("cases/x/" is "cases/x"). Returns none,
  // saying why in `*error`, when the target exists and `replace` is false (naming
  // `replace_option` as the way to replace it, when not empty); when it exists and is not
  // a case folder (".", a folder holding other files, a file, a link), whatever `replace`
  // says; when the folder it would be in is not there; or when nothing can be written
  // there.
  static std::optional<CaseWriter> prepare(const std::filesystem::path& target, bool replace,
                                           const std::string& replace_option, std::string* error);

  CaseWriter(CaseWriter&& other) noexcept;
  CaseWriter& operator=(CaseWriter&&) = delete;
  CaseWriter(const CaseWriter&) = delete;
  CaseWriter& operator=(const CaseWriter&) = delete;
  // Removes the folder being written, unless it was put in place or kept.
  ~CaseWriter();

  // The target, normalised, as it was named.
  [[nodiscard]] const std::filesystem::path& target() const { return target_; }
  // Where the case is (once committed): its folder as the kernel names it now, which the
  // target's name may no longer lead to.
  [[nodiscard]] std::filesystem::path location() const { return folder_.location() / name_; }
  // The folder the case is written in, held since prepare.
  [[nodiscard]] const HeldFolder& folder() const { return folder_; }
  // The folder the case is written into, beside the target, made on the first call.
  // Empty, with why in `*error`, when it cannot be made.
  std::filesystem::path scratch(std::string* error);

  // A file with no name beside the target, for a stream written as it passes, which
  // link_into() names once the case is complete: a host killed meanwhile leaves nothing.
  // -1 where the file system makes no such file (the stream then goes to the scratch
  // folder at once). The caller owns the descriptor.
  [[nodiscard]] int unnamed_file() const;

  // Puts the written folder in place of the target, in one rename: the target must still
  // be missing, or, when replacing, still a case folder; an old case swapped out is then
  // removed. On failure returns false and says why in `*error`; the written case is kept
  // where it was written, and its place named in `*error`.
  bool commit(std::string* error);

 private:
  CaseWriter(HeldFolder folder, std::string name, std::filesystem::path target, bool replace)
      : folder_(std::move(folder)),
        name_(std::move(name)),
        target_(std::move(target)),
        replace_(replace) {}
  // The case's folder, reached through the held folder.
  [[nodiscard]] std::filesystem::path here() const { return folder_.beneath(name_); }
  // A fresh folder beside the case, named after it; its name, or "" with errno set.
  [[nodiscard]] std::string fresh_folder_beside(const char* what) const;

  HeldFolder folder_;
  std::string name_;
  std::filesystem::path target_;
  std::string scratch_name_;
  std::filesystem::path scratch_;
  bool replace_ = false;
  bool done_ = false;
};

// `path` as a name for a folder to write: made absolute and normal, without a trailing
// slash. None for a path that names no folder of its own ("/", or one ending in "..").
std::optional<std::filesystem::path> folder_name(const std::filesystem::path& path);

// Gives the unnamed file `fd` the name `path`. On failure returns false and says why in
// `*error`.
bool link_into(int fd, const std::filesystem::path& path, std::string* error);

#endif  // HOST_CONVERSATION_CASE_WRITER_H_
