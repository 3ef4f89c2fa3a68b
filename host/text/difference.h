// Bytes shown to people: escaped where they are not printable, and where two outputs part.
#ifndef HOST_TEXT_DIFFERENCE_H_
#define HOST_TEXT_DIFFERENCE_H_

#include <cstddef>
#include <string>

// Where the first difference between `expected` and `actual` lies, in words: the line,
// the byte offset, and both texts around it with unprintable bytes escaped.
std::string first_difference(const std::string& expected, const std::string& actual);

// `text` with bytes outside printable ASCII escaped (\n, \xHH), at most `limit` bytes of it.
std::string printable(const std::string& text, std::size_t limit);

#endif  // HOST_TEXT_DIFFERENCE_H_
