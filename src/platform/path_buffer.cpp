#include "platform/path_buffer.h"

#include <cstring>

#include "platform/win32.h"

int JoinPathInto(char* out, std::size_t size, const char* first, const char* second, const char* third) {
  const std::size_t first_length = std::strlen(first);
  const std::size_t second_length = std::strlen(second);
  const std::size_t third_length = std::strlen(third);
  const std::size_t length = first_length + second_length + third_length;
  if (length >= size) {
    if (size > 0) out[0] = '\0';
    return -1;
  }
  // first may be out itself: the parts after it go in behind it first.
  std::memmove(out + first_length + second_length, third, third_length);
  std::memmove(out + first_length, second, second_length);
  std::memmove(out, first, first_length);
  out[length] = '\0';
  return 0;
}

const char* PartBelow(const char* path, const char* folder) {
  const std::size_t length = std::strlen(folder);
  if (length == 0 || std::strncmp(path, folder, length) != 0 || path[length] != kPathSeparator) return nullptr;
  return path + length + 1;
}

std::size_t BoundedLength(const char* text) {
  const void* terminator = std::memchr(text, '\0', kMaxPath);
  if (terminator == nullptr) return kMaxPath;
  return static_cast<std::size_t>(static_cast<const char*>(terminator) - text);
}
