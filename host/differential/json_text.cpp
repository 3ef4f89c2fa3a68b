// Writing JSON text trees.
#include "differential/json_text.h"

std::string JsonText::render(std::string_view spacing) const {
  switch (kind) {
    case Kind::kScalar:
      return scalar;
    case Kind::kArray: {
      std::string text = "[";
      text += spacing;
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) {
          text += ',';
          text += spacing;
        }
        text += items[i].render(spacing);
      }
      text += spacing;
      return text + "]";
    }
    case Kind::kObject: {
      std::string text = "{";
      text += spacing;
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i != 0) {
          text += ',';
          text += spacing;
        }
        text += members[i].first;
        text += ':';
        text += spacing;
        text += members[i].second.render(spacing);
      }
      text += spacing;
      return text + "}";
    }
  }
  return "";
}

std::size_t JsonText::size() const {
  std::size_t count = 1;
  for (const JsonText& item : items) {
    count += item.size();
  }
  for (const auto& [key, value] : members) {
    count += value.size();
  }
  return count;
}

std::pair<std::string, JsonText> member(const std::string& key, JsonText value) {
  return {"\"" + key + "\"", std::move(value)};
}

std::string json_escaped(std::string_view text) {
  std::string escaped;
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (character == '"' || character == '\\') {
      escaped += '\\';
      escaped += character;
    } else if (byte < 0x20) {
      constexpr char HEX[] = "0123456789abcdef";
      escaped += "\\u00";
      escaped += HEX[byte >> 4U];
      escaped += HEX[byte & 0xfU];
    } else {
      escaped += character;
    }
  }
  return escaped;
}
