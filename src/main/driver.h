// The protocol driver: the whole conversation, from the command line to the exit status.
#ifndef SAMPLE_MAIN_DRIVER_H_
#define SAMPLE_MAIN_DRIVER_H_

#include <cstdio>

// Runs one conversation with the host on `in` and `out` and returns the exit status:
// EXIT_USAGE when the arguments after the program name (`argv[1]` onwards) are not exactly
// "--protocol" "1", in which case nothing is read or written; EXIT_OK after "shutdown" or
// a clean end of input once registration is done; EXIT_PROTOCOL after a violation, a line
// that is not a message, a failed read or a failed write.
// REQUIRES: the JSON library is prepared (prepare_json_library) before the first call.
int run_extension(int argc, const char* const* argv, std::FILE* in, std::FILE* out);

#endif  // SAMPLE_MAIN_DRIVER_H_
