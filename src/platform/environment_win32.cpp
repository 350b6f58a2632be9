// The environment on Windows: the runtime's own lookup, and which paths
// name the same place from any current drive and directory.

#include <cstdlib>

#include "platform/platform.h"

const char* LookupEnvironment(const char* name) {
  // The runtime's environment already matches names without regard to case.
  return std::getenv(name);
}

bool IsFullPath(const char* path) {
  const bool drive = path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || (path[0] == '\\' && path[1] == '\\');
}
