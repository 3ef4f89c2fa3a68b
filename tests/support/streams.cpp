// Streams backed by anonymous temporary files: real FILEs, with no size limit and no
// special cases for NUL bytes; and one whose reading fails, through a stdio cookie.
#include "support/streams.h"

#include <errno.h>

#include <algorithm>
#include <cstring>

File input_stream(std::string_view bytes) {
  File file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

namespace {

// The cookie of a failing input stream: the bytes still to give.
struct FailingSource {
  std::string bytes;
  std::size_t given = 0;
};

ssize_t read_then_fail(void* cookie, char* buffer, std::size_t size) {
  auto* source = static_cast<FailingSource*>(cookie);
  const std::size_t left = source->bytes.size() - source->given;
  if (left == 0) {
    errno = EIO;
    return -1;
  }
  const std::size_t count = std::min(size, left);
  std::memcpy(buffer, source->bytes.data() + source->given, count);
  source->given += count;
  return static_cast<ssize_t>(count);
}

int release_source(void* cookie) {
  delete static_cast<FailingSource*>(cookie);
  return 0;
}

// The cookie of an output stream with one failing write.
struct FailingSink {
  std::string* written;
  std::size_t failing_write;
  std::size_t writes = 0;
};

ssize_t write_or_fail(void* cookie, const char* bytes, std::size_t size) {
  auto* sink = static_cast<FailingSink*>(cookie);
  // A short write, of the first half, as a pipe or a file gives when it fills up midway:
  // the stream's error is set, and fwrite reports what got through. (Not -1: glibc takes
  // a cookie's -1 as a count, and loses its place in the buffer.)
  if (++sink->writes == sink->failing_write) {
    sink->written->append(bytes, size / 2);
    return static_cast<ssize_t>(size / 2);
  }
  sink->written->append(bytes, size);
  return static_cast<ssize_t>(size);
}

int release_sink(void* cookie) {
  delete static_cast<FailingSink*>(cookie);
  return 0;
}

}  // namespace

File failing_input_stream(std::string_view bytes) {
  auto* source = new FailingSource{std::string(bytes)};
  const cookie_io_functions_t functions{read_then_fail, nullptr, nullptr, release_source};
  return File(fopencookie(source, "r", functions));
}

File output_failing_at(std::size_t failing_write, std::string* sink) {
  auto* cookie = new FailingSink{sink, failing_write};
  const cookie_io_functions_t functions{nullptr, write_or_fail, nullptr, release_sink};
  File file(fopencookie(cookie, "w", functions));
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
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
