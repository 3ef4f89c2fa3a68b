// The text of one outgoing line while it is being encoded, and the channel's encoder.
//
// Internal to the channel: emit and LineTemplate encode into a LineText and write it out
// with write_line, so that both write every line the same way.
#ifndef SAMPLE_CHANNEL_LINE_TEXT_H_
#define SAMPLE_CHANNEL_LINE_TEXT_H_

#include <jansson.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "base/heap.h"

// The encoder's settings, which fix every byte the host sees: compact, keys in ascending
// byte order, every character outside ASCII escaped.
inline constexpr std::size_t ENCODER_FLAGS = JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS;

// The encoded text of one line. Small lines (every line but large echoes) stay in the
// inline storage; a larger one moves to the heap, doubling as it grows. The text lives
// for one write.
class LineText {
 public:
  LineText() = default;
  LineText(const LineText&) = delete;
  LineText& operator=(const LineText&) = delete;
  ~LineText() {
    if (data_ != inline_storage_) {
      heap_release(data_);
    }
  }

  void append(const char* text, std::size_t size) {
    if (capacity_ - size_ < size) {
      grow(size_ + size);
    }
    // Half of what the encoder hands over is one punctuation byte; a call to memcpy for
    // it would cost more than the byte.
    if (size == 1) {
      data_[size_++] = *text;
      return;
    }
    std::memcpy(data_ + size_, text, size);
    size_ += size;
  }

  [[nodiscard]] const char* data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  void grow(std::size_t needed) {
    std::size_t capacity = capacity_;
    while (capacity < needed) {
      capacity *= 2;
    }
    char* larger = static_cast<char*>(heap_allocate(capacity));
    std::memcpy(larger, data_, size_);
    if (data_ != inline_storage_) {
      heap_release(data_);
    }
    data_ = larger;
    capacity_ = capacity;
  }

  char inline_storage_[4096];
  char* data_ = inline_storage_;
  std::size_t size_ = 0;
  std::size_t capacity_ = sizeof inline_storage_;
};

// Appends the encoder's text of `message`, an object or array, to `line`. Returns false
// when the encoder fails, as it does for any other value.
bool encode_message_into(LineText* line, const json_t* message);

// Appends the encoder's text of `value`, of any JSON type, as it stands inside a message.
// Returns false when the encoder fails.
bool encode_value_into(LineText* line, const json_t* value);

// Ends `line` with its line feed, writes it to `out` and flushes it. Returns true when the
// whole line was written and flushed.
bool write_line(std::FILE* out, LineText* line);

#endif  // SAMPLE_CHANNEL_LINE_TEXT_H_
