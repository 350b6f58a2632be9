#include "driver/path_buffer.h"

#include <cstring>

int JoinPath(PathBuffer out, const char* first, const char* second,
             const char* third) {
  const std::size_t first_length = std::strlen(first);
  const std::size_t second_length = std::strlen(second);
  const std::size_t third_length = std::strlen(third);
  if (first_length + second_length + third_length >= kMaxPath) {
    out[0] = '\0';
    return -1;
  }
  // The parts may alias out (a path extended in place), so move, not copy.
  char joined[kMaxPath];
  std::memcpy(joined, first, first_length);
  std::memcpy(joined + first_length, second, second_length);
  std::memcpy(joined + first_length + second_length, third, third_length);
  joined[first_length + second_length + third_length] = '\0';
  std::memcpy(out, joined, first_length + second_length + third_length + 1);
  return 0;
}

std::size_t BoundedLength(const char* text) {
  const void* terminator = std::memchr(text, '\0', kMaxPath);
  if (terminator == nullptr) return kMaxPath;
  return static_cast<std::size_t>(static_cast<const char*>(terminator) - text);
}
