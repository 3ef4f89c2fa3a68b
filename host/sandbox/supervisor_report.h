// What the supervisor of one extension tells the host, on a pipe, in fixed-size records.
//
// The supervisor is a program of its own (extension-sandbox), so the records are the
// whole of what passes between it and the host: that the extension started (or why it
// could not), how it ended, and then whether anything it started was still running after
// it ended. A record is far below PIPE_BUF, so it arrives whole or not at all.
#ifndef HOST_SANDBOX_SUPERVISOR_REPORT_H_
#define HOST_SANDBOX_SUPERVISOR_REPORT_H_

#include <cstdint>

struct SupervisorReport {
  enum Kind : std::int32_t {
    kStarted = 1,      // the program is running
    kExecFailed = 2,   // value: the error number of the failed exec
    kExited = 3,       // value: the program's wait status
    kAlone = 4,        // nothing it started was left running; the supervisor is ending
    kLeftBehind = 5,   // value: how many processes were left and have been ended
    kSetupFailed = 6,  // value: the error number; step: which part of the sandbox failed
  };
  // The parts of the sandbox, in the order they are made; each can fail on its own.
  enum Step : std::int32_t {
    kNoStep = 0,
    kArguments = 1,      // the supervisor's own command line is not one it knows
    kControlGroup = 2,   // joining the groups that bound processes and memory
    kPrivateMounts = 3,  // a mount namespace of its own, unseen by the machine's
    kReadOnly = 4,       // a folder shown read-only
    kProcesses = 5,      // /proc showing its own processes only
    kDevices = 6,        // /dev without terminals: null, zero, full, random, urandom
    kTemporary = 7,      // a private, bounded /dev/shm, its TMPDIR
    kWritable = 8,       // a folder granted writable
    kProcessLimit = 9,   // the limit on processes in its user namespace
    kCapabilities = 10,  // no privilege: capabilities dropped, none to gain
    kSystemCalls = 11,   // the system call filter
    kSupervision = 12,   // the supervisor's own means: signals, pipes, a process
    kDescriptors = 13,   // every descriptor but its three streams closed
    kNewRoot = 14,       // a root of its own, holding only what it is shown
    kReplaced = 15,      // a folder shown is no longer the one the host saw
    kLandlock = 16,      // without namespaces, Landlock's hold on its files and signals
    kLastStep = kLandlock,
  };
  std::int32_t kind = 0;
  std::int32_t value = 0;
  std::int32_t step = kNoStep;
};

#endif  // HOST_SANDBOX_SUPERVISOR_REPORT_H_
