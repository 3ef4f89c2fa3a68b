// Starting a program with its standard streams on given descriptors.
#ifndef HOST_PROCESS_SPAWN_CHILD_H_
#define HOST_PROCESS_SPAWN_CHILD_H_

#include <sys/types.h>

#include <string>
#include <vector>

// Pointers to the words of `argv`, ended by a null one, as exec takes them. They live as
// long as `argv`.
std::vector<char*> argument_pointers(const std::vector<std::string>& argv);

// Starts `argv[0]` (looked up as execvp does) with `argv`, its standard input, output and
// error on `input`, `output` and `error`, and SIGPIPE at its default action whatever the
// caller's disposition (a child that writes to a closed pipe must see the signal, not an
// error). The child leads a new process group, whose id is its process id, so that all it
// starts can be ended with it. Returns 0 and the child's process id in `*pid`, or the
// error number.
// REQUIRES: !argv.empty().
int spawn_with_streams(const std::vector<std::string>& argv, int input, int output, int error,
                       pid_t* pid);

#endif  // HOST_PROCESS_SPAWN_CHILD_H_
