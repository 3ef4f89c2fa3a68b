// Test helpers: C streams over bytes in memory, for driving the channel and the driver
// in-process.
#ifndef TESTS_SUPPORT_STREAMS_H_
#define TESTS_SUPPORT_STREAMS_H_

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A stream positioned at the start of `bytes`, NUL bytes and all.
File input_stream(std::string_view bytes);

// A stream that gives `bytes`, then fails: the read after them is an error, not the end
// of input.
File failing_input_stream(std::string_view bytes);

// An unbuffered stream whose write number `failing_write` (counted from 1) fails after
// taking the first half of its bytes; every write, and that half, is appended to `*sink`,
// so that anything written after the failure shows.
// `*sink` must outlive the stream.
File output_failing_at(std::size_t failing_write, std::string* sink);

// An empty stream to write to; read it back with written().
File output_stream();

// Everything written to `file` so far.
std::string written(std::FILE* file);

#endif  // TESTS_SUPPORT_STREAMS_H_
