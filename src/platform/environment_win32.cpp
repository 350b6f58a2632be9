// The environment on Windows: the runtime's own lookup, the shell's
// folders, and which paths name the same place from any current drive and
// directory.

#include <shlobj.h>

#include <cstdlib>

#include "platform/environment.h"
#include "platform/win32.h"

const char* LookupEnvironment(const char* name) {
  // The runtime's environment already matches names without regard to case.
  return std::getenv(name);
}

int GetShellFolder(ShellFolder folder, PathBuffer path) {
  static const int kFolderIds[] = {CSIDL_PROFILE, CSIDL_STARTMENU, CSIDL_WINDOWS, CSIDL_COMMON_STARTMENU};
  // Only the path is wanted: a Start Menu not there yet is an empty one,
  // as elsewhere, and a look must neither create a folder nor wait for a
  // server to say that a redirected one is there.
  const int id = kFolderIds[static_cast<int>(folder)] | CSIDL_FLAG_DONT_VERIFY;
  path[0] = '\0';
  if (SHGetFolderPathA(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK || path[0] == '\0') {
    path[0] = '\0';
    return -1;
  }
  return 0;
}

bool IsFullPath(const char* path) {
  const bool drive = path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || (path[0] == '\\' && path[1] == '\\');
}
