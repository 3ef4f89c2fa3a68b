// Reading /proc/self/exe, and asking the loader where this code came from.
#include "base/executable.h"

#include <dlfcn.h>

std::filesystem::path host_folder() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
}

std::filesystem::path code_folder() {
  Dl_info info = {};
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dladdr takes any address
  if (dladdr(reinterpret_cast<const void*>(&code_folder), &info) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  std::error_code ignored;
  return std::filesystem::canonical(info.dli_fname, ignored).parent_path();
}
