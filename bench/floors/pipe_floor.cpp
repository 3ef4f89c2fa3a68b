// The pipe floor: the least a line-at-a-time child can do. It reads each line and writes
// back a fixed reply of the same length ('x's and a line feed), flushed on its own, with no
// JSON work at all: what is left is the cost of the pipe, the process and stdio.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main() {
  char* line = nullptr;
  std::size_t capacity = 0;
  std::string reply;
  for (;;) {
    const ssize_t length = getline(&line, &capacity, stdin);
    if (length <= 0) {
      break;
    }
    const auto size = static_cast<std::size_t>(length);
    if (reply.size() < size) {
      reply.assign(size, 'x');
    }
    reply[size - 1] = '\n';
    const bool written = std::fwrite(reply.data(), 1, size, stdout) == size;
    reply[size - 1] = 'x';
    if (!written || std::fflush(stdout) != 0) {
      std::free(line);
      return 1;
    }
  }
  std::free(line);
  return 0;
}
