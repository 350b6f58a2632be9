#pragma once
// The platform layer: the only code that knows which system it runs on.
//
// Everything else reaches the system through the Win32 calls below, under
// their Win32 names and types. On Windows they are the system's own. On
// POSIX, the *_posix.cpp files beside this one supply them, one concern a
// file, with the Win32 behaviour the rest of the program relies on:
//
//  - A call that fails sets the last error (GetLastError) to the Win32 code
//    of its errno where the program tells that code apart: ENOENT is
//    ERROR_FILE_NOT_FOUND, ENOTDIR ERROR_DIRECTORY, EACCES
//    ERROR_ACCESS_DENIED, ENOMEM ERROR_NOT_ENOUGH_MEMORY, EIO
//    ERROR_IO_DEVICE; any other errno e becomes kErrnoErrorBit | e, so that
//    DescribeError still gives the system's own text for it (errors_posix).
//  - FindFirstFileA/FindNextFileA list every entry of the current directory,
//    "." and ".." included, sorted by name with ASCII letters upper-cased (the order
//    NTFS gives). A symbolic link is listed as itself: never a directory,
//    with the link's own last-write time. Only entries that are not
//    directories are looked at one by one: a directory's entry carries the
//    directory bit and zero times (nothing reads them). An entry gone
//    before it is looked at is passed over. The end of a listing is
//    ERROR_NO_MORE_FILES; a listing that could not be read whole (the
//    directory's read failed, an entry could not be looked at, memory ran
//    out) delivers every entry it did read and then fails with that error.
//    An empty listing fails at once with ERROR_FILE_NOT_FOUND, as on Windows
//    (listing_posix).
//  - FileTimeToSystemTime counts 100 ns ticks from 1601-01-01 UTC and fails
//    for a value with the top bit set. A modification time before 1601 is
//    handed over as such a value, so its conversion fails (times_posix).
//  - CreateFileA with share mode 0 gives the opener exclusive use: a second
//    opener fails, and never truncates what the first one is writing.
//  - DeleteFileA removes a file or a link, never a directory, and fails on a
//    file that another opener holds with share mode 0 (files_posix).
//  - MoveFileA never overwrites: it fails when anything exists at the
//    destination. A file or link moves across devices by copy (data,
//    permission bits and last-write time, as a rename keeps them) and
//    removal, the copy getting its name only once whole; when the source
//    cannot be removed the copy is taken away again and the move fails. A
//    directory across devices fails.
//  - MoveFileExA with MOVEFILE_REPLACE_EXISTING replaces a file in one
//    step and refuses a directory at the destination. Across devices the
//    namesake is kept under a second name until the source is gone, and
//    put back when the source cannot be removed: the file ends in exactly
//    one place, or the move fails with both as they were (moves_posix).
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
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_COPY_ALLOWED 0x2u

// The Win32 error codes the program tells apart, with Windows' values.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_NO_MORE_FILES 18u
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

BOOL SetCurrentDirectoryA(const char* path);
// Copies the current directory into buffer; returns its length, or the size
// needed when the buffer is too small, or 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, char* buffer);

// pattern must be "*.*" or "*": both list every entry.
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* entry);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* entry);
BOOL FindClose(HANDLE search);

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);

HANDLE CreateFileA(const char* path, DWORD access, DWORD share_mode,
                   void* security, DWORD disposition, DWORD flags,
                   HANDLE template_file);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written,
               void* overlapped);
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read,
              void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL CloseHandle(HANDLE handle);

DWORD GetFileAttributesA(const char* path);
BOOL DeleteFileA(const char* path);
BOOL MoveFileA(const char* source, const char* destination);
BOOL MoveFileExA(const char* source, const char* destination, DWORD flags);

constexpr char kPathSeparator = '/';

#endif

#include <cstddef>

#include "platform/path_buffer.h"

// What both systems offer under names of our own.

// The system's text for an error code (as GetLastError gives it) in text,
// always terminated, without a trailing period or line break; "error N"
// when the system has none or it does not fit. Allocates nothing.
constexpr std::size_t kErrorTextSize = 256;
void DescribeError(DWORD code, char* text, std::size_t size);

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

// Runs the access-control editor on target and waits until it has ended.
// No shell or command interpreter is involved (the interpreter would
// expand %NAME% inside the quoted path), and "Cacls" is found on the
// absolute entries of PATH only, never in the current directory. On
// Windows Cacls.exe is started with kGrantCommand (messages.h) made for
// target as its command line, the line the program prints; on POSIX with
// the argument vector {"Cacls", target, "/T", "/E", "/G", "Everyone:R"}.
// Its output goes to the null device, its error output to ours. Standard
// output is flushed first. A command that cannot be started, and its exit
// status, are ignored. Allocates nothing: it runs between a move and the
// end of its grant, where the run must not end.
void RunGrantCommand(const char* target);

// Standard output on a console. The program prints names as the narrow
// calls give them: in the system's narrow code page, which the manifest
// makes UTF-8 on Windows 10 version 1903 and later. While standard output
// is a console, SetUpConsoleOutput has the console read the program's
// bytes in that code page, and RestoreConsoleOutput flushes standard
// output and gives the console back the code page it had before; Ctrl+C,
// Ctrl+Break and closing the console give it back too. Output that is
// redirected is left exactly as it is. On POSIX both do nothing: a
// terminal shows the bytes as they are. Called from main, around
// everything else.
void SetUpConsoleOutput();
void RestoreConsoleOutput();
