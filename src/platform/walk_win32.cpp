// The walk on Windows: the Start Menus held, the user's looked at for a
// reparse point before it is entered and followed through one only when
// the running account owns it, and every folder below held while the scan
// is in it or below it. Each is held without FILE_SHARE_DELETE, so that no
// name on the way can be renamed, deleted or swapped for a junction while
// the walk reaches what lies below by its path.

#include <aclapi.h>

#include "platform/errors.h"
#include "platform/walk.h"

namespace {

// Opened to list, a reparse point itself when open_link says so.
HANDLE OpenFolder(const char* path, bool open_link, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (open_link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  return CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL, share, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

bool SidIn(HANDLE token, TOKEN_INFORMATION_CLASS kind, PSID sid) {
  union {
    TOKEN_USER user;
    TOKEN_OWNER owner;
    BYTE bytes[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  } information;
  DWORD length = 0;
  if (!GetTokenInformation(token, kind, &information, sizeof information, &length)) return false;
  const PSID own = kind == TokenUser ? information.user.User.Sid : information.owner.Owner;
  return EqualSid(own, sid) != FALSE;
}

// True when the running account owns what handle holds: its user, or the
// owner it gives what it makes (an elevated administrator's files belong
// to the Administrators group).
bool OwnedByRunner(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  HANDLE token = nullptr;
  bool owned = false;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    owned = SidIn(token, TokenUser, owner) || SidIn(token, TokenOwner, owner);
    CloseHandle(token);
  }
  LocalFree(descriptor);
  return owned;
}

int Refuse(MenuRoot& root, DWORD error) {
  LetGoOfStartMenu(root);
  root.error = error;
  SetLastError(error);
  return -1;
}

bool NotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY;
}

}  // namespace

int HoldStartMenu(MenuRoot& root, const char* path, MenuOwner owner) {
  root = MenuRoot{path, INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE};
  const bool users = owner == MenuOwner::kUser;
  // A junction is held sharing neither deletion nor writing: it can be
  // neither removed nor pointed elsewhere while the path leads through it.
  HANDLE folder = OpenFolder(path, users, users ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (folder == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return NotThere(error) ? 0 : Refuse(root, error);
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(folder, &information)) {
    const DWORD error = GetLastError();
    CloseHandle(folder);
    return Refuse(root, error);
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(folder);
    return 0;  // a file: no Start Menu, as when nothing is there
  }
  if (users && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (!OwnedByRunner(folder)) {
      CloseHandle(folder);
      return Refuse(root, kErrorUntrustedLink);
    }
    // The junction stays held while the folder it leads to is opened
    // through it, and for the rest of the run.
    root.link = folder;
    folder = OpenFolder(path, false);
    if (folder == INVALID_HANDLE_VALUE) return Refuse(root, GetLastError());
  } else if (users) {
    // Held as every other folder of the walk is.
    CloseHandle(folder);
    folder = OpenFolder(path, true);
    if (folder == INVALID_HANDLE_VALUE) return Refuse(root, GetLastError());
  }
  root.folder = folder;
  root.error = ERROR_SUCCESS;
  return 0;
}

bool SameMenu(const MenuRoot& a, const MenuRoot& b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return a.folder != INVALID_HANDLE_VALUE && b.folder != INVALID_HANDLE_VALUE &&
         GetFileInformationByHandle(a.folder, &first) && GetFileInformationByHandle(b.folder, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

void LetGoOfStartMenu(MenuRoot& root) {
  if (root.folder != INVALID_HANDLE_VALUE) CloseHandle(root.folder);
  if (root.link != INVALID_HANDLE_VALUE) CloseHandle(root.link);
  root.folder = INVALID_HANDLE_VALUE;
  root.link = INVALID_HANDLE_VALUE;
}

int OpenMenuRoot(const MenuRoot& root, MenuFolder& folder) {
  folder = MenuFolder{INVALID_HANDLE_VALUE, root.path};
  if (root.folder == INVALID_HANDLE_VALUE) {
    SetLastError(root.error);
    return -1;
  }
  // A handle of the walk's own, to be closed with the walk.
  if (!DuplicateHandle(GetCurrentProcess(), root.folder, GetCurrentProcess(), &folder.handle, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    folder.handle = INVALID_HANDLE_VALUE;
    return -1;
  }
  return 0;
}

int OpenSubfolder(const MenuFolder&, const char*, const char* path, MenuFolder& folder) {
  // The parent is held, so path reaches into the folder the listing named;
  // a junction there now is not entered: it is not there.
  folder = MenuFolder{OpenFolder(path, true), path};
  if (folder.handle == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(folder.handle, &information)) {
    const DWORD error = GetLastError();
    CloseFolder(folder);
    SetLastError(error);
    return -1;
  }
  const DWORD attributes = information.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseFolder(folder);
    SetLastError((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? ERROR_DIRECTORY : ERROR_FILE_NOT_FOUND);
    return -1;
  }
  return 0;
}

void CloseFolder(MenuFolder& folder) {
  if (folder.handle != INVALID_HANDLE_VALUE) CloseHandle(folder.handle);
  folder.handle = INVALID_HANDLE_VALUE;
}
