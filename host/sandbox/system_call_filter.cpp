// The filter's rules, with libseccomp.
#include "sandbox/system_call_filter.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct ContextRelease {
  void operator()(void* context) const { seccomp_release(context); }
};
using Context = std::unique_ptr<void, ContextRelease>;

constexpr unsigned long NAMESPACE_FLAGS[] = {CLONE_NEWUSER,  CLONE_NEWNS,  CLONE_NEWPID,
                                             CLONE_NEWNET,   CLONE_NEWUTS, CLONE_NEWIPC,
                                             CLONE_NEWCGROUP};

// One comparison of one argument; libseccomp's own macros are compound literals, which C++ lacks.
bool refuse_when(scmp_filter_ctx context, int system_call, unsigned argument, unsigned long mask,
                 unsigned long value) {
  const scmp_arg_cmp comparison{
      .arg = argument, .op = SCMP_CMP_MASKED_EQ, .datum_a = mask, .datum_b = value};
  return seccomp_rule_add_array(context, SCMP_ACT_ERRNO(EPERM), system_call, 1, &comparison) == 0;
}

bool add_rules(scmp_filter_ctx context, bool network) {
  const auto refuse = [&](int error, const char* name) {
    return seccomp_rule_add(context, SCMP_ACT_ERRNO(static_cast<unsigned>(error)),
                            seccomp_syscall_resolve_name(name), 0) == 0;
  };
  bool added = true;
  if (!network) {
    added = added && refuse(EACCES, "socket");
  }
  for (const char* name : {"io_uring_setup", "io_uring_enter", "io_uring_register", "clone3",
                           "keyctl", "add_key", "request_key"}) {
    added = added && refuse(ENOSYS, name);
  }
  for (const char* name : {"unshare", "setns"}) {
    added = added && refuse(EPERM, name);
  }
  // The request of ioctl is an int: a value with high bits set must not slip past.
  for (const unsigned long request :
       {static_cast<unsigned long>(TIOCSTI), static_cast<unsigned long>(TIOCLINUX)}) {
    added = added && refuse_when(context, SCMP_SYS(ioctl), 1, 0xFFFFFFFFU, request);
  }
  for (const unsigned long flag : NAMESPACE_FLAGS) {
    added = added && refuse_when(context, SCMP_SYS(clone), 0, flag, flag);
  }
  return added;
}

}  // namespace

int compile_system_call_filter(bool network, std::string* problem) {
  const Context context(seccomp_init(SCMP_ACT_ALLOW));
  if (!context) {
    *problem = "libseccomp cannot make a filter";
    return -1;
  }
  // A 32-bit program on a 64-bit machine is held by the same rules, not killed.
  if (seccomp_arch_native() == SCMP_ARCH_X86_64) {
    seccomp_arch_add(context.get(), SCMP_ARCH_X86);
    seccomp_arch_add(context.get(), SCMP_ARCH_X32);
  }
  if (!add_rules(context.get(), network)) {
    *problem = "libseccomp refused a rule of the system call filter";
    return -1;
  }
  const int fd = memfd_create("extension-sandbox-filter", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) {
    *problem = std::string("cannot hold the system call filter: ") + std::strerror(errno);
    return -1;
  }
  const int exported = seccomp_export_bpf(context.get(), fd);
  if (exported != 0 ||
      fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    *problem = std::string("cannot write the system call filter: ") +
               std::strerror(exported != 0 ? -exported : errno);
    close(fd);
    return -1;
  }
  return fd;
}
