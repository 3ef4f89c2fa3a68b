// Text shown to people: what an extension or a case folder sends can command no terminal,
// and what is long is kept by its ends.
#include <gtest/gtest.h>

#include <string>

#include "text/bounded_text.h"
#include "text/visible.h"

namespace {

TEST(Visible, LeavesPrintableUtf8AsItIs) {
  for (const std::string text :
       {"hello", "h\xc3\xa9llo", "\xe4\xb8\x96\xe7\x95\x8c", "\xf0\x9f\x98\x80",
        R"({"a":"\u00e9\\n"})", "tab\\tis text", "\xe2\x82\xac 5"}) {
    EXPECT_EQ(visible(text), text);
    EXPECT_TRUE(shows_as_is(text)) << text;
  }
}

TEST(Visible, EscapesWhatCouldCommandATerminal) {
  struct Case {
    std::string bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"\x1b[2J", "\\x1b[2J"},                         // clear the screen
      {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},      // set the window's title
      {"\x1b]52;c;aGk=\x07", "\\x1b]52;c;aGk=\\x07"},  // write the clipboard
      {"a\rb\nc\td", "a\\rb\\nc\\td"},                 // carriage return, line feed, tab
      {std::string("nul\0x", 5), "nul\\x00x"},         // NUL
      {"\x7f", "\\x7f"},                               // DEL
      {"\xc2\x9b"
       "2J",
       "\\u{009B}2J"},            // CSI as one C1 character
      {"\xc2\x85", "\\u{0085}"},  // NEL
      {"abc\xe2\x80\xae"
       "cba",
       "abc\\u{202E}cba"},  // right-to-left override
      {"\xe2\x80\xaa\xe2\x81\xa6\xe2\x81\xa9", "\\u{202A}\\u{2066}\\u{2069}"},
      {"\xef\xbf\xbe\xef\xbf\xbf", "\\u{FFFE}\\u{FFFF}"},  // noncharacters
      {"\xef\xbb\xbf{}", "\\u{FEFF}{}"},                   // a byte-order mark
      {"a\xe2\x80\x8b\xe2\x80\x8f"
       "b",
       "a\\u{200B}\\u{200F}b"},  // zero width, right-to-left mark
      {"\xe2\x80\xa8\xe2\x81\xa0\xd8\x9c", "\\u{2028}\\u{2060}\\u{061C}"},
      // Characters that show nothing, as Unicode's classes tell: a soft hyphen, the
      // Mongolian vowel separator, a Hangul filler, an interlinear annotation anchor, a
      // tag, a code point no version of Unicode has assigned yet.
      {"a\xc2\xad"
       "b",
       "a\\u{00AD}b"},
      {"\xe1\xa0\x8e\xe3\x85\xa4\xef\xbf\xb9", "\\u{180E}\\u{3164}\\u{FFF9}"},
      {"\xf3\xa0\x81\x81\xf3\xa0\x81\xbf", "\\u{E0041}\\u{E007F}"},
      {"\xf0\xaf\xbf\xbe", "\\u{2FFFE}"},
  };
  for (const Case& each : cases) {
    EXPECT_EQ(visible(each.bytes), each.shown);
    EXPECT_FALSE(shows_as_is(each.bytes));
  }
}

TEST(Visible, EscapesEachByteThatIsNoUtf8) {
  struct Case {
    std::string bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"\xff", "\\xff"},
      {"a\xc3", "a\\xc3"},                           // cut short at the end
      {"\xc3(", "\\xc3("},                           // a lead byte without its follower
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong '/'
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},           // overlong, three bytes
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // an encoded surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // above U+10FFFF
      {"\x80", "\\x80"},                             // a follower alone
  };
  for (const Case& each : cases) {
    EXPECT_EQ(visible(each.bytes), each.shown);
  }
}

TEST(Visible, KeepsLineFeedsWhenAskedAndCutsAtACharactersEnd) {
  EXPECT_EQ(visible_lines("one\ntwo\x1b\n"), "one\ntwo\\x1b\n");
  EXPECT_EQ(visible_prefix("h\xc3\xa9llo", 2), "h\xc3\xa9...");
  EXPECT_EQ(visible_prefix("abc", 3), "abc");
  EXPECT_EQ(visible_prefix("\x1b\x1b", 1), "\\x1b...");
}

TEST(BoundedText, KeepsBothEndsAndTheCount) {
  BoundedText text(4, 4);
  text.append("abc");
  EXPECT_EQ(text.for_people(), "abc");
  text.append("defgh");
  EXPECT_EQ(text.for_people(), "abcdefgh") << "head and tail meet: nothing left out";
  for (int i = 0; i < 1000; ++i) {
    text.append("x");
  }
  text.append("wxyz");
  EXPECT_EQ(text.total(), 1012U);
  EXPECT_TRUE(text.cut());
  EXPECT_EQ(text.for_people("--raw shows more"),
            "abcd\n[... 1004 bytes left out of 1012; --raw shows more ...]\nwxyz");
  BoundedText whole(1U << 20U, 4);
  whole.append(std::string(100000, 'y'));
  EXPECT_EQ(whole.for_people(), std::string(100000, 'y'));
}

}  // namespace
