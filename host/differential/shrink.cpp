// Greedy shrinking: each step tries smaller forms in turn and keeps the first that still
// differs, until no step helps or the budget is spent.
#include "differential/shrink.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

// `content` between quotes. (Built by appending: GCC 12 at -O3 takes a quote put in front
// of a temporary string for an overlapping copy, a known false alarm.)
std::string string_text(std::string_view content) {
  std::string text;
  text.reserve(content.size() + 2);
  text += '"';
  text += content;
  text += '"';
  return text;
}

class Shrinker {
 public:
  Shrinker(GeneratedConversation start, const StillDiffers& differs, std::size_t budget)
      : best_(std::move(start)), differs_(differs), budget_(budget) {}

  GeneratedConversation run() {
    if (best_.arguments != std::vector<std::string>{"--protocol", "1"}) {
      GeneratedConversation plain = best_;
      plain.arguments = {"--protocol", "1"};
      try_keep(plain);
    }
    drop_lines();
    for (bool smaller = true; smaller && budget_ > 0;) {
      smaller = false;
      for (std::size_t line = 0; line < best_.lines.size() && budget_ > 0; ++line) {
        smaller = simplify_line(line) || smaller;
      }
      if (smaller) {
        drop_lines();
      }
    }
    return best_;
  }

 private:
  bool try_keep(const GeneratedConversation& candidate) {
    if (budget_ == 0) {
      return false;
    }
    --budget_;
    if (!differs_(candidate)) {
      return false;
    }
    best_ = candidate;
    return true;
  }

  // Removes runs of lines, the longest runs first.
  void drop_lines() {
    for (std::size_t run = std::max<std::size_t>(best_.lines.size() / 2, 1); run > 0; run /= 2) {
      for (std::size_t start = 0; start + run <= best_.lines.size() && budget_ > 0;) {
        GeneratedConversation candidate = best_;
        const auto first = candidate.lines.begin() + static_cast<std::ptrdiff_t>(start);
        candidate.lines.erase(first, first + static_cast<std::ptrdiff_t>(run));
        if (!try_keep(candidate)) {
          ++start;
        }
      }
    }
  }

  // One step down for line `index`; returns whether one was kept. The simplest lines are
  // tried first: a blank one, then an empty object, so that a difference that any refused
  // line shows is shown by the plainest.
  bool simplify_line(std::size_t index) {
    const GeneratedLine& line = best_.lines[index];
    std::vector<GeneratedLine> candidates;
    const GeneratedLine blank{std::nullopt, "", "", "\n", "", ""};
    const GeneratedLine empty_object = message_line(JsonText::object());
    const std::string text = line.render();
    if (text != blank.render()) {
      candidates.push_back(blank);
      if (text != empty_object.render()) {
        candidates.push_back(empty_object);
      }
    }
    if (!line.prefix.empty()) {
      candidates.push_back(line);
      candidates.back().prefix.clear();
    }
    if (!line.spacing.empty()) {
      candidates.push_back(line);
      candidates.back().spacing.clear();
    }
    if (!line.trailer.empty()) {
      candidates.push_back(line);
      candidates.back().trailer.clear();
    }
    if (line.end != "\n") {
      candidates.push_back(line);
      candidates.back().end = "\n";
    }
    if (line.message) {
      for (JsonText& simpler : simpler_forms(*line.message)) {
        candidates.push_back(line);
        candidates.back().message = std::move(simpler);
      }
    } else {
      for (std::string& cut : cuts(line.raw)) {
        candidates.push_back(line);
        candidates.back().raw = std::move(cut);
      }
    }
    for (GeneratedLine& candidate_line : candidates) {
      GeneratedConversation candidate = best_;
      candidate.lines[index] = std::move(candidate_line);
      if (try_keep(candidate)) {
        return true;
      }
    }
    return false;
  }

  // The bytes with a piece taken out: halves first, then smaller pieces, up to 16 tries.
  static std::vector<std::string> cuts(const std::string& bytes) {
    std::vector<std::string> smaller;
    for (std::size_t piece = bytes.size() / 2; piece > 0 && smaller.size() < 16; piece /= 2) {
      for (std::size_t at = 0; at + piece <= bytes.size() && smaller.size() < 16; at += piece) {
        smaller.push_back(bytes.substr(0, at) + bytes.substr(at + piece));
      }
    }
    return smaller;
  }

