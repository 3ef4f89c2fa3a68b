// Where this host's executable is, to find what was installed or built beside it.
#ifndef HOST_BASE_EXECUTABLE_H_
#define HOST_BASE_EXECUTABLE_H_

#include <filesystem>

// The folder of this host's executable (bin/ when installed), found through /proc; empty
// where it cannot be read.
std::filesystem::path host_folder();

#endif  // HOST_BASE_EXECUTABLE_H_
