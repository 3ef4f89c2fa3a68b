// The bytes a C stream has already read from its file and not yet handed out.
//
// Taking a line out of them with memchr and memcpy, as fgets does inside the C library,
// costs a small part of taking it one getc at a time. glibc keeps them between two
// pointers of its FILE, a layout fixed by its ABI (gnulib's freadptr reads the same two);
// elsewhere the view is always empty and the reader falls back to getc alone.
#ifndef SAMPLE_CHANNEL_READ_AHEAD_H_
#define SAMPLE_CHANNEL_READ_AHEAD_H_

#include <cstddef>
#include <cstdio>
#include <string_view>

// The bytes that the next reads from `in` would return without touching its file.
inline std::string_view read_ahead(std::FILE* in) {
#if defined(__GLIBC__)
  return {in->_IO_read_ptr, static_cast<std::size_t>(in->_IO_read_end - in->_IO_read_ptr)};
#else
  static_cast<void>(in);
  return {};
#endif
}

// Marks the first `count` bytes of read_ahead(in) as read.
// REQUIRES: count <= read_ahead(in).size().
inline void consume_read_ahead(std::FILE* in, std::size_t count) {
#if defined(__GLIBC__)
  in->_IO_read_ptr += count;
#else
  static_cast<void>(in);
  static_cast<void>(count);
#endif
}

#endif  // SAMPLE_CHANNEL_READ_AHEAD_H_
