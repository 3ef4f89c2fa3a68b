// What a person types at the session's prompt, read before anything is sent: a session
// command, a call checked against the catalogue the extension announced, or a value that
// is not finished yet and goes on on the next line.
#ifndef HOST_CONVERSATION_TYPED_LINE_H_
#define HOST_CONVERSATION_TYPED_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "conversation/call_check.h"
#include "conversation/calls.h"
#include "conversation/session.h"

struct Typed {
  enum class Kind {
    kNothing,     // blank, or a comment
    kIncomplete,  // a value still open: read the next line too
    kCall,        // a call the catalogue allows
    kCommand,     // one of the session's own commands
    kBad,         // not sent: `problem` says why
  };
  Kind kind = Kind::kNothing;
  std::optional<Call> call;
  std::string command;  // "help", "quit", "catalogue" or "send"
  std::string line;     // for "send": the line to send as it stands
  std::string problem;
};

// Reads `text`, all that was typed for one entry (several lines, when a value spans
// them), against `catalogue`. The session's commands are ":help", ":quit", ":catalogue"
// and ":send LINE"; "help", "?", "quit", "exit" and "catalogue" say the same when no
// callable is named so. A call is NAME and a JSON array (left out: no arguments), which
// must fit the catalogue (see unfit_call), or it is bad, saying why.
Typed read_typed(const std::string& text, const std::vector<AnnouncedCallable>& catalogue);

#endif  // HOST_CONVERSATION_TYPED_LINE_H_
