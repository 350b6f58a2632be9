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
//    ERROR_IO_DEVICE, EEXIST ERROR_ALREADY_EXISTS; any other errno e
//    becomes kErrnoErrorBit | e, so that DescribeError still gives the
//    system's own text for it (errors_posix).
//  - Below a Start Menu root (UserStartMenu or AllUsersStartMenu, in
//    process_values.h) no path is resolved by name through a link: each
//    folder is opened from the root down without following one (walk_posix).
//    A folder on the way that is a link now is gone: the call fails with
//    ERROR_FILE_NOT_FOUND, as for an item that vanished. The roots
//    themselves are the administrator's and may be links; a path below
//    neither root is resolved as the system resolves it.
//  - SetCurrentDirectoryA below a root opens the folder from its parent,
//    which stays open while the scan is below it (under a full root), and
//    enters it with fchdir; the FindFirstFileA that follows lists it
//    through that descriptor. Anywhere else it is chdir.
//  - FindFirstFileA/FindNextFileA list every entry of the current directory,
//    "." and ".." included, sorted by name with ASCII letters upper-cased (the order
//    NTFS gives). A symbolic link is listed as itself: never a directory,
//    with the link's own last-write time. Only entries that are not
//    directories are looked at one by one, as the directory is read: a
//    directory's entry carries the directory bit and zero times (nothing
//    reads them). An entry gone before it is looked at is passed over. The
//    end of a listing is
//    ERROR_NO_MORE_FILES; a listing that could not be read whole (the
//    directory's read failed, an entry could not be looked at, memory ran
//    out) delivers every entry it did read and then fails with that error.
//    An empty listing fails at once with ERROR_FILE_NOT_FOUND, as on Windows
//    (listing_posix).
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
//    all is there, or a folder on the way below a root is a link now; a
//    dangling link exists, with FILE_ATTRIBUTE_REPARSE_POINT.
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

// Opens the user's Start Menu, UserStartMenu, and holds it for the rest
// of the run: every item of the scan and of the moves is reached from the
// folder held here (on POSIX), so that its name swapped for a link later
// changes nothing. It is opened as an entry of the folder above it and is
// never reached through a link or junction, unless the account running
// the program owns that link, as the kernel's protected-symlinks rule has
// it: one the administrator made serves, one the user made does not. On
// Windows it is looked at for a reparse point before it is entered, and
// held without FILE_SHARE_DELETE, so that no one can rename or delete it
// while it is held. Each call lets go of what an earlier one held.
//
// Returns 0 when it is held, or when nothing (or a file) is there: an
// empty Start Menu. Otherwise -1 with the last error: kErrorUntrustedLink
// for a link another account owns, kErrorAllUsersMenu when it is the All
// Users Start Menu itself, or the system's when it cannot be opened.
int HoldUserStartMenu();

// Lets go of what HoldUserStartMenu holds, as the end of the process would.
void LetGoOfUserStartMenu();

// Moves one item of the user's Start Menu, source, to its place under the
// All Users one, destination: every move relocation makes goes through
// here. flags are MoveFileExA's: with MOVEFILE_REPLACE_EXISTING a file at
// destination is replaced in one step (a directory there never is, and on
// POSIX a directory is then not moved at all); without it nothing at
// destination is ever replaced. With MOVEFILE_COPY_ALLOWED a file moves
// to another device or volume by a copy (on POSIX a link too); a
// directory never does. Returns 0 when the item now lives at destination
// and not at source; -1 otherwise, with the last error of the step that
// failed. A source that is gone, or has a folder on its way that is a
// link or junction now, fails with ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND; on POSIX GetFileAttributesA(source) then answers
// INVALID_FILE_ATTRIBUTES too (on Windows it follows a junction).
//
//  - No link is followed on the way: on POSIX as the rules above say; on
//    Windows each folder between a Start Menu root and the item is looked
//    at first and the move refused when one is a reparse point (a junction
//    or link put there after that look, and before the move, is still
//    followed: Windows has no move relative to an open folder).
//  - The same file under both names (hard links): with
//    MOVEFILE_REPLACE_EXISTING only the source's name is removed, since
//    the item is at destination already; without it the move fails.
//  - Across devices (volumes), a file is copied whole before it takes
//    destination's name, under no name (O_TMPFILE) or "<destination>
//    .dravonel-move-<pid>", with its bytes, permission bits and times; on
//    POSIX with its owner and group where the process may give them, and
//    otherwise without its set-user-ID and set-group-ID bits. The source
//    is removed only while it is still the file that was copied: on POSIX
//    the same file, size and last-write time, or else the move fails with
//    EAGAIN's code; on Windows it is held open against every writer and
//    remover until then. A namesake keeps a name of the move's own until
//    the source is gone, and is put back when the source cannot be
//    removed, but never over what another process has put at destination
//    since. The file ends in exactly one place, or the move fails with
//    both where they were.
//
// Allocates nothing: it runs where the run must not end.
int MoveItem(const char* source, const char* destination, DWORD flags);

