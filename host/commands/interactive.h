// The interactive session: calls typed at a prompt, with line editing, history kept
// between sessions, and Tab completing the callables that the extension announced.
//
// It forgives: a line is checked against the catalogue before it is sent (a name the
// extension did not announce, or a number of arguments outside its arity, is reported
// with the nearest name, and the session goes on); a value spread over several lines is
// read until it is whole; "help", "quit" and the catalogue are the session's own
// commands; Ctrl-C at the prompt abandons the line, and while a call is awaited it says
// what is awaited, a second one ending the extension. ":send LINE" sends a line as it
// stands, for whoever wants to see a protocol fault.
//
// Line editing comes from libedit, under the BSD licence, which the host's MIT licence
// can ship with; GNU readline would bind the whole host to the GPL.
#ifndef HOST_COMMANDS_INTERACTIVE_H_
#define HOST_COMMANDS_INTERACTIVE_H_

#include <atomic>
#include <filesystem>

#include "conversation/session.h"

// Reads entries from the terminal and makes each call, until end of input (Ctrl-D), a
// "quit", or a fault. A fault is the session's to report when it finishes.
// REQUIRES: standard input is a terminal; `session` is open, and counts its interrupts in
// `*interrupts`, which SIGINT raises while this runs.
void interactive_calls(Session* session, std::atomic<int>* interrupts);

// The file the session's history is kept in: $XDG_STATE_HOME/extension-host/history, or
// ~/.local/state/extension-host/history; empty when neither can be named.
std::filesystem::path history_file();

#endif  // HOST_COMMANDS_INTERACTIVE_H_
