#pragma once
// The platform layer: the only code that knows which system it runs on.
//
// Everything else reaches the system through the Win32 calls in this
// header, under their Win32 names and types, and through the operations of
// the program's own in the headers beside it: the walk of a Start Menu
// (walk.h), the moves (moves.h), the grant (grant.h), the held snapshot
// (held_file.h), errors (errors.h), the environment (environment.h) and
// the console (console.h). On Windows the calls here are the system's own.
// On POSIX the *_posix.cpp files beside this one supply them, one concern
// a file, with the Win32 behaviour the rest of the program relies on:
//
//  - A call that fails sets the last error (GetLastError) to the Win32 code
//    of its errno where the program tells that code apart: ENOENT is
//    ERROR_FILE_NOT_FOUND, ENOTDIR ERROR_DIRECTORY, EACCES
//    ERROR_ACCESS_DENIED, ENOMEM ERROR_NOT_ENOUGH_MEMORY, EIO
//    ERROR_IO_DEVICE, EEXIST ERROR_ALREADY_EXISTS; any other errno e
//    becomes kErrnoErrorBit | e, so that DescribeError still gives the
//    system's own text for it (errors_posix).
//  - FileTimeToSystemTime counts 100 ns ticks from 1601-01-01 UTC and fails
//    for a value with the top bit set. A modification time before 1601 is
//    handed over as such a value, so its conversion fails (times_posix).
//  - CreateFileA opens regular files only, and never waits: a FIFO, device
//    or socket fails with kErrorNotRegularFile before anything is locked
//    or truncated, a directory with EISDIR's code. With
//    FILE_FLAG_OPEN_REPARSE_POINT a link at path is not followed: it fails
//    with kErrorNotRegularFile (Windows opens the link itself, which
//    IsRegularFile then refuses). OPEN_ALWAYS creates a missing file and
//    never truncates; access bits other than GENERIC_READ and GENERIC_WRITE
//    (DELETE) ask for nothing more.
//  - CreateFileA with share mode 0 gives the opener exclusive use: a second
//    opener fails with ERROR_SHARING_VIOLATION, and never truncates what
//    the first one is writing.
//  - DeleteFileA removes a regular file or a link (the link itself), never
//    a directory, FIFO, device or socket, and fails on a file that another
//    opener holds with share mode 0 (files_posix).
//  - GetFileAttributesA answers INVALID_FILE_ATTRIBUTES only when nothing at
//    all is there; a dangling link exists, with FILE_ATTRIBUTE_REPARSE_POINT.
//
// Paths on POSIX use "/" wherever Windows uses "\": kPathSeparator.

#ifdef _WIN32

#include <windows.h>

constexpr char kPathSeparator = '\\';

#else

#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef int BOOL;
typedef void* HANDLE;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define DELETE 0x00010000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_COPY_ALLOWED 0x2u

// The Win32 error codes the program tells apart, with Windows' values.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_DIRECTORY 267u
#define ERROR_IO_DEVICE 1117u
// Win32 leaves codes with this bit to applications: here it marks an errno
// that has no code of its own above.
constexpr DWORD kErrnoErrorBit = 0x20000000u;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// The fields of a listed entry the program reads; a listing fills no other.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftLastWriteTime;
  char cFileName[MAX_PATH];
};

// The code the last failed call left, and a way to set it, as on Windows.
// Only a call that reported failure is known to have set it.
DWORD GetLastError();
void SetLastError(DWORD code);

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);

HANDLE CreateFileA(const char* path, DWORD access, DWORD share_mode,
                   void* security, DWORD disposition, DWORD flags,
                   HANDLE template_file);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written,
               void* overlapped);
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read,
              void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
// Cuts the file off at the current position (0 right after opening).
BOOL SetEndOfFile(HANDLE file);
BOOL CloseHandle(HANDLE handle);

DWORD GetFileAttributesA(const char* path);
BOOL DeleteFileA(const char* path);

constexpr char kPathSeparator = '/';

#endif
