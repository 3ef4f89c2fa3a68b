// A write to a pipe whose reader may be gone, without SIGPIPE.
//
// The host lives in other programs' processes too (the library), whose disposition of
// SIGPIPE is theirs: it is neither ignored nor changed. While the write runs, SIGPIPE is
// blocked in the calling thread alone, and one the write raised is taken before it is
// unblocked, so that the program never sees it; one that was already pending stays.
#ifndef HOST_BASE_QUIET_WRITE_H_
#define HOST_BASE_QUIET_WRITE_H_

#include <sys/types.h>

#include <cstddef>

// write(2) of `bytes` to `fd`: what was written, or -1 with errno (EPIPE once the reader
// has gone). Never raises SIGPIPE, and leaves the thread's signal mask as it found it.
ssize_t write_without_sigpipe(int fd, const void* bytes, std::size_t length);

#endif  // HOST_BASE_QUIET_WRITE_H_
