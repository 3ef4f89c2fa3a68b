// Dropping privilege for good: the bounding set emptied, the securebits locked so that
// running a program as root gives back nothing, no new privilege through set-user-ID
// files, and then the capabilities themselves.
#include "sandbox/supervisor/confine.h"

#include <linux/capability.h>
#include <linux/close_range.h>
#include <linux/seccomp.h>
#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "sandbox/default_signals.h"
#include "sandbox/descriptor_map.h"
#include "sandbox/supervisor/landlock_view.h"

namespace {

using Step = SupervisorReport::Step;

bool holds_capabilities() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) {
    return true;  // cannot tell: try to drop, and fail loudly if that fails
  }
  return (data[0].permitted | data[1].permitted) != 0;
}

bool drop_privilege() {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    return false;
  }
  if (!holds_capabilities()) {
    return true;  // nothing to drop, and no_new_privs keeps it so
  }
  for (unsigned long capability = 0;; ++capability) {
    if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
      if (errno == EINVAL) {
        break;  // past the last capability this kernel knows
      }
      return false;
    }
  }
  constexpr unsigned long LOCKED_SECUREBITS =
      SECBIT_NOROOT | SECBIT_NOROOT_LOCKED | SECBIT_NO_SETUID_FIXUP |
      SECBIT_NO_SETUID_FIXUP_LOCKED | SECBIT_KEEP_CAPS_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE |
      SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED;
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECUREBITS, LOCKED_SECUREBITS, 0, 0, 0) != 0) {
    return false;
  }
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  return syscall(SYS_capset, &header, none) == 0;
}

}  // namespace

SupervisorReport::Step confine_and_run(const Confinement& confinement, int* error) {
  // Its three streams alone: the supervisor's pipes, held by the program, would let it
  // write its own verdict, or end its own watch. Marked rather than closed, as the pipe
  // that tells the supervisor of a failure here must stay open until the exec.
  if (close_range(EXTENSION_DESCRIPTORS, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    *error = errno;
    return SupervisorReport::kDescriptors;
  }
  default_signals();
  // Without a namespace to end with it, it ends when its supervisor does.
  if (!confinement.pid_namespace && prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
    *error = errno;
    return SupervisorReport::kSupervision;
  }
  if (confinement.process_limit > 0) {
    const rlimit limit = {static_cast<rlim_t>(confinement.process_limit),
                          static_cast<rlim_t>(confinement.process_limit)};
    if (setrlimit(RLIMIT_NPROC, &limit) != 0) {
      *error = errno;
      return SupervisorReport::kProcessLimit;
    }
  }
  if (confinement.drop_privilege && !drop_privilege()) {
    *error = errno;
    return SupervisorReport::kCapabilities;
  }
  // Entered once no privilege is left, which Landlock requires, and before the filter,
  // which refuses nothing it needs.
  if (confinement.landlock >= 0 && !enter_landlock(confinement.landlock)) {
    *error = errno;
    return SupervisorReport::kLandlock;
  }
  if (confinement.filter != nullptr &&
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, confinement.filter, 0, 0) != 0) {
    *error = errno;
    return SupervisorReport::kSystemCalls;
  }
  if (confinement.probe) {
    _exit(0);
  }
  execve(confinement.program, confinement.argv, confinement.envp);
  *error = errno;
  return SupervisorReport::kNoStep;
}
