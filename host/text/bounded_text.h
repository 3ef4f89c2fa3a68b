// Text from a child that may be endless, kept for people to read: the first and the last
// few KiB of it and the count of every byte, or, when asked, all of it.
#ifndef HOST_TEXT_BOUNDED_TEXT_H_
#define HOST_TEXT_BOUNDED_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

class BoundedText {
 public:
  // Keeps the first `head` and the last `tail` bytes of what is appended. REQUIRES: head
  // and tail above zero.
  BoundedText(std::size_t head, std::size_t tail) : head_limit_(head), tail_limit_(tail) {}

  void append(std::string_view bytes);

  [[nodiscard]] bool empty() const { return total_ == 0; }
  // Every byte appended, kept or not.
  [[nodiscard]] std::size_t total() const { return total_; }
  // The first bytes, as many as were kept from the start.
  [[nodiscard]] const std::string& head() const { return head_; }
  // Whether bytes between the head and the tail were dropped.
  [[nodiscard]] bool cut() const;
  // All of it when nothing was dropped; otherwise the head, a line that tells how many
  // bytes were left out of how many (and `hint`, when not empty), and the tail.
  [[nodiscard]] std::string for_people(const std::string& hint = "") const;

 private:
  std::size_t head_limit_;
  std::size_t tail_limit_;
  std::size_t total_ = 0;
  std::string head_;
  std::string tail_;  // the last bytes; may hold up to twice the limit before trimming
};

// Where the host shows a child's standard error: 4 KiB from each end.
inline constexpr std::size_t SHOWN_ERROR_BYTES = 4096;

#endif  // HOST_TEXT_BOUNDED_TEXT_H_
