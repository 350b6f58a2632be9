// Files on Windows: what a handle is, and deleting a file through the
// handle that holds it.

#include "platform/errors.h"
#include "platform/held_file.h"
#include "platform/win32.h"

bool IsRegularFile(HANDLE file) {
  // A pipe or a device is no disk file; a link or junction opened itself
  // is a reparse point, whatever the target is.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    SetLastError(kErrorNotRegularFile);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if ((information.dwFileAttributes & refused) != 0 || information.nNumberOfLinks > 1) {
    SetLastError(kErrorNotRegularFile);
    return false;
  }
  return true;
}

BOOL DeleteHeldFile(HANDLE file, const char*) {
  // Marked through the handle, not deleted by name: a second open by name
  // would fail against our own share mode 0, and could meet another file.
  // The file goes as the last handle, ours, is closed.
  FILE_DISPOSITION_INFO disposition{TRUE};
  const BOOL marked = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!marked) SetLastError(error);
  return marked;
}
