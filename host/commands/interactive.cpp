// A prompt over libedit's readline interface.
#include "commands/interactive.h"

#include <editline/readline.h>
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "text/visible.h"

namespace {

// The names that Tab completes. readline's completion hooks are plain functions with no
// argument of ours, so the session's list is reached from here while the prompt is open.
const std::vector<AnnouncedCallable>* completable = nullptr;

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

struct FreeLine {
  void operator()(char* line) const { free(line); }  // NOLINT(cppcoreguidelines-no-malloc)
};

// libedit edits characters of the locale's encoding and drops the bytes it cannot read as
// one. The calls are JSON, which is UTF-8 whatever the terminal's locale says, so the
// editor reads UTF-8 even in the C locale.
void read_utf8() {
  std::setlocale(LC_CTYPE, "");  // NOLINT(concurrency-mt-unsafe): before any thread
  if (std::string_view(nl_langinfo(CODESET)) != "UTF-8") {
    std::setlocale(LC_CTYPE, "C.UTF-8");  // NOLINT(concurrency-mt-unsafe)
  }
}

}  // namespace

void interactive_calls(Session* session) {
  read_utf8();
  completable = &session->catalogue();
  rl_readline_name = "extension-host";
  rl_attempted_completion_function = complete;
  std::printf(
      "   one call a line: NAME JSON_ARRAY, e.g. sample.echo [\"hi\"]; Tab completes "
      "the name; Ctrl-D ends\n");
  std::fflush(stdout);
  for (;;) {
    const std::unique_ptr<char, FreeLine> typed(readline("call> "));
    if (!typed) {
      std::printf("\n");
      break;
    }
    const std::string line = typed.get();
    std::optional<Call> call;
    std::string problem;
    const LineKind kind = parse_call_line(line, &call, &problem);
    if (kind != LineKind::kNothing) {
      add_history(typed.get());
    }
    if (kind == LineKind::kBad) {
      std::printf("?? not a call: %s\n", visible(problem).c_str());
      std::fflush(stdout);
    } else if (kind == LineKind::kCall && !session->perform(*call)) {
      break;
    }
  }
  completable = nullptr;
}
