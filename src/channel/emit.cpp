// Writing: encoding one message and sending it as one flushed line.
#include <cstring>

#include "base/heap.h"
#include "channel/channel.h"

namespace {

constexpr std::size_t ENCODER_FLAGS = JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS;

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

int append_to_line(const char* text, std::size_t size, void* line) {
  static_cast<LineText*>(line)->append(text, size);
  return 0;
}

}  // namespace

bool emit(std::FILE* out, const json_t* message) {
  LineText line;
  if (json_dump_callback(message, append_to_line, &line, ENCODER_FLAGS) != 0) {
    return false;
  }
  line.append("\n", 1);
  // One fwrite for the whole line, line feed included: on an unbuffered stream that is one
  // write call, so the host never sees half a line from us unless the write itself fails.
  if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) {
    return false;
  }
  return std::fflush(out) == 0;
}
