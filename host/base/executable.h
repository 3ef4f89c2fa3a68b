// Where this host's code is, to find what was installed or built beside it.
#ifndef HOST_BASE_EXECUTABLE_H_
#define HOST_BASE_EXECUTABLE_H_

#include <filesystem>

// The folder of this host's executable (bin/ when installed), found through /proc; empty
// where it cannot be read.
std::filesystem::path host_folder();

// The folder of the file this code was loaded from: the executable's, or the shared
// library's when a host application loaded the library. Empty where it cannot be told.
std::filesystem::path code_folder();

#endif  // HOST_BASE_EXECUTABLE_H_
