// Decoding UTF-8 strictly and escaping what must not reach a terminal.
#include "text/visible.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <utf8proc.h>

namespace {

// The length of the valid UTF-8 sequence at the start of `bytes` and its code point, or
// 0 when the first byte does not begin one (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF).
std::size_t decode(std::string_view bytes, std::uint32_t* code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  std::size_t length = 0;
  std::uint32_t value = 0;
  std::uint8_t low = 0x80;  // the second byte's range, narrowed where forms are excluded
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1FU;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0FU;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // overlong
    high = lead == 0xED ? 0x9F : 0xBF;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07U;
    low = lead == 0xF0 ? 0x90 : 0x80;   // overlong
    high = lead == 0xF4 ? 0x8F : 0xBF;  // above U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
      return 0;
    }
    value = (value << 6U) | (next & 0x3FU);
  }
  *code_point = value;
  return length;
}

// Controls, and the characters that change or hide what is around them without showing
// themselves, as Unicode's own classes tell them: format characters (a soft hyphen, the
// bidirectional overrides and isolates, zero widths, tags, a byte-order mark), the line
// and paragraph separators, surrogates, code points with no character (noncharacters
// among them, and those this Unicode version does not know), and every code point Unicode
// says a renderer may ignore (a Hangul filler, variation selectors). A byte-order mark in
// a line must be seen as one.
bool must_escape(std::uint32_t code_point) {
  if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) {
    return true;  // C0, DEL, C1: the terminal's own commands
  }
  const auto character = static_cast<utf8proc_int32_t>(code_point);
  switch (utf8proc_category(character)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    default:
      return utf8proc_get_property(character)->ignorable;
  }
}

void append_escape(std::string* text, std::uint32_t code_point, std::size_t length) {
  std::array<char, 16> escape{};
  if (code_point == '\t') {
    *text += "\\t";
  } else if (code_point == '\r') {
    *text += "\\r";
  } else if (code_point == '\n') {
    *text += "\\n";
  } else if (length == 1) {
    std::snprintf(escape.data(), escape.size(), "\\x%02x", code_point);
    *text += escape.data();
  } else {
    std::snprintf(escape.data(), escape.size(), "\\u{%04X}", code_point);
    *text += escape.data();
  }
}

// Appends the visible form of `bytes` to `*text`, stopping once it holds `limit` bytes at
// a character's end. Returns how many bytes of `bytes` were shown.
std::size_t append_visible(std::string* text, std::string_view bytes, bool keep_line_feeds,
                           std::size_t limit) {
  std::size_t at = 0;
  while (at < bytes.size() && text->size() < limit) {
    std::uint32_t code_point = 0;
    const std::size_t length = decode(bytes.substr(at), &code_point);
    if (length == 0) {
      append_escape(text, static_cast<std::uint8_t>(bytes[at]), 1);  // a byte that is no UTF-8
      at += 1;
    } else if (must_escape(code_point) && !(keep_line_feeds && code_point == '\n')) {
      append_escape(text, code_point, length);
      at += length;
    } else {
      text->append(bytes.substr(at, length));
      at += length;
    }
  }
  return at;
}

}  // namespace

std::string visible(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  append_visible(&text, bytes, false, std::string::npos);
  return text;
}

std::string visible_lines(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  append_visible(&text, bytes, true, std::string::npos);
  return text;
}

std::string visible_prefix(std::string_view bytes, std::size_t limit, bool* cut) {
  std::string text;
  const bool shortened = append_visible(&text, bytes, false, limit) < bytes.size();
  if (shortened) {
    text += "...";
  }
  if (cut != nullptr) {
    *cut = shortened;
  }
  return text;
}

std::string continued(std::string_view text, std::string_view prefix) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    result += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) {
      result += prefix;
    }
  }
  return result;
}

bool shows_as_is(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::uint32_t code_point = 0;
    const std::size_t length = decode(bytes.substr(at), &code_point);
    if (length == 0 || must_escape(code_point)) {
      return false;
    }
    at += length;
  }
  return true;
}

const char ESCAPE_LEGEND[] =
    "escapes: \\xNN is a byte shown by its value (a control byte, or one that is no UTF-8); "
    "\\u{NNNN} a character that shows nothing or turns text; \\uNNNN is JSON's own escape, as "
    "the extension wrote it; in names, \\\\ is a backslash";

bool holds_an_escape(std::string_view shown) {
  for (std::size_t at = shown.find('\\'); at != std::string_view::npos && at + 1 < shown.size();
       at = shown.find('\\', at + 2)) {
    const char next = shown[at + 1];
    if (next == 'x' || next == 'u') {
      return true;
    }
  }
  return false;
}

std::string visible_name(std::string_view bytes) {
  // A backslash is never part of a longer UTF-8 character: the name splits at each.
  std::string shown;
  for (std::size_t start = 0;;) {
    const std::size_t backslash = bytes.find('\\', start);
    shown += visible(bytes.substr(start, backslash - start));
    if (backslash == std::string_view::npos) {
      return shown;
    }
    shown += "\\\\";
    start = backslash + 1;
  }
}

std::string shell_quoted(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) {
      line += ' ';
    }
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_./=:,+@%") == std::string::npos;
    if (plain) {
      line += visible(word);
      continue;
    }
    line += '\'';
    for (const char character : visible(word)) {
      if (character == '\'') {
        line += "'\\''";
      } else {
        line += character;
      }
    }
    line += '\'';
  }
  return line;
}

std::string shell_quoted_short(const std::vector<std::string>& words, std::size_t word_limit,
                               std::size_t limit) {
  std::string line;
  std::size_t total = 0;
  for (const std::string& word : words) {
    total += word.size() + 1;
  }
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (line.size() > limit) {
      const std::size_t left = words.size() - i;
      return line + " ... and " + std::to_string(left) +
             (left == 1 ? " more word, " : " more words, ") + std::to_string(total) +
             " bytes in all";
    }
    bool cut = false;
    const std::string shown = visible_prefix(words[i], word_limit, &cut);
    if (!line.empty()) {
      line += ' ';
    }
    if (cut) {
      line += shell_quoted({shown});
      line += "(";
      line += std::to_string(words[i].size());
      line += " bytes)";
    } else {
      line += shell_quoted({words[i]});
    }
  }
  return line;
}
