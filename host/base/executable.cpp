// Reading /proc/self/exe.
#include "base/executable.h"

std::filesystem::path host_folder() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
}
