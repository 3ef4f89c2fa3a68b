// Blocking SIGPIPE around a write, and taking the one the write raised.
#include "base/quiet_write.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

ssize_t write_without_sigpipe(int fd, const void* bytes, std::size_t length) {
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
  // Only a thread that blocked SIGPIPE already can hold one pending: any other would have
  // had it delivered. Most do not, and are spared the look.
  bool pending_before = false;
  if (sigismember(&before, SIGPIPE) == 1) {
    sigset_t pending;
    sigpending(&pending);
    pending_before = sigismember(&pending, SIGPIPE) == 1;
  }
  const ssize_t written = write(fd, bytes, length);
  const int write_error = errno;
  if (written < 0 && write_error == EPIPE && !pending_before) {
    // The signal this write raised is pending on this thread: taken here, it is never
    // delivered. A program's own SIGPIPE, pending before, is left to it.
    const timespec at_once = {0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &at_once) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = write_error;
  return written;
}
