// A prompt over libedit's readline interface, reading its keys itself so that an
// interrupt abandons the line rather than the session.
#include "commands/interactive.h"

#include <editline/readline.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "conversation/examples.h"
#include "conversation/typed_line.h"
#include "text/visible.h"

namespace {

// How many entries the history keeps, in memory and in its file.
constexpr int HISTORY_ENTRIES = 1000;

// Follows "A call is NAME and a JSON array of its arguments: " and an example.
constexpr char COMMANDS_HELP[] =
    "; a value may\n"
    "   go on over several lines. Tab completes the name. The session's own commands:\n"
    "     :help (or help, ?)         this\n"
    "     :catalogue (or catalogue)  the callables again\n"
    "     :send LINE                 send LINE as it stands, unchecked\n"
    "     :quit (or quit, exit)      end with \"shutdown\", as Ctrl-D does\n"
    "   Ctrl-C abandons the line typed; while a call is awaited, it says what is awaited,\n"
    "   and a second one ends the extension.\n";

// readline's hooks are plain functions with no argument of ours, so what they need is
// reached from here while the prompt is open.
const std::vector<AnnouncedCallable>* completable = nullptr;
const std::atomic<int>* interrupt_count = nullptr;
int interrupts_seen = 0;
bool line_abandoned = false;

// readline's generator protocol: called with state 0 first, then again for each further
// match; each match is a malloc'd copy, which readline frees.
char* next_callable(const char* text, int state) {
  static std::size_t next = 0;
  if (state == 0) {
    next = 0;
  }
  const std::size_t length = std::strlen(text);
  while (completable != nullptr && next < completable->size()) {
    const std::string& name = (*completable)[next++].name;
    if (name.compare(0, length, text) == 0) {
      return strdup(name.c_str());
    }
  }
  return nullptr;
}

// Only the first word of a line is a callable's name; the rest is JSON, where no file
// name or callable makes sense.
char** complete(const char* text, int start, int /*end*/) {
  rl_attempted_completion_over = 1;
  return start == 0 ? rl_completion_matches(text, next_callable) : nullptr;
}

// One byte of standard input; none at end of input. An interrupt ends the wait, and is
// told by `*interrupted`.
std::optional<unsigned char> read_byte(bool* interrupted) {
  for (;;) {
    if (interrupt_count->load() != interrupts_seen) {
      interrupts_seen = interrupt_count->load();
      *interrupted = true;
      return std::nullopt;
    }
    unsigned char byte = 0;
    const ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) {
      return byte;
    }
    if (got == 0 || errno != EINTR) {
      return std::nullopt;
    }
  }
}

// libedit asks for one character at a time: this reads one, as UTF-8, whatever the
// terminal's locale. An interrupt gives the end of the line, which is then dropped.
int read_key(FILE* /*stream*/) {
  bool interrupted = false;
  const std::optional<unsigned char> lead = read_byte(&interrupted);
  if (interrupted) {
    line_abandoned = true;
    return '\n';
  }
  if (!lead) {
    return EOF;
  }
  const int followers = *lead >= 0xF0 ? 3 : *lead >= 0xE0 ? 2 : *lead >= 0xC0 ? 1 : 0;
  int code_point = followers == 0 ? *lead : *lead & (0x3F >> followers);
  for (int i = 0; i < followers; ++i) {
    const std::optional<unsigned char> next = read_byte(&interrupted);
    if (!next) {
      return interrupted ? (line_abandoned = true, '\n') : EOF;
    }
    code_point = (code_point << 6) | (*next & 0x3F);
  }
  return code_point;
}

struct FreeLine {
  void operator()(char* line) const { free(line); }  // NOLINT(cppcoreguidelines-no-malloc)
};

// libedit edits characters of the locale's encoding. The calls are JSON, which is UTF-8
// whatever the terminal's locale says, so the editor works in UTF-8 even in the C locale.
void edit_utf8() {
  std::setlocale(LC_CTYPE, "");  // NOLINT(concurrency-mt-unsafe): before any thread
  if (std::string_view(nl_langinfo(CODESET)) != "UTF-8") {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // NOLINT(concurrency-mt-unsafe)
  }
}

void say(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

std::filesystem::path history_file() {
  const char* state = std::getenv("XDG_STATE_HOME");  // NOLINT(concurrency-mt-unsafe)
  if (state != nullptr && state[0] == '/') {
    return std::filesystem::path(state) / "extension-host" / "history";
  }
  const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
  if (home != nullptr && home[0] == '/') {
    return std::filesystem::path(home) / ".local" / "state" / "extension-host" / "history";
  }
  return {};
}

void interactive_calls(Session* session, std::atomic<int>* interrupts) {
  edit_utf8();
  completable = &session->catalogue();
  interrupt_count = interrupts;
  interrupts_seen = interrupts->load();
  rl_readline_name = "extension-host";
  rl_attempted_completion_function = complete;
  rl_catch_signals = 0;
  rl_getc_function = read_key;
  const std::filesystem::path history = history_file();
  stifle_history(HISTORY_ENTRIES);
  if (!history.empty()) {
    read_history(history.c_str());
  }
  say("   one call a line: NAME JSON_ARRAY, e.g. " + example_call(session->catalogue()) +
      "; Tab completes the name; 'help' explains; Ctrl-D ends\n");
  std::string pending;  // the lines of a value not finished yet
  for (bool going = true; going;) {
    line_abandoned = false;
    const std::unique_ptr<char, FreeLine> typed(readline(pending.empty() ? "call> " : "...> "));
    if (line_abandoned) {
      // The terminal shows "^C" where the cursor was: the mark goes on a line of its own.
      // Whatever was typed (the terminal may have dropped keys not yet read) is gone.
      say(pending.empty() ? "\n?? abandoned: the line was not sent\n"
                          : "\n?? abandoned: the value was not sent\n");
      pending.clear();
      continue;
    }
    if (!typed) {
      say(pending.empty() ? "\n" : "\n?? the value was not finished, and was not sent\n");
      break;
    }
    const std::string text = pending.empty() ? typed.get() : pending + "\n" + typed.get();
    const Typed entry = read_typed(text, session->catalogue());
    if (entry.kind == Typed::Kind::kIncomplete) {
      pending = text;
      continue;
    }
    pending.clear();
    if (entry.kind != Typed::Kind::kNothing) {
      add_history(text.c_str());
    }
    switch (entry.kind) {
      case Typed::Kind::kNothing:
      case Typed::Kind::kIncomplete:
        break;
      case Typed::Kind::kBad:
        say("?? not sent: " + visible(entry.problem) + "\n");
        break;
      case Typed::Kind::kCall:
        going = session->perform(*entry.call);
        // Interrupts while the call was awaited were the session's: none is the prompt's.
        interrupts_seen = interrupt_count->load();
        break;
      case Typed::Kind::kCommand:
        if (entry.command == "help") {
          say(legend() + "   A call is NAME and a JSON array of its arguments: " +
              example_call(session->catalogue()) + COMMANDS_HELP);
        } else if (entry.command == "catalogue") {
          session->show_catalogue();
        } else if (entry.command == "send") {
          going = session->send_as_is(entry.line);
          interrupts_seen = interrupt_count->load();
        } else {
          going = false;
        }
        break;
    }
  }
  if (!history.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(history.parent_path(), ignored);
    write_history(history.c_str());
  }
  completable = nullptr;
  interrupt_count = nullptr;
}
