// The filter's rules, with libseccomp: one list of what is allowed, with the reason beside
// each group, and then the calls allowed only with some arguments.
#include "sandbox/system_call_filter.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace {

struct ContextRelease {
  void operator()(void* context) const { seccomp_release(context); }
};
using Context = std::unique_ptr<void, ContextRelease>;

struct Group {
  const char* reason;
  std::initializer_list<const char*> names;
};

// The tables are kept as written, a group to a paragraph, so that each reads as a list.
// clang-format off

// Allowed whatever their arguments. Names a machine's architectures lack (the 32-bit
// forms on x86-64 among them) count where they exist; names libseccomp does not know
// stay refused.
const Group ALLOWED[] = {
    {"its processes and threads: made without new namespaces (clone is below), waited "
     "for, signalled (the PID namespace holds it to its own)",
     {"fork", "vfork", "execve", "execveat", "exit", "exit_group", "wait4", "waitid", "waitpid",
      "kill", "tkill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo", "pidfd_open",
      "pidfd_send_signal", "set_tid_address", "set_robust_list", "get_robust_list", "rseq",
      "futex", "futex_time64", "futex_waitv", "arch_prctl", "set_thread_area", "get_thread_area",
      "prctl", "seccomp", "restart_syscall", "getpid", "getppid", "gettid", "getpgid", "getpgrp",
      "getsid", "setpgid", "setsid"}},
    {"tracing its own processes, as debuggers and LeakSanitizer do: the kernel lets it trace "
     "none but its own, as its PID namespace holds nothing else, and without one, Landlock "
     "and an undumpable host keep the host from it",
     {"ptrace", "process_vm_readv", "process_vm_writev"}},
    {"signals", {"rt_sigaction", "rt_sigpending", "rt_sigprocmask", "rt_sigreturn",
                 "rt_sigsuspend", "rt_sigtimedwait", "rt_sigtimedwait_time64", "sigaltstack",
                 "sigprocmask", "sigreturn", "signalfd", "signalfd4", "pause", "alarm"}},
    {"memory", {"brk", "mmap", "mmap2", "munmap", "mremap", "mprotect", "madvise", "mincore",
                "msync", "mlock", "mlock2", "mlockall", "munlock", "munlockall", "membarrier",
                "memfd_create", "memfd_secret", "remap_file_pages", "pkey_alloc", "pkey_free",
                "pkey_mprotect", "process_mrelease"}},
    {"files and folders, as far as the mounts let it see and write",
     {"open", "openat", "openat2", "creat", "close", "close_range", "read", "readv", "pread64",
      "preadv", "preadv2", "write", "writev", "pwrite64", "pwritev", "pwritev2", "lseek",
      "_llseek", "stat", "stat64", "lstat", "lstat64", "fstat", "fstat64", "newfstatat",
      "fstatat64", "statx", "statfs", "statfs64", "fstatfs", "fstatfs64", "access", "faccessat",
      "faccessat2", "getdents", "getdents64", "getcwd", "chdir", "fchdir", "mkdir", "mkdirat",
      "mknod", "mknodat", "rmdir", "unlink", "unlinkat", "rename", "renameat", "renameat2",
      "link", "linkat", "symlink", "symlinkat", "readlink", "readlinkat", "chmod", "fchmod",
      "fchmodat", "chown", "chown32", "fchown", "fchown32", "fchownat", "lchown", "lchown32",
      "truncate", "truncate64", "ftruncate", "ftruncate64", "fallocate", "fadvise64",
      "fadvise64_64", "readahead", "fsync", "fdatasync", "sync", "syncfs", "sync_file_range",
      "copy_file_range", "sendfile", "sendfile64", "splice", "tee", "vmsplice", "utime",
      "utimes", "utimensat", "utimensat_time64", "futimesat", "umask", "flock", "getxattr",
      "lgetxattr", "fgetxattr", "listxattr", "llistxattr", "flistxattr", "setxattr",
      "lsetxattr", "fsetxattr", "removexattr", "lremovexattr", "fremovexattr",
      "inotify_init", "inotify_init1", "inotify_add_watch", "inotify_rm_watch", "fanotify_mark",
      "io_setup", "io_destroy", "io_submit", "io_cancel", "io_getevents", "io_pgetevents",
      "io_pgetevents_time64", "landlock_create_ruleset", "landlock_add_rule",
      "landlock_restrict_self"}},
    {"descriptors, pipes, polling and events",
     {"dup", "dup2", "dup3", "fcntl", "fcntl64", "pipe", "pipe2", "poll", "ppoll",
      "ppoll_time64", "select", "_newselect", "pselect6", "pselect6_time64", "epoll_create",
      "epoll_create1", "epoll_ctl", "epoll_ctl_old", "epoll_wait", "epoll_wait_old",
      "epoll_pwait", "epoll_pwait2", "eventfd", "eventfd2", "timerfd_create", "timerfd_settime",
      "timerfd_settime64", "timerfd_gettime", "timerfd_gettime64"}},
    {"time and sleeping",
     {"clock_gettime", "clock_gettime64", "clock_getres", "clock_getres_time64",
      "clock_nanosleep", "clock_nanosleep_time64", "nanosleep", "gettimeofday", "time",
      "times", "getitimer", "setitimer", "timer_create", "timer_delete", "timer_getoverrun",
      "timer_gettime", "timer_gettime64", "timer_settime", "timer_settime64", "adjtimex",
      "clock_adjtime", "clock_adjtime64"}},
    {"its identity and limits: read, or given up (it holds no capability to gain any)",
     {"getuid", "getuid32", "geteuid", "geteuid32", "getgid", "getgid32", "getegid",
      "getegid32", "getresuid", "getresuid32", "getresgid", "getresgid32", "getgroups",
      "getgroups32", "setuid", "setuid32", "setgid", "setgid32", "setreuid", "setreuid32",
      "setregid", "setregid32", "setresuid", "setresuid32", "setresgid", "setresgid32",
      "setfsuid", "setfsuid32", "setfsgid", "setfsgid32", "setgroups", "setgroups32",
      "capget", "capset", "getrlimit", "ugetrlimit", "setrlimit", "prlimit64", "getrusage",
      "getpriority", "setpriority", "ioprio_get", "ioprio_set", "uname", "sysinfo", "getcpu",
      "getrandom"}},
    {"scheduling its own threads",
     {"sched_yield", "sched_getaffinity", "sched_setaffinity", "sched_getattr",
      "sched_setattr", "sched_getparam", "sched_setparam", "sched_getscheduler",
      "sched_setscheduler", "sched_get_priority_max", "sched_get_priority_min",
      "sched_rr_get_interval", "sched_rr_get_interval_time64"}},
    {"System V and POSIX IPC, in an IPC namespace of its own",
     {"ipc", "shmget", "shmat", "shmdt", "shmctl", "semget", "semop", "semtimedop",
      "semtimedop_time64", "semctl", "msgget", "msgsnd", "msgrcv", "msgctl", "mq_open",
      "mq_unlink", "mq_timedsend", "mq_timedsend_time64", "mq_timedreceive",
      "mq_timedreceive_time64", "mq_notify", "mq_getsetattr"}},
    {"the sockets it holds: only a connected pair without --network, which no address "
     "reaches and which reaches no address",
     {"accept", "accept4", "bind", "connect", "listen", "shutdown", "getsockname",
      "getpeername", "getsockopt", "setsockopt", "send", "sendto", "sendmsg", "sendmmsg",
      "recv", "recvfrom", "recvmsg", "recvmmsg", "recvmmsg_time64"}},
};

