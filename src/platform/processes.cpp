// The grant command's search on PATH and its command line, the same on
// both systems but for the list separator, the command's file name and
// the name of Everyone.

#include "platform/environment.h"
#include "platform/processes.h"

#include <cstdio>
#include <cstring>

#include "platform/grant.h"
#include "platform/messages.h"
#include "platform/path_buffer.h"

namespace {

// A byte a name may hold bare on the command line: no parser, neither the
// runtime's nor the command interpreter's (were it typed again), takes it
// for anything but a character of the name.
bool IsPlain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.' || c >= 0x80;
}

}  // namespace

int GrantCommandLineFor(char* line, std::size_t size, const char* target, const char* group) {
  bool safe = group != nullptr && group[0] != '\0';
  bool plain = true;
  for (const char* at = safe ? group : ""; *at != '\0'; ++at) {
    const auto c = static_cast<unsigned char>(*at);
    if (c == '"' || c < 0x20 || c == 0x7F) safe = false;
    if (!IsPlain(c)) plain = false;
  }
  char named[kMaxPath];
  const int written = !safe ? std::snprintf(named, sizeof named, "%s", kEveryoneName)
                      : plain ? std::snprintf(named, sizeof named, "%s", group)
                              : std::snprintf(named, sizeof named, "\"%s\"", group);
  const int length = written < 0 || static_cast<std::size_t>(written) >= sizeof named
                         ? -1
                         : std::snprintf(line, size, kGrantCommand, target, named);
  if (length >= 0 && static_cast<std::size_t>(length) < size) return 0;
  if (size > 0) line[0] = '\0';
  return -1;
}

bool GrantCommandFound() {
  char found[4096];
  return FindGrantCommand(found, sizeof found);
}

int GrantCommandLine(char* line, std::size_t size, const char* target) {
  return GrantCommandLineFor(line, size, target, EveryoneGroupName());
}

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
