// The library floor: the JSON work that any extension on jansson pays per line, and
// nothing else. It parses each line with the extension's decoding flag and writes the
// parsed value back with the extension's encoding flags, one flushed line per line read.
#include <jansson.h>

#include <cstdio>
#include <cstdlib>

int main() {
  char* line = nullptr;
  std::size_t capacity = 0;
  for (;;) {
    const ssize_t length = getline(&line, &capacity, stdin);
    if (length <= 0) {
      break;
    }
    json_t* parsed =
        json_loadb(line, static_cast<std::size_t>(length), JSON_REJECT_DUPLICATES, nullptr);
    if (parsed == nullptr) {
      break;
    }
    char* text = json_dumps(parsed, JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS);
    json_decref(parsed);
    const bool written = text != nullptr && std::puts(text) >= 0 && std::fflush(stdout) == 0;
    std::free(text);
    if (!written) {
      std::free(line);
      return 1;
    }
  }
  std::free(line);
  return 0;
}
