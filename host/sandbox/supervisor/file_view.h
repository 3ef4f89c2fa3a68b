// The file system as the extension sees it: a root of its own, made in the supervisor's
// mount namespace, that holds what the host chose to show and nothing else.
//
// The host names each folder shown (the system's programs, libraries and configuration,
// the extension's program and the folders its arguments name, the current folder, the
// folders granted) with the device and inode it saw there, and the entries to hide
// within them (the files of the configuration that only their owners may read). Each is
// looked up without following a link, and shown only if it is still what the host saw,
// so that no extension, by swapping a folder for a link between two runs, can have a
// later one shown something else. Over them come a /proc of its own PID namespace (its
// kernel settings read-only), a /dev of null, zero, full, random and urandom alone (no
// terminal, no disk), and a private /dev/shm, its TMPDIR, a tmpfs of a bounded size that
// vanishes with the namespace, whatever ends the host. All is read-only and without
// set-user-ID but /dev/shm and the folders granted writable. The mounts are private, so
// a mount the extension might make can neither leak out nor turn a cleanup outward, and
// there is no cleanup to turn.
#ifndef HOST_SANDBOX_SUPERVISOR_FILE_VIEW_H_
#define HOST_SANDBOX_SUPERVISOR_FILE_VIEW_H_

#include <cstddef>

#include "sandbox/supervisor/shown.h"
#include "sandbox/supervisor_report.h"

struct FileView {
  unsigned long long temporary_bytes = 0;  // the size of /dev/shm
  // In the order they are made: a folder before what is shown or hidden within it.
  const ViewEntry* entries = nullptr;
  std::size_t entry_count = 0;
  const char* working_folder = nullptr;  // where the extension starts; shown
};

// Makes the view and enters it, as root and as the current folder. REQUIRES: the caller
// is alone in a new mount namespace, with the capability to mount in it. Returns kNoStep
// on success; otherwise the step that failed, with its error number in `*error`.
SupervisorReport::Step make_file_view(const FileView& view, int* error);

#endif  // HOST_SANDBOX_SUPERVISOR_FILE_VIEW_H_
