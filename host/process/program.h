// Finding the program that a command line names, before anything is started.
#ifndef HOST_PROCESS_PROGRAM_H_
#define HOST_PROCESS_PROGRAM_H_

#include <optional>
#include <string>

// The file that `name` runs, found as a shell finds it: a name holding a slash as it
// stands, any other along PATH (or the shell's default path when PATH is unset). The
// file must be a regular file that this user may execute, and a program: an ELF
// executable or a script starting with "#!". Returns its path, or none and says why in
// `*problem` ("/x/ext: no such file", "ext: not found in PATH", "... is not executable",
// "... is not a program: neither an ELF executable nor a script starting with #!").
std::optional<std::string> find_program(const std::string& name, std::string* problem);

#endif  // HOST_PROCESS_PROGRAM_H_
