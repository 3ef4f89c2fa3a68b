// Text from outside the host, made safe to show: whatever an extension writes, and
// whatever a case folder holds or is named, can reach a terminal or a report only
// through here.
//
// Printable UTF-8 stays as it is, so "héllo, 世界" reads as written. Everything that
// could command a terminal or hide what is shown is written as a visible escape instead:
// control characters (C0, DEL, C1) as \t, \r, \n or \xHH; the bidirectional overrides,
// isolates and marks, the characters that show nothing (zero widths, the word joiner,
// the byte-order mark U+FEFF), the line and paragraph separators and the noncharacters
// U+FFFE and U+FFFF as \u{HHHH}; and every byte that is not part of valid UTF-8 (overlong forms and
// encoded surrogates included) as \xHH. Backslashes stay single, so JSON's own escapes
// read as JSON: an escape from here cannot be told from the same text sent as is, but
// neither can command anything.
#ifndef HOST_TEXT_VISIBLE_H_
#define HOST_TEXT_VISIBLE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// `bytes` as one line of visible text: line feeds are escaped too.
std::string visible(std::string_view bytes);

// A name (a case's, a file's, a path) as visible(), but with each of its own backslashes
// doubled, so that two different names never look the same: the byte ESC reads \x1b,
// and the four characters \x1b read \\x1b.
std::string visible_name(std::string_view bytes);

// `bytes` as visible text that keeps its line feeds: for text of several lines.
std::string visible_lines(std::string_view bytes);

// visible(bytes), cut to at most about `limit` bytes of shown text at a character's end,
// followed by "..." when cut; `*cut` (when given) tells whether it was. Only what is shown
// is read, however long `bytes` is.
std::string visible_prefix(std::string_view bytes, std::size_t limit, bool* cut = nullptr);

// `text` with `prefix` after each of its line feeds but a last one: a text of several
// lines indented under the line it begins on.
std::string continued(std::string_view text, std::string_view prefix);

// Whether `bytes` is valid UTF-8 that visible() leaves as it is.
bool shows_as_is(std::string_view bytes);

// `words` as a person would type them in a shell, each made visible and quoted where it
// must be: a command line shown as the extension got it.
std::string shell_quoted(const std::vector<std::string>& words);

// shell_quoted(words), bounded for a report however long the words: each word shown by
// at most its first `word_limit` bytes, and the words after `limit` bytes of the line
// counted rather than shown ("... and 3 more words, 40000000 bytes in all").
std::string shell_quoted_short(const std::vector<std::string>& words, std::size_t word_limit = 200,
                               std::size_t limit = 2000);

// What the escapes in shown text mean, in one line, for the first report that holds one:
// \xNN (a byte), \u{NNNN} (a character that shows nothing), and JSON's own \uNNNN.
extern const char ESCAPE_LEGEND[];

// Whether shown text holds an escape that ESCAPE_LEGEND tells of.
bool holds_an_escape(std::string_view shown);

#endif  // HOST_TEXT_VISIBLE_H_