// Refused by name, as not permitted (EPERM), rather than as unknown to the kernel
// (ENOSYS, every call not named): a program told so does not try another way.
const Group REFUSED[] = {
    {"new namespaces: a way to regain the privileges dropped", {"unshare", "setns"}},
    {"another process's descriptors, and its memory's advice: what even tracing it does not "
     "give",
     {"process_madvise", "pidfd_getfd", "kcmp"}},
    {"the machine's own: mounts, modules, the clock, the kernel's log, rebooting",
     {"mount", "umount", "umount2", "mount_setattr", "move_mount", "open_tree", "fsopen",
      "fsconfig", "fsmount", "fspick", "pivot_root", "chroot", "init_module", "finit_module",
      "delete_module", "settimeofday", "clock_settime", "clock_settime64", "stime", "syslog",
      "reboot", "swapon", "swapoff", "acct", "quotactl", "quotactl_fd", "sethostname",
      "setdomainname", "iopl", "ioperm", "kexec_load", "kexec_file_load", "vhangup"}},
    {"kernel programs and counters, and handles that open files past their folders",
     {"bpf", "perf_event_open", "userfaultfd", "name_to_handle_at", "open_by_handle_at",
      "lookup_dcookie", "fanotify_init"}},
    {"16-bit segments, a way around the kernel's defences of memory", {"modify_ldt"}},
    {"memory placement across nodes, the machine's to set",
     {"mbind", "set_mempolicy", "get_mempolicy", "migrate_pages", "move_pages"}},
};

