// sample-extension: an extension process that a host runs as
// `sample-extension --protocol 1` and talks with over standard input and output.
#include <cstdio>

#include "main/driver.h"
#include "main/startup.h"

int main(int argc, char** argv) {
  prepare_json_library();
  // Unbuffered, so that each line leaves in exactly one write, whatever its length. Should
  // this fail, every line is still flushed whole as it is written, in more writes.
  static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
  return run_extension(argc, argv, stdin, stdout);
}
