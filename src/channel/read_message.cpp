// Reading: framing one line off the input, and parsing it as one JSON object.
#include <cstring>
#include <memory>
#include <string_view>

#include "base/heap.h"
#include "channel/channel.h"
#include "channel/read_ahead.h"

namespace {

struct HeapReleaser {
  void operator()(char* block) const noexcept { heap_release(block); }
};
using LineBuffer = std::unique_ptr<char, HeapReleaser>;

enum class LineOutcome { kLine, kEndOfInput, kTooLong, kReadError };

// Reads bytes up to and including the next line feed, or up to end of input, into
// `buffer` (MAX_LINE bytes). Counts the bytes itself instead of trusting a NUL terminator,
// so a NUL byte inside the line stays visible to the caller.
//
// getc_unlocked takes one byte, refilling the stream's buffer when it is empty; the rest
// of what the stream holds is then taken in one block, up to the line feed.
LineOutcome read_line(std::FILE* in, char* buffer, std::size_t* length) {
  std::size_t used = 0;
  for (;;) {
    const int next = getc_unlocked(in);
    if (next == EOF) {
      if (std::ferror(in) != 0) {
        return LineOutcome::kReadError;
      }
      *length = used;
      return used == 0 ? LineOutcome::kEndOfInput : LineOutcome::kLine;
    }
    if (used == LINE_LIMIT) {
      return LineOutcome::kTooLong;
    }
    buffer[used++] = static_cast<char>(next);
    if (next == '\n') {
      *length = used;
      return LineOutcome::kLine;
    }
    const std::string_view ahead = read_ahead(in).substr(0, LINE_LIMIT - used);
    const std::size_t feed = ahead.find('\n');
    const std::size_t taken = feed == std::string_view::npos ? ahead.size() : feed + 1;
    if (taken != 0) {
      std::memcpy(buffer + used, ahead.data(), taken);
      consume_read_ahead(in, taken);
      used += taken;
    }
    if (feed != std::string_view::npos) {
      *length = used;
      return LineOutcome::kLine;
    }
  }
}

}  // namespace

ReadResult read_message(std::FILE* in) {
  LineBuffer buffer(static_cast<char*>(heap_allocate(MAX_LINE)));
  std::size_t length = 0;
  switch (read_line(in, buffer.get(), &length)) {
    case LineOutcome::kLine:
      break;
    case LineOutcome::kEndOfInput:
      return {ReadOutcome::kEndOfInput, {}};
    case LineOutcome::kTooLong:
      return {ReadOutcome::kNotAMessage, {}};
    case LineOutcome::kReadError:
      return {ReadOutcome::kReadError, {}};
  }
  // A NUL byte refuses the line: the parser would stop at it, or swallow it after a number,
  // and part of the line would be silently dropped.
  if (std::memchr(buffer.get(), '\0', length) != nullptr) {
    return {ReadOutcome::kNotAMessage, {}};
  }
  JsonRef parsed =
      JsonRef::adopt(json_loadb(buffer.get(), length, JSON_REJECT_DUPLICATES, nullptr));
  buffer.reset();
  if (!json_is_object(parsed.get())) {
    return {ReadOutcome::kNotAMessage, {}};
  }
  return {ReadOutcome::kMessage, std::move(parsed)};
}