// clang-format on

// Every call not named is refused as unknown to the kernel (ENOSYS), so that the C library
// falls back to an older one where it can: clone3 to clone, whose flags the filter can
// read. So are, on purpose, io_uring (it makes sockets of its own, and makes its calls
// where no filter sees them) and the keyrings (the machine's, not the sandbox's).

// clone with any of these is refused: a new namespace.
constexpr unsigned long NAMESPACE_FLAGS = CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWPID |
                                          CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC |
                                          CLONE_NEWCGROUP;
// The socket types a pair may have without --network: a stream, or sequenced packets,
// which are delivered to the other end alone, whatever address a sender names. A pair of
// datagram sockets may send to any socket of the machine by its name.
constexpr unsigned long PAIR_TYPES[] = {SOCK_STREAM, SOCK_SEQPACKET};
constexpr unsigned long SOCKET_TYPE_MASK = 0xf;  // the type without SOCK_NONBLOCK, SOCK_CLOEXEC
// The execution domains a program may ask for: Linux's own, with or without addresses
// kept below 3 GiB or randomisation off (gdb, emulators), and the query itself. Not
// READ_IMPLIES_EXEC, which makes all readable memory executable.
constexpr unsigned long PERSONALITIES[] = {0x0, 0x8, 0x20000, 0x20008, 0xffffffff};
constexpr unsigned long AF_VSOCK_FAMILY = 40;

int resolved(const char* name) { return seccomp_syscall_resolve_name(name); }

bool add_groups(scmp_filter_ctx context, const Group* groups, std::size_t count,
                std::uint32_t action) {
  for (std::size_t i = 0; i < count; ++i) {
    for (const char* name : groups[i].names) {
      const int call = resolved(name);
      if (call != __NR_SCMP_ERROR && seccomp_rule_add(context, action, call, 0) != 0) {
        return false;
      }
    }
  }
  return true;
}

// One comparison of one argument; libseccomp's own macros are compound literals, which
// C++ lacks.
bool rule_when(scmp_filter_ctx context, std::uint32_t action, int call, unsigned argument,
               scmp_compare op, unsigned long datum_a, unsigned long datum_b) {
  const scmp_arg_cmp comparison{.arg = argument, .op = op, .datum_a = datum_a, .datum_b = datum_b};
  return seccomp_rule_add_array(context, action, call, 1, &comparison) == 0;
}

bool allow_when(scmp_filter_ctx context, int call, unsigned argument, scmp_compare op,
                unsigned long datum_a, unsigned long datum_b) {
  return rule_when(context, SCMP_ACT_ALLOW, call, argument, op, datum_a, datum_b);
}

// Allows ioctl with every request but `refused`. The kernel reads the request as 32 bits,
// so only those are compared. libseccomp takes one comparison of an argument in a rule,
// and has none for "differs under a mask", so what is allowed is spelled out as parts: a
// request that differs from all the refused ones in a bit where they agree (a rule for
// each such bit); or one that agrees with them there and, in the bits where they differ,
// matches none of them (a rule for each such pattern).
bool allow_requests_but(scmp_filter_ctx context, std::initializer_list<unsigned long> refused) {
  constexpr unsigned long REQUEST_BITS = 0xFFFFFFFFU;
  constexpr int MAX_DIFFERING_BITS = 8;
  unsigned long differing = 0;
  for (const unsigned long request : refused) {
    differing |= (request ^ *refused.begin()) & REQUEST_BITS;
  }
  const unsigned long agreed = REQUEST_BITS & ~differing;
  const unsigned long common = *refused.begin() & agreed;
  bool added = true;
  for (unsigned long bit = 1; bit <= REQUEST_BITS; bit <<= 1U) {
    if ((agreed & bit) != 0) {
      added =
          added && allow_when(context, SCMP_SYS(ioctl), 1, SCMP_CMP_MASKED_EQ, bit, ~common & bit);
    }
  }
  if (std::popcount(differing) > MAX_DIFFERING_BITS) {
    return false;
  }
  // Every pattern of the differing bits, counted through the submasks of `differing`.
  unsigned long pattern = 0;
  do {
    bool is_refused = false;
    for (const unsigned long request : refused) {
      is_refused = is_refused || (request & differing) == pattern;
    }
    if (!is_refused) {
      added = added && allow_when(context, SCMP_SYS(ioctl), 1, SCMP_CMP_MASKED_EQ, REQUEST_BITS,
                                  common | pattern);
    }
    pattern = (pattern - differing) & differing;
  } while (pattern != 0);
  return added;
}

