// Every signal at its default action and none blocked: what a program is started with.
// Header-only, shared by the host's spawn and the supervisor, which are separate programs;
// it makes system calls alone, so a child that shares its parent's memory may call it.
#ifndef HOST_SANDBOX_DEFAULT_SIGNALS_H_
#define HOST_SANDBOX_DEFAULT_SIGNALS_H_

#include <csignal>

inline void default_signals() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (signal_number != SIGKILL && signal_number != SIGSTOP) {
      sigaction(signal_number, &action, nullptr);
    }
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

#endif  // HOST_SANDBOX_DEFAULT_SIGNALS_H_
