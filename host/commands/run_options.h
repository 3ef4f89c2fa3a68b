// The options of a held conversation, shared by `run` and `record`.
#ifndef HOST_COMMANDS_RUN_OPTIONS_H_
#define HOST_COMMANDS_RUN_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "conversation/calls.h"
#include "conversation/session.h"
#include "sandbox/policy.h"
#include "sandbox/sandbox.h"

struct RunSettings {
  std::vector<Call> calls;
  bool calls_given = false;  // --call, --script or --demo: otherwise calls come from stdin
  bool close_instead = false;
  bool legend = false;  // explain the markers and the catalogue's columns first
  bool demo = false;    // --demo: one call of each callable announced, made up
  SessionSettings session;
  std::vector<std::string> extension;  // the program and its arguments, after "--"
  SandboxPolicy sandbox_policy;
  std::optional<Sandbox> sandbox;  // prepared once the options are read
};

// The options' lines of help, for the commands that take them.
extern const char RUN_OPTIONS_HELP[];

// Reads `arguments` of `command` ("run" or "record"): options, "--", then the extension
// and its arguments, and prepares the sandbox. Returns the exit status to end with, after
// printing: 0 for --help (prints `help`), 2 for a usage error or a sandbox that cannot be
// made; none when the conversation can be held.
// `lead` is what a suggested command line puts after the command's name ("record"'s case
// folder); empty for none.
std::optional<int> read_run_settings(const std::vector<std::string>& arguments,
                                     const std::string& command, const std::string& lead,
                                     const char* help, RunSettings* settings);

#endif  // HOST_COMMANDS_RUN_OPTIONS_H_
