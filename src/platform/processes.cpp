// The grant command's search on PATH, the same on both systems but for
// the list separator and the command's file name.

#include "platform/processes.h"

#include <cstring>

#include "platform/path_buffer.h"

bool FindGrantCommand(char* found, std::size_t size) {
  const char* entry = LookupEnvironment("PATH");
  if (entry == nullptr) return false;
  for (;;) {
    const char* end = std::strchr(entry, kPathListSeparator);
    if (end == nullptr) end = entry + std::strlen(entry);
    const char* folder = entry;
    std::size_t length = static_cast<std::size_t>(end - entry);
    if (kPathEntriesMayBeQuoted && length >= 2 && folder[0] == '"' && folder[length - 1] == '"') {
      ++folder;
      length -= 2;
    }
    if (length < size) {
      std::memcpy(found, folder, length);
      found[length] = '\0';
      const bool separated = length > 0 && (found[length - 1] == kPathSeparator || found[length - 1] == '/');
      const char separator[] = {kPathSeparator, '\0'};
      if (IsFullPath(found) && JoinPathInto(found, size, found, separated ? "" : separator, kGrantCommandFile) == 0 &&
          IsRunnableFile(found)) {
        return true;
      }
    }
    if (*end == '\0') return false;
    entry = end + 1;
  }
}
