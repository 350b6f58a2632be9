// The user's Start Menu on Windows, held for the run: looked at for a
// reparse point before it is entered, followed through one only when the
// running account owns it, and held without FILE_SHARE_DELETE so that it
// cannot be renamed, deleted or swapped for a junction while the scan and
// the moves reach it by its path.

#include <aclapi.h>

#include "platform/platform.h"
#include "platform/process_values.h"

namespace {

// The folder held, and the junction on the way to it when there is one.
HANDLE HeldMenu = INVALID_HANDLE_VALUE;
HANDLE HeldJunction = INVALID_HANDLE_VALUE;

void LetGo(HANDLE& handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
}

// Opened to list, reparse points themselves when open_link says so.
HANDLE OpenFolder(const char* path, bool open_link) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (open_link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  return CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
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

bool SameFolder(HANDLE held, const char* other_path) {
  HANDLE other = OpenFolder(other_path, false);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  const bool same = GetFileInformationByHandle(held, &a) && GetFileInformationByHandle(other, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

int Refuse(DWORD error) {
  LetGo(HeldMenu);
  LetGo(HeldJunction);
  SetLastError(error);
  return -1;
}

}  // namespace

void LetGoOfUserStartMenu() {
  LetGo(HeldMenu);
  LetGo(HeldJunction);
}

int HoldUserStartMenu() {
  LetGoOfUserStartMenu();
  HANDLE folder = OpenFolder(UserStartMenu, true);
  if (folder == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : Refuse(error);
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(folder, &information)) {
    const DWORD error = GetLastError();
    CloseHandle(folder);
    return Refuse(error);
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(folder);
    return 0;  // a file: no Start Menu, as when nothing is there
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (!OwnedByRunner(folder)) {
      CloseHandle(folder);
      return Refuse(kErrorUntrustedLink);
    }
    // The junction stays held, deletion not shared, while the folder it
    // leads to is opened through it and for the rest of the run.
    HeldJunction = folder;
    folder = OpenFolder(UserStartMenu, false);
    if (folder == INVALID_HANDLE_VALUE) return Refuse(GetLastError());
  }
  HeldMenu = folder;
  if (SameFolder(HeldMenu, AllUsersStartMenu)) return Refuse(kErrorAllUsersMenu);
  return 0;
}
