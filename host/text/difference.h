// Where two outputs part, told to people.
#ifndef HOST_TEXT_DIFFERENCE_H_
#define HOST_TEXT_DIFFERENCE_H_

#include <cstddef>
#include <string>

// Where the first difference between `expected` and `actual` lies, in words: the line,
// the byte offset, and both texts around it made visible. `actual_total` is how many
// bytes were written in all, of which `actual` holds the first.
std::string first_difference(const std::string& expected, const std::string& actual,
                             std::size_t actual_total);

#endif  // HOST_TEXT_DIFFERENCE_H_
