// Cutting standard error at line feeds, and long lines into pieces.
#include "hosting/error_lines.h"

void ErrorLines::hand(std::string_view line) const {
  callback_(context_, line.data(), line.size());
}

void ErrorLines::wrote_error(std::string_view bytes) {
  if (callback_ == nullptr) {
    return;
  }
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::size_t room = ERROR_LINE_PIECE - partial_.size();
    if (end != std::string_view::npos && end <= room) {
      if (partial_.empty()) {
        hand(bytes.substr(0, end));
      } else {
        partial_.append(bytes.substr(0, end));
        hand(partial_);
        partial_.clear();
      }
      bytes.remove_prefix(end + 1);
      continue;
    }
    if (bytes.size() < room) {
      partial_.append(bytes);
      return;
    }
    partial_.append(bytes.substr(0, room));
    bytes.remove_prefix(room);
    hand(partial_);
    partial_.clear();
  }
}

void ErrorLines::finish() {
  if (callback_ != nullptr && !partial_.empty()) {
    hand(partial_);
    partial_.clear();
  }
}
