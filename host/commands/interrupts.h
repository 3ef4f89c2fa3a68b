// Ctrl-C, counted rather than fatal, while a person holds a session at the terminal.
//
// Everywhere else an interrupt ends the host as its default action does, and the
// extensions with it (each one's supervisor has a parent-death signal).
#ifndef HOST_COMMANDS_INTERRUPTS_H_
#define HOST_COMMANDS_INTERRUPTS_H_

#include <atomic>

// Counts SIGINT from now on, in the counter it returns, until the returned object ends;
// then SIGINT does what it did before.
class CountedInterrupts {
 public:
  CountedInterrupts();
  CountedInterrupts(const CountedInterrupts&) = delete;
  CountedInterrupts& operator=(const CountedInterrupts&) = delete;
  CountedInterrupts(CountedInterrupts&&) = delete;
  CountedInterrupts& operator=(CountedInterrupts&&) = delete;
  ~CountedInterrupts();

  // The count, raised by the signal handler.
  static std::atomic<int>* count();
};

#endif  // HOST_COMMANDS_INTERRUPTS_H_
