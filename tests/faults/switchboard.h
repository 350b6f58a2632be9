#pragma once
// A switchboard in front of the platform calls, for tests only: a wrapper
// for each call that can be told to fail at a chosen call, and otherwise
// calls the real thing. The fault tests build the program's code a second
// time with redirect_platform_calls.h forced in, so that its calls reach
// these wrappers.
//
// Allocation failures need no wrapper: the switchboard replaces every form
// of operator new. A failed nothrow new answers null, any other throws
// std::bad_alloc. Allocations are counted, and failed, only while the
// program's code runs (WatchAllocations), never the test's own.

#include <string>

#include "platform/grant.h"
#include "platform/moves.h"
#include "platform/win32.h"
#include "platform/walk.h"

enum class Operation {
  kOpenFolder,
  kListFolder,
  kNextFolderEntry,
  kFileTimeToSystemTime,
  kCreateFile,
  kWriteFile,
  kReadFile,
  kGetFileSize,
  kSetEndOfFile,
  kCloseHandle,
  kGetFileAttributes,
  kDeleteFile,
  kDeleteHeldFile,
  kMoveFolder,
  kMoveFile,
  kRunGrantCommand,
  kLeftover,
  kAllocate,
  kCount
};

// From now on, the nth call (1 = the next one) of operation fails, leaving
// error as the last error (GetLastError); 0 stops failing it. Every call
// is counted whether or not it fails.
//
// MoveItem counts as kMoveFile when it replaces (a file's move) and as
// kMoveFolder otherwise (a folder's). OpenMenuRoot and OpenSubfolder
// count as kOpenFolder.
void ArmFault(Operation operation, int nth, DWORD error = ERROR_ACCESS_DENIED);
void DisarmFaults();
int CallCount(Operation operation);

// True when this call of operation is to fail (counts the call). Makes
// the tree change armed for this call first.
bool ShouldFail(Operation operation);

// A change to the tree made just before the nth call of operation (1 = the
// next one), as another process could make it between the scan and a
// move: whatever is at path is removed, and then nothing, an empty
// folder, a file holding "changed", or a link to link_target put there;
// or it is renamed to path + " (aside)" and that link put in its place.
enum class TreeChange { kRemove, kMakeFolder, kMakeFile, kMakeLink, kMoveAsideForLink };
void ArmTreeChange(Operation operation, int nth, TreeChange change, const std::string& path,
                   const std::string& link_target = "");

// While set, grant commands are counted but not started: for tests that
// run many rounds and look only at where the items went.
void SkipGrantCommands(bool skip);

// While set, allocations are counted and may be made to fail.
void WatchAllocations(bool watch);

#ifdef _WIN32
using SecurityArgument = LPSECURITY_ATTRIBUTES;
using OverlappedArgument = LPOVERLAPPED;
#else
using SecurityArgument = void*;
using OverlappedArgument = void*;
#endif

int FaultyOpenMenuRoot(const MenuRoot& root, MenuFolder& folder);
int FaultyOpenSubfolder(const MenuFolder& parent, const char* name, const char* path, MenuFolder& folder);
HANDLE FaultyListFolder(const MenuFolder& folder, WIN32_FIND_DATAA* entry);
BOOL FaultyNextFolderEntry(HANDLE search, WIN32_FIND_DATAA* entry);
BOOL FaultyFileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);
HANDLE FaultyCreateFileA(const char* path, DWORD access, DWORD share_mode, SecurityArgument security,
                         DWORD disposition, DWORD flags, HANDLE template_file);
BOOL FaultyWriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, OverlappedArgument overlapped);
BOOL FaultyReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, OverlappedArgument overlapped);
DWORD FaultyGetFileSize(HANDLE file, DWORD* high);
BOOL FaultySetEndOfFile(HANDLE file);
BOOL FaultyCloseHandle(HANDLE handle);
DWORD FaultyGetFileAttributesA(const char* path);
BOOL FaultyDeleteFileA(const char* path);
BOOL FaultyDeleteHeldFile(HANDLE file, const char* path);
// Made to fail as kLeftover, a move that ran reports a name left beside
// its destination, "<destination>.dravonel-keep-test", without making it.
void FaultyMoveItem(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination,
                    DWORD flags, MoveOutcome& outcome);
int FaultyRunGrantCommand(const MenuRoot& root, const char* item, const char* target, char* reason,
                          std::size_t size);
