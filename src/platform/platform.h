#pragma once
// The platform layer: the only code that knows which system it runs on.
//
// Everything else reaches the system through the Win32 calls below, under
// their Win32 names and types, and the operations of the program's own in
// the headers beside this one (walk.h, moves.h, grant.h, console.h). On
// Windows the calls below are the system's own. On POSIX, the *_posix.cpp
// files beside this one supply them, one concern a file, with the Win32
// behaviour the rest of the program relies on:
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
#define CREATE_ALWAYS 2u
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

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
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

#include <cstddef>

#include "platform/path_buffer.h"

// What both systems offer under names of our own.

// Error codes of our own on both systems, for what the system has no word
// for (Win32 leaves codes with bit 29 to applications; no errno is this
// large, so on POSIX each is also the errno 0xFFnn that a call reporting
// through errno leaves). DescribeError gives each its text in messages.h.
//  - kErrorNotRegularFile: something other than a regular file with one
//    name where one was asked for.
//  - kErrorUntrustedLink: a link or junction that the account running the
//    program does not own, where it would have to be followed.
//  - kErrorAllUsersMenu: the user's Start Menu is the All Users one.
//  - kErrorOtherNames: a file that has other names (hard links), which a
//    move or a grant would carry along to wherever those lie.
//  - kErrorFifo, kErrorSocket, kErrorDevice: no Start Menu item, but such
//    a node, which a program opening it could block on or reach through.
constexpr DWORD kErrorNotRegularFile = 0x2000FFFFu;
constexpr DWORD kErrorUntrustedLink = 0x2000FF01u;
constexpr DWORD kErrorAllUsersMenu = 0x2000FF02u;
constexpr DWORD kErrorOtherNames = 0x2000FF03u;
constexpr DWORD kErrorFifo = 0x2000FF04u;
constexpr DWORD kErrorSocket = 0x2000FF05u;
constexpr DWORD kErrorDevice = 0x2000FF06u;

// The text of one of our own codes, or null for any other code.
const char* OwnErrorText(DWORD code);

// True when file, from CreateFileA, is a regular file with one name: on
// Windows a disk file that is neither a directory nor a reparse point (a
// link or junction that FILE_FLAG_OPEN_REPARSE_POINT opened itself), on
// POSIX S_ISREG. A second name (a hard link) is refused too: writing
// through this one would change a file somewhere else. Otherwise false,
// with the last error kErrorNotRegularFile, or the system's when the
// question itself failed.
bool IsRegularFile(HANDLE file);

// Deletes the file open as file and closes the handle. file came from
// CreateFileA of path with share mode 0 and DELETE access and has been
// held since, so no other opener can have read, replaced or deleted it in
// between, nor can one slip in before the delete. On Windows the file is
// marked for deletion through the handle and goes as it is closed; on
// POSIX path is unlinked while the lock is still held, once it is known to
// name the held file. Returns TRUE when the file is gone, FALSE when it
// stays (the last error says why); the handle is closed either way.
BOOL DeleteHeldFile(HANDLE file, const char* path);

// The system's text for an error code (as GetLastError gives it) in text,
// always terminated, without a trailing period or line break; "error N"
// when the system has none or it does not fit. Allocates nothing.
constexpr std::size_t kErrorTextSize = 256;
void DescribeError(DWORD code, char* text, std::size_t size);

// Has the system give memory that is about to be written, size bytes from
// start, its pages now, in one call, rather than in one fault a page as
// each is first touched. What the memory holds does not change. Where the
// system cannot (Linux before 5.14, Windows), nothing happens.
void PrepareMemory(void* start, std::size_t size);

// The value of an environment variable, or null when it is not set. Names
// match without regard to ASCII case; on POSIX, where several variables
// differ only in case, an exact match wins.
const char* LookupEnvironment(const char* name);

// The folders the shell keeps for the running user and system, wherever
// this Windows version lays profiles out: the user's profile and Start
// Menu, the Windows folder, and the Start Menu common to all users.
enum class ShellFolder { kProfile, kStartMenu, kWindows, kCommonStartMenu };

// Copies the shell's current path for folder (redirected, if it is) into
// path, whether or not the folder exists; asking creates nothing. Returns
// 0, or -1 with path empty when the shell knows no such folder. POSIX has
// no shell folders: there it always returns -1.
int GetShellFolder(ShellFolder folder, PathBuffer path);

// True when path names the same place whatever the current directory is:
// on Windows a drive with its root ("C:\") or a UNC path ("\\server\share";
// "\Folder" and "C:Folder" depend on the current drive and its directory),
// on POSIX a path from "/".
bool IsFullPath(const char* path);

