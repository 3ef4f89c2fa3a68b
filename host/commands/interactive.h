// The interactive session: calls typed at a prompt, with line editing, history, and Tab
// completing the callables that the extension announced.
//
// Line editing comes from libedit, under the BSD licence, which the host's MIT licence
// can ship with; GNU readline would bind the whole host to the GPL.
#ifndef HOST_COMMANDS_INTERACTIVE_H_
#define HOST_COMMANDS_INTERACTIVE_H_

#include "conversation/session.h"

// Reads one `NAME JSON_ARRAY` a line from the terminal and makes each call, until end of
// input (Ctrl-D) or a fault. A line that cannot be a call is reported, and the session
// goes on. A fault is the session's to report when it finishes.
// REQUIRES: standard input is a terminal; `session` is open.
void interactive_calls(Session* session);

#endif  // HOST_COMMANDS_INTERACTIVE_H_
