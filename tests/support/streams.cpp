// Streams backed by anonymous temporary files: real FILEs, with no size limit and no
// special cases for NUL bytes.
#include "support/streams.h"

File input_stream(std::string_view bytes) {
  File file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

File output_stream() { return File(std::tmpfile()); }

std::string written(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char chunk[65536];
  for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
    text.append(chunk, got);
  }
  return text;
}
