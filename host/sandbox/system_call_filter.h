// The system calls an extension may make, compiled once by libseccomp into a program the
// kernel runs at every call the extension makes.
//
// An allowlist: what a program, an interpreter or a virtual machine needs to run (its
// processes and threads, memory, files as the mounts allow, descriptors, time, its own
// identity and limits, IPC in a namespace of its own), each group with its reason. Every
// other call is refused, a call the kernel gains later among them, until someone names
// it. What the filter holds beyond what is named: a socket of any kind (with --network,
// any but VSOCK), a socket pair that could address another socket (datagrams), typing
// into a terminal, new namespaces, another process's descriptors, the kernel's keyrings,
// io_uring, BPF and performance counters. Tracing is allowed, as Docker's profile allows
// it: the kernel lets the extension trace only what its sandbox holds.
#ifndef HOST_SANDBOX_SYSTEM_CALL_FILTER_H_
#define HOST_SANDBOX_SYSTEM_CALL_FILTER_H_

#include <string>

// A sealed memory file holding the filter as a BPF program (an array of sock_filter), for
// the supervisor to install; sockets are allowed with `network`. Returns its descriptor,
// which the caller owns, or -1 and says why in `*problem`.
int compile_system_call_filter(bool network, std::string* problem);

#endif  // HOST_SANDBOX_SYSTEM_CALL_FILTER_H_