bool add_rules(scmp_filter_ctx context, bool network) {
  constexpr std::uint32_t NOT_PERMITTED = SCMP_ACT_ERRNO(EPERM);
  bool added = add_groups(context, ALLOWED, std::size(ALLOWED), SCMP_ACT_ALLOW) &&
               add_groups(context, REFUSED, std::size(REFUSED), NOT_PERMITTED);
  // A thread or a process, in the namespaces it has.
  added = added && allow_when(context, SCMP_SYS(clone), 0, SCMP_CMP_MASKED_EQ, NAMESPACE_FLAGS, 0);
  // Every request of a device it holds, but typing into a terminal, or its console.
  constexpr auto TYPING = static_cast<unsigned long>(TIOCSTI);
  constexpr auto CONSOLE = static_cast<unsigned long>(TIOCLINUX);
  added = added && allow_requests_but(context, {TYPING, CONSOLE});
  for (const unsigned long request : {TYPING, CONSOLE}) {
    added = added && rule_when(context, NOT_PERMITTED, SCMP_SYS(ioctl), 1, SCMP_CMP_MASKED_EQ,
                               0xFFFFFFFFU, request);
  }
  for (const unsigned long personality : PERSONALITIES) {
    added = added && allow_when(context, SCMP_SYS(personality), 0, SCMP_CMP_EQ, personality, 0);
  }
  if (network) {
    // Any socket but one to the machine's virtual machines; socketcall is how a 32-bit
    // program makes them.
    added = added && allow_when(context, SCMP_SYS(socket), 0, SCMP_CMP_NE, AF_VSOCK_FAMILY, 0) &&
            seccomp_rule_add(context, SCMP_ACT_ALLOW, SCMP_SYS(socketpair), 0) == 0 &&
            seccomp_rule_add(context, SCMP_ACT_ALLOW, SCMP_SYS(socketcall), 0) == 0;
  } else {
    added = added && seccomp_rule_add(context, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 0) == 0;
    for (const unsigned long type : PAIR_TYPES) {
      added = added && allow_when(context, SCMP_SYS(socketpair), 1, SCMP_CMP_MASKED_EQ,
                                  SOCKET_TYPE_MASK, type);
    }
  }
  return added;
}

}  // namespace

int compile_system_call_filter(bool network, std::string* problem) {
  const Context context(seccomp_init(SCMP_ACT_ERRNO(ENOSYS)));
  if (!context) {
    *problem = "libseccomp cannot make a filter";
    return -1;
  }
  // A 32-bit program on a 64-bit machine is held by the same rules, not killed. The x32
  // ABI, which Debian's kernels leave out, is refused whole rather than named: each
  // architecture adds a copy of every rule, which the kernel compiles at each start. The
  // rules are searched as a tree, so that a call costs a few comparisons, not hundreds.
  if (seccomp_arch_native() == SCMP_ARCH_X86_64 &&
      seccomp_arch_add(context.get(), SCMP_ARCH_X86) != 0) {
    *problem = "libseccomp cannot add the 32-bit architecture to the filter";
    return -1;
  }
  if (seccomp_attr_set(context.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(ENOSYS)) != 0) {
    *problem = "libseccomp cannot refuse the other architectures";
    return -1;
  }
  if (seccomp_attr_set(context.get(), SCMP_FLTATR_CTL_OPTIMIZE, 2) != 0) {
    *problem = "libseccomp cannot sort the filter's rules";
    return -1;
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
