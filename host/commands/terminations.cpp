// A handler that writes a fixed line and raises its signal again at its default action.
#include "commands/terminations.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <initializer_list>

#include "sandbox/control_groups.h"

namespace {

void say_and_end(int signal_number) {
  const char* text = signal_number == SIGTERM
                         ? "extension-host: ended by SIGTERM; every extension it ran ends with it\n"
                         : "extension-host: ended by SIGHUP; every extension it ran ends with it\n";
  // Whatever standard error has become, the end comes all the same.
  if (write(STDERR_FILENO, text, std::strlen(text)) < 0) {
  }
  // The extensions would end with the host all the same; their groups would not.
  end_live_groups();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void say_why_when_terminated() {
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    struct sigaction action = {};
    action.sa_handler = say_and_end;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}
