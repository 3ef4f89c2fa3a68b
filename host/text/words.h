// Counts in English.
#ifndef HOST_TEXT_WORDS_H_
#define HOST_TEXT_WORDS_H_

#include <cstddef>
#include <string>

// "1 line", "2 lines", "0 lines".
inline std::string counted(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

#endif  // HOST_TEXT_WORDS_H_
