// What an extension is shown of the machine's files, decided by the host: the folders it
// sees (read-only or writable), the machine's links among them, and the entries hidden
// within them. The supervisor makes the view from this list (see supervisor/file_view.h).
//
// Shown read-only: the system's programs, libraries and configuration (/usr, /etc, /opt
// and the links to /usr of a merged /usr), /sys; the folder of the extension's program
// (and, where it is a version manager's shim, the manager's whole folder) and of the
// interpreter its first line names; the folder of each argument and of each variable
// passed with --env that names a file; the current folder; each folder granted with
// --read. Shown writable: each folder granted with --writable. Hidden: everything else,
// the home folders, /root, the machine's /tmp, /var, /run, /srv, /mnt and /media among
// it, and within /etc each entry that only its owner or group may read (shadow, gshadow,
// private keys).
//
// Each folder shown carries the device and inode the host saw, so that a folder replaced
// by a link, or by another folder, since the host looked is refused rather than shown.
#ifndef HOST_SANDBOX_VIEW_PLAN_H_
#define HOST_SANDBOX_VIEW_PLAN_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "sandbox/policy.h"

struct ShownEntry {
  // kListOnly: a folder whose names alone are shown, where what lies in it is shown entry
  // by entry (Landlock cannot hide an entry within a folder it shows).
  enum Kind { kReadOnly, kWritable, kListOnly, kLink, kHidden };
  Kind kind = kReadOnly;
  std::string path;    // absolute, without links
  std::string target;  // kLink: what the link holds
  dev_t device = 0;    // kReadOnly, kWritable, kListOnly: the entry as the host saw it
  ino_t inode = 0;
};

// Whether the absolute, normal `path` is `folder` or lies within it.
bool lies_within(const std::string& path, const std::string& folder);

class ViewPlan {
 public:
  // The part of the view that every extension of a command is shown: the system's
  // folders, the hidden entries of /etc, the current folder, the grants and the files
  // that variables passed with --env name. Returns none, with why in `*problem`, when a
  // folder that must be shown cannot be looked at.
  static std::optional<ViewPlan> make(const SandboxPolicy& policy, std::string* problem);

  // The whole view for one start of `program` (a path, as find_program gives it) with
  // `argv`, in the order it is made: a folder before what lies within it, and nothing
  // shown twice. With `entry_by_entry`, for Landlock, a folder read-only that holds a
  // hidden entry is shown for listing, and what it holds entry by entry, but the hidden.
  [[nodiscard]] std::vector<ShownEntry> for_command(const std::string& program,
                                                    const std::vector<std::string>& argv,
                                                    bool entry_by_entry = false) const;

  [[nodiscard]] const std::string& working_folder() const { return working_folder_; }
  // How many entries of the configuration are hidden.
  [[nodiscard]] std::size_t hidden_count() const { return hidden_count_; }

 private:
  ViewPlan() = default;
  std::vector<ShownEntry> common_;
  std::string working_folder_;
  std::size_t hidden_count_ = 0;
};

#endif  // HOST_SANDBOX_VIEW_PLAN_H_
