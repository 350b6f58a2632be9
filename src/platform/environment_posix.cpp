// The environment on POSIX: variables found without regard to case, as
// Windows finds them, no shell folders, and which paths are full.

#include <cstring>

#include "platform/ascii_case.h"
#include "platform/environment.h"
#include "platform/win32.h"

extern char** environ;

const char* LookupEnvironment(const char* name) {
  const std::size_t name_length = std::strlen(name);
  const char* folded_match = nullptr;
  for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
    const char* entry = *variable;
    if (std::strncmp(entry, name, name_length) == 0 && entry[name_length] == '=') {
      return entry + name_length + 1;
    }
    if (folded_match != nullptr) continue;
    std::size_t i = 0;
    while (i < name_length && entry[i] != '\0' && entry[i] != '=' &&
           FoldAsciiCase(entry[i]) == FoldAsciiCase(name[i])) {
      ++i;
    }
    if (i == name_length && entry[i] == '=') folded_match = entry + name_length + 1;
  }
  return folded_match;
}

int GetShellFolder(ShellFolder, PathBuffer path) {
  // No shell keeps folders here: UserProfile and SystemRoot say it all.
  path[0] = '\0';
  return -1;
}

bool IsFullPath(const char* path) {
  return path[0] == '/';
}
