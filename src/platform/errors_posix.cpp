// Error codes on POSIX: errno kept under the Win32 code the program tells
// apart, and the system's text for a code.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/posix.h"

namespace {

DWORD LastError = ERROR_SUCCESS;

}  // namespace

int ErrnoOfCode(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
    case ERROR_IO_DEVICE: return EIO;
    case ERROR_ALREADY_EXISTS: return EEXIST;
    default: return (code & kErrnoErrorBit) != 0 ? static_cast<int>(code & ~kErrnoErrorBit) : 0;
  }
}

DWORD CodeOfErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_DIRECTORY;
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EIO: return ERROR_IO_DEVICE;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    default: return kErrnoErrorBit | static_cast<DWORD>(error);
  }
}

void KeepErrno() { LastError = CodeOfErrno(errno); }

DWORD GetLastError() { return LastError; }

void SetLastError(DWORD code) { LastError = code; }

void DescribeError(DWORD code, char* text, std::size_t size) {
  if (size == 0) return;
  const char* own = code == ERROR_SHARING_VIOLATION ? kSharingViolationText : OwnErrorText(code);
  if (own != nullptr) {
    std::snprintf(text, size, "%s", own);
    return;
  }
  const int error = ErrnoOfCode(code);
  if (error != 0) {
    std::snprintf(text, size, "%s", std::strerror(error));
  } else {
    std::snprintf(text, size, "error %u", code);
  }
}
