// An entry of what the extension is shown of the files, as the host names it to the
// supervisor, and how the supervisor finds it again: without following a link, and only
// if it is still what the host saw.
#ifndef HOST_SANDBOX_SUPERVISOR_SHOWN_H_
#define HOST_SANDBOX_SUPERVISOR_SHOWN_H_

#include <cstddef>

// The entries a view may have at the most.
inline constexpr std::size_t MAX_VIEW_ENTRIES = 512;

struct ViewEntry {
  enum Kind { kReadOnly, kWritable, kListOnly, kLink, kHidden };
  Kind kind = kReadOnly;
  const char* path = nullptr;    // absolute, without links in it
  const char* target = nullptr;  // kLink: what the link holds
  // kReadOnly, kWritable, kListOnly: what the host saw at `path`.
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

// Opens `entry.path` as O_PATH, without following any link on the way; a folder only
// where `folder` holds. Returns the descriptor, or -1 with errno set: ESTALE where it is
// not what the host saw (replaced since by another file, or moved), ELOOP where a link
// stands on the way.
int open_unchanged(const ViewEntry& entry, bool folder);

#endif  // HOST_SANDBOX_SUPERVISOR_SHOWN_H_
