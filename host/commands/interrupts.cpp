// A SIGINT handler that only counts; without SA_RESTART, so that a blocked read or poll
// returns and its caller looks at the count.
#include "commands/interrupts.h"

#include <csignal>

namespace {

// The host's one piece of global state: a signal handler has nowhere else to count.
std::atomic<int> interrupts{0};
struct sigaction before = {};

void count_interrupt(int /*signal_number*/) { interrupts.fetch_add(1); }

}  // namespace

CountedInterrupts::CountedInterrupts() {
  struct sigaction action = {};
  action.sa_handler = count_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &before);
}

CountedInterrupts::~CountedInterrupts() { sigaction(SIGINT, &before, nullptr); }

std::atomic<int>* CountedInterrupts::count() { return &interrupts; }