  // A string's content cut into what a reader takes as one: an escape ("\n", "\u00e9"),
  // a UTF-8 character, or a byte that is neither.
  static std::vector<std::string_view> units_of(std::string_view content) {
    std::vector<std::string_view> units;
    while (!content.empty()) {
      std::size_t length = 1;
      const auto lead = static_cast<unsigned char>(content[0]);
      if (lead == '\\' && content.size() > 1) {
        length = content[1] == 'u' ? std::min<std::size_t>(6, content.size()) : 2;
      } else if (lead >= 0xC0) {
        length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        // Only whole characters: a lead byte without its followers stands alone.
        for (std::size_t i = 1; i < length; ++i) {
          if (i >= content.size() || (static_cast<unsigned char>(content[i]) & 0xC0U) != 0x80U) {
            length = 1;
            break;
          }
        }
      }
      units.push_back(content.substr(0, length));
      content.remove_prefix(length);
    }
    return units;
  }

  static std::string joined(const std::vector<std::string_view>& units, std::size_t from,
                            std::size_t to, std::size_t skip_from, std::size_t skip_to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
      if (i < skip_from || i >= skip_to) {
        text += units[i];
      }
    }
    return text;
  }

  // A string made simpler inside, by whole characters and escapes: empty, either half,
  // then, for a short one, each with one unit left out.
  static std::vector<std::string> simpler_strings(std::string_view content) {
    std::vector<std::string> simpler = {string_text("")};
    const std::vector<std::string_view> units = units_of(content);
    if (units.size() > 1) {
      const std::size_t half = units.size() / 2;
      simpler.push_back(string_text(joined(units, 0, half, 0, 0)));
      simpler.push_back(string_text(joined(units, half, units.size(), 0, 0)));
    }
    if (units.size() > 1 && units.size() <= 24) {
      for (std::size_t i = 0; i < units.size(); ++i) {
        simpler.push_back(string_text(joined(units, 0, units.size(), i, i + 1)));
      }
    }
    return simpler;
  }

  // The scalar's text made simpler: a shorter string, a smaller number, fewer levels.
  static std::vector<std::string> simpler_scalars(const std::string& text) {
    std::vector<std::string> simpler;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
      simpler = simpler_strings(std::string_view(text).substr(1, text.size() - 2));
    } else if (text.size() > 2 && text.front() == '[') {
      const std::size_t levels = text.find_first_not_of('[');
      if (levels != std::string::npos && levels > 1) {
        const std::size_t kept = levels / 2;
        simpler.push_back(std::string(kept, '[') + text.substr(levels, text.size() - 2 * levels) +
                          std::string(kept, ']'));
      }
    } else if (text != "0" && text != "null") {
      simpler.emplace_back("0");
      if (text.size() > 1) {
        simpler.push_back(text.substr(0, text.size() - 1));
      }
    }
    std::erase(simpler, text);
    return simpler;
  }

  // Every tree one step simpler than `node`: a member or an element dropped, a container
  // replaced by one of its children, a scalar made simpler; the same below.
  static std::vector<JsonText> simpler_forms(const JsonText& node) {
    std::vector<JsonText> forms;
    switch (node.kind) {
      case JsonText::Kind::kScalar:
        for (std::string& text : simpler_scalars(node.scalar)) {
          forms.push_back(JsonText::raw(std::move(text)));
        }
        return forms;
      case JsonText::Kind::kArray:
        for (std::size_t i = 0; i < node.items.size(); ++i) {
          JsonText fewer = node;
          fewer.items.erase(fewer.items.begin() + static_cast<std::ptrdiff_t>(i));
          forms.push_back(std::move(fewer));
        }
        for (const JsonText& item : node.items) {
          if (item.kind != JsonText::Kind::kScalar) {
            forms.push_back(item);  // shallower
          }
        }
        for (std::size_t i = 0; i < node.items.size(); ++i) {
          for (JsonText& simpler : simpler_forms(node.items[i])) {
            JsonText changed = node;
            changed.items[i] = std::move(simpler);
            forms.push_back(std::move(changed));
          }
        }
        return forms;
      case JsonText::Kind::kObject:
        for (std::size_t i = 0; i < node.members.size(); ++i) {
          JsonText fewer = node;
          fewer.members.erase(fewer.members.begin() + static_cast<std::ptrdiff_t>(i));
          forms.push_back(std::move(fewer));
        }
        for (std::size_t i = 0; i < node.members.size(); ++i) {
          for (JsonText& simpler : simpler_forms(node.members[i].second)) {
            JsonText changed = node;
            changed.members[i].second = std::move(simpler);
            forms.push_back(std::move(changed));
          }
        }
        return forms;
    }
    return forms;
  }

  GeneratedConversation best_;
  const StillDiffers& differs_;
  std::size_t budget_;
};

}  // namespace

GeneratedConversation shrink(GeneratedConversation conversation, const StillDiffers& differs,
                             std::size_t budget) {
  return Shrinker(std::move(conversation), differs, budget).run();
}
