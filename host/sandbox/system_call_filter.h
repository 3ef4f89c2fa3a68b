// The system calls an extension may not make, compiled once by libseccomp into a program
// the kernel runs at every call the extension makes.
//
// Refused: every socket() (no network, and no way to the machine's services through
// their sockets, abstract or not; a pair of connected sockets stays allowed), io_uring
// (which opens sockets of its own), typing into a terminal (TIOCSTI, TIOCLINUX), the
// kernel's keyrings (which are not the sandbox's), and new namespaces. Everything else is
// allowed: the sandbox holds the extension by what it can see and may write, not by a list
// of every system call its interpreter might make.
#ifndef HOST_SANDBOX_SYSTEM_CALL_FILTER_H_
#define HOST_SANDBOX_SYSTEM_CALL_FILTER_H_

#include <string>

// A sealed memory file holding the filter as a BPF program (an array of sock_filter), for
// the supervisor to install; sockets are allowed with `network`. Returns its descriptor,
// which the caller owns, or -1 and says why in `*problem`.
int compile_system_call_filter(bool network, std::string* problem);

#endif  // HOST_SANDBOX_SYSTEM_CALL_FILTER_H_
