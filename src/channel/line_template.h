// A line whose text is known in advance but for a few member values: the reply to a
// call, which differs from the last only in its "request_id" and "value".
//
// The template is the encoder's own text of a whole message in which each unknown member
// holds a marker value; writing it splices the encoder's text of the actual values in
// place of the markers. Without indentation a value's text does not depend on where it
// stands, and the keys stand in sorted order whatever their values, so the line is byte
// for byte what emit writes for the message with its actual values, while only the
// values are encoded.
#ifndef SAMPLE_CHANNEL_LINE_TEMPLATE_H_
#define SAMPLE_CHANNEL_LINE_TEMPLATE_H_

#include <jansson.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <span>

class LineTemplate {
 public:
  static constexpr std::size_t MAX_MARKERS = 2;
  static constexpr std::size_t MAX_TEXT = 512;

  // Encodes `message` and finds in its text the encoding of each of `markers`, which must
  // stand there exactly once, as the value of a member. Returns none when the message
  // cannot be encoded, its text is longer than MAX_TEXT, or a marker's text is not found
  // exactly once or not as a member's value. The template keeps no reference to the
  // message or the markers.
  // REQUIRES: markers.size() <= MAX_MARKERS.
  static std::optional<LineTemplate> make(const json_t* message,
                                          std::span<const json_t* const> markers);

  // Writes the message's line with values[i] in the place of markers[i], as emit writes a
  // line: one line feed, one write where the stream is unbuffered, flushed. Returns true
  // when the whole line was written and flushed; false when a value could not be encoded
  // or writing or flushing failed, in which case part of the line may have been written.
  // REQUIRES: values.size() equals the number of markers given to make.
  bool emit(std::FILE* out, std::span<const json_t* const> values) const;

 private:
  // Where a marker's text stands in the message's text; slots are kept in text order.
  struct Slot {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t marker = 0;
  };

  LineTemplate() = default;

  std::array<char, MAX_TEXT> text_{};
  std::size_t text_size_ = 0;
  std::array<Slot, MAX_MARKERS> slots_{};
  std::size_t slot_count_ = 0;
};

#endif  // SAMPLE_CHANNEL_LINE_TEMPLATE_H_