// A name of its own making that the last MoveItem, successful or not,
// left beside its destination and could not remove again; it holds a whole file, which nothing else refers to.
// A replacement across devices (volumes) keeps the namesake under a name
// of its own until the source is gone ("<destination>.dravonel-keep-<pid>",
// or "...-move-<pid>" where the namesake was exchanged with the copy):
// when that name cannot be removed at the end, the move has still
// succeeded and the old namesake stays beside it; after a failed move it
// can be the namesake that could not be put back, or the copy that could
// not be taken away. Returns true, with the name in path (size bytes,
// always terminated) and why it stayed in error, and forgets it; false
// when the last move left nothing. Allocates nothing.
bool TakeLeftoverName(char* path, std::size_t size, DWORD* error);

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

// The grant's command line for target, the one printed and, on Windows,
// the one run: kGrantCommand (messages.h) with the group Everyone by the
// name the system gives it. Windows names that group in its display
// language (Jeder, Tout le monde, Все), and cacls takes a name only, never
// a SID: the name of the well-known SID S-1-1-0 is looked up once, the
// first time a command line is made. POSIX, and a lookup that fails, give
// "Everyone". Returns 0, or -1 (line empty) when it does not fit size
// bytes. Allocates nothing.
int GrantCommandLine(char* line, std::size_t size, const char* target);

// The same, with group as the name the lookup gave (null when it failed):
// a name with a space or any byte other than an ASCII letter, digit, "-",
// "_", "." or a byte of a character outside ASCII is put in double quotes,
// the colon and the permission outside them, as cacls takes it
// ("Tout le monde":R); one holding a double quote or a control byte cannot
// be passed safely, and "Everyone" is granted instead.
int GrantCommandLineFor(char* line, std::size_t size, const char* target, const char* group);

// Runs the access-control editor on target and waits until it has ended.
// No shell or command interpreter is involved (the interpreter would
// expand %NAME% inside the quoted path), and "Cacls" is found on the
// absolute entries of PATH only, never in the current directory. On
// Windows Cacls.exe is started with GrantCommandLine for target as its
// command line, the line the program prints (in UTF-8, as every string
// of the program there); on POSIX with the argument vector
// {"Cacls", path, "/T", "/E", "/G", "Everyone:R"}.
// Its output goes to the null device, its error output to ours, and it
// starts with the default action for SIGPIPE. Standard output is flushed
// first.
//
// A target below AllUsersStartMenu is never reached through a link on the
// way down from there. On POSIX, Cacls starts in AllUsersStartMenu (opened
// by name: links above it are the administrator's) and path is the target
// relative to it, which Cacls resolves one folder at a time, never through
// a link (cacls.h). On Windows, each folder on the way and the target
// itself are opened without following a reparse point and held, without
// sharing deletion, until Cacls has ended: none can be renamed, deleted or
// swapped for a link meanwhile, and a link or junction among them means no
// grant at all (Cacls.exe would follow it). Any other target is passed on
// as it is (path is target).
//
// Returns 0 when the command ran and ended with exit status 0. Otherwise
// -1, with why in reason (size bytes, always terminated, one line): the
// command is not on PATH, could not be started or a folder on the way not
// opened (the system's reason), ended with another status (which; 2 from
// the POSIX Cacls when a folder on the way is a link) or, on POSIX, by a
// signal (which), or on Windows a link on the way (kGrantLinkReason).
// Allocates nothing: it runs between a move and the end of its grant,
// where the run must not end.
int RunGrantCommand(const char* target, char* reason, std::size_t size);
