// Where two outputs part, told to people: the line, the column and the byte, both sides
// around it made visible, and a mark under the first byte that differs.
#ifndef HOST_TEXT_DIFFERENCE_H_
#define HOST_TEXT_DIFFERENCE_H_

#include <cstddef>
#include <string>

struct OutputSides {
  const char* expected_label;  // "expected", "reference"
  const char* actual_label;    // "got", "candidate"
  const char* expected_count;  // "expected", "from the reference"
  const char* actual_count;    // "written", "from the candidate"
};

// The first difference between `expected` and `actual`, where `actual_total` is how many
// bytes were written in all, of which `actual` holds the first. The first line says where
// ("output differs at line 3, column 41 (byte 1024)") and, when the lengths differ, both;
// the next three show both sides around it, labelled, and the mark.
// REQUIRES: the two differ, in their bytes or in their lengths.
std::string first_difference(const std::string& expected, const std::string& actual,
                             std::size_t actual_total,
                             OutputSides sides = {"expected", "got", "expected", "written"});

#endif  // HOST_TEXT_DIFFERENCE_H_
