// Making a line template from a message, and writing lines from it.
#include "channel/line_template.h"

#include <algorithm>
#include <string_view>

#include "channel/line_text.h"

std::optional<LineTemplate> LineTemplate::make(const json_t* message,
                                               std::span<const json_t* const> markers) {
  LineText encoded;
  if (markers.size() > MAX_MARKERS || !encode_message_into(&encoded, message) ||
      encoded.size() > MAX_TEXT) {
    return std::nullopt;
  }
  LineTemplate line;
  std::copy_n(encoded.data(), encoded.size(), line.text_.begin());
  line.text_size_ = encoded.size();
  const std::string_view text(line.text_.data(), line.text_size_);
  for (std::size_t marker = 0; marker < markers.size(); ++marker) {
    LineText marker_text;
    if (!encode_value_into(&marker_text, markers[marker])) {
      return std::nullopt;
    }
    const std::string_view wanted(marker_text.data(), marker_text.size());
    const std::size_t found = text.find(wanted);
    // A member's value follows its key's colon; the same text standing as a key, or
    // inside an array, is no member to replace.
    const bool once =
        found != std::string_view::npos && text.find(wanted, found + 1) == std::string_view::npos;
    if (!once || found == 0 || text[found - 1] != ':') {
      return std::nullopt;
    }
    line.slots_[line.slot_count_++] = {found, found + wanted.size(), marker};
  }
  const auto slots = std::span(line.slots_).first(line.slot_count_);
  std::sort(slots.begin(), slots.end(),
            [](const Slot& left, const Slot& right) { return left.begin < right.begin; });
  for (std::size_t slot = 1; slot < slots.size(); ++slot) {
    if (slots[slot].begin < slots[slot - 1].end) {
      return std::nullopt;
    }
  }
  return line;
}

bool LineTemplate::emit(std::FILE* out, std::span<const json_t* const> values) const {
  LineText line;
  std::size_t written = 0;
  for (const Slot& slot : std::span(slots_).first(slot_count_)) {
    line.append(text_.data() + written, slot.begin - written);
    if (!encode_value_into(&line, values[slot.marker])) {
      return false;
    }
    written = slot.end;
  }
  line.append(text_.data() + written, text_size_ - written);
  return write_line(out, &line);
}
