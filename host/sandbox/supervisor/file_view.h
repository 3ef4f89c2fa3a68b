// The file system as the extension sees it, made in the supervisor's own mount namespace.
//
// Everything is read-only and without set-user-ID, as the machine's file systems stand
// (the machine's /tmp among them: an extension built or unpacked there still runs); over it
// come what the extension may have: a /proc of its own PID namespace (its kernel settings
// read-only), a /dev of null, zero, full, random and urandom alone (no terminal, no disk),
// and a private /dev/shm, its TMPDIR, a tmpfs of a bounded size that vanishes with the
// namespace, whatever ends the host. Folders granted writable are
// put back as they were. Nothing made here propagates to the machine: the mounts are
// private, so a mount the extension might make can neither leak out nor turn a cleanup
// outward, and there is no cleanup to turn.
#ifndef HOST_SANDBOX_SUPERVISOR_FILE_VIEW_H_
#define HOST_SANDBOX_SUPERVISOR_FILE_VIEW_H_

#include <cstddef>

#include "sandbox/supervisor_report.h"

struct FileView {
  unsigned long long temporary_bytes = 0;  // the size of /dev/shm
  const char* const* writable = nullptr;   // absolute folders, granted writable
  std::size_t writable_count = 0;
};

// Makes the view. REQUIRES: the caller is alone in a new mount namespace, with the
// capability to mount in it. Returns kNoStep on success; otherwise the step that failed,
// with its error number in `*error`.
SupervisorReport::Step make_file_view(const FileView& view, int* error);

#endif  // HOST_SANDBOX_SUPERVISOR_FILE_VIEW_H_
