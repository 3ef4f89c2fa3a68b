// Keeping the ends of a long text.
#include "text/bounded_text.h"

#include <algorithm>

void BoundedText::append(std::string_view bytes) {
  total_ += bytes.size();
  const std::size_t to_head = std::min(bytes.size(), head_limit_ - head_.size());
  head_.append(bytes.substr(0, to_head));
  bytes.remove_prefix(to_head);
  if (bytes.empty()) {
    return;
  }
  tail_.append(bytes.substr(bytes.size() - std::min(bytes.size(), tail_limit_)));
  // Trimmed only once it holds twice what it keeps, so that a trickle of small pieces
  // costs no more than copying each byte twice.
  if (tail_.size() > 2 * tail_limit_) {
    tail_.erase(0, tail_.size() - tail_limit_);
  }
}

bool BoundedText::cut() const {
  return total_ > head_.size() + std::min(tail_.size(), tail_limit_);
}

std::string BoundedText::for_people(const std::string& hint) const {
  const std::string_view tail =
      std::string_view(tail_).substr(tail_.size() - std::min(tail_.size(), tail_limit_));
  if (total_ == head_.size() + tail.size()) {
    return head_ + std::string(tail);
  }
  std::string text = head_;
  if (!text.empty() && text.back() != '\n') {
    text += '\n';
  }
  text += "[... " + std::to_string(total_ - head_.size() - tail.size()) + " bytes left out of " +
          std::to_string(total_) + (hint.empty() ? "" : "; " + hint) + " ...]\n";
  text += tail;
  return text;
}
