// A command line given as one value is split as the shell a user typed it into would
// split it, so that what they would run is what runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/shell_words.h"

namespace {

TEST(ShellWords, SplitsAsAShellDoes) {
  struct Case {
    std::string line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"node units.js", {"node", "units.js"}},
      {"  python3\t-u  port.py \n", {"python3", "-u", "port.py"}},
      {"'/opt/my tools/ext' --fast", {"/opt/my tools/ext", "--fast"}},
      {R"("a \"quoted\" \$word \\ \x")", {R"(a "quoted" $word \ \x)"}},
      {R"(one\ word two)", {"one word", "two"}},
      {R"('' "" x)", {"", "", "x"}},
      {R"(pre'mid dle'"post")", {"premid dlepost"}},
      {"$HOME/*.js", {"$HOME/*.js"}},
      {"joined\\\nline", {"joinedline"}},
      {"\"in\\\nside\"", {"inside"}},
  };
  for (const Case& test : cases) {
    std::string problem;
    const std::optional<std::vector<std::string>> words = shell_words(test.line, &problem);
    ASSERT_TRUE(words) << test.line << ": " << problem;
    EXPECT_EQ(*words, test.words) << test.line;
  }
}

TEST(ShellWords, RefusesWhatAShellWouldWaitOn) {
  std::string problem;
  ASSERT_TRUE(shell_words("'closed' \"closed\" x\\ y", &problem));
  for (const std::string line : {"'open", "\"open", "trailing\\", "", "  \t"}) {
    problem.clear();
    EXPECT_FALSE(shell_words(line, &problem)) << line;
    EXPECT_FALSE(problem.empty()) << line;
  }
}

}  // namespace
