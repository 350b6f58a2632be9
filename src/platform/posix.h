#pragma once
// What the POSIX backend's files share: errno kept as the last error, and
// the sizes and conversions more than one of them needs. Nothing outside
// src/platform includes this.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/moves.h"
#include "platform/win32.h"
#include "platform/walk.h"

// The longest path a POSIX call takes (PATH_MAX), terminator included.
constexpr std::size_t kLongPath = 4096;

// Win32's code for an errno where the program tells it apart; otherwise
// the errno itself, marked with kErrnoErrorBit.
DWORD CodeOfErrno(int error);

// The errno whose text describes a code (the other way); 0 when none.
int ErrnoOfCode(DWORD code);

// For a call about to report failure: errno becomes the last error.
void KeepErrno();

// The errno form of one of our own codes (platform.h), for a call that
// reports failure through errno: CodeOfErrno turns it back into the code.
inline int OwnErrno(DWORD code) { return static_cast<int>(code & ~kErrnoErrorBit); }

// A modification time as FILETIME ticks. A time before 1601, or too late
// for 63 bits of ticks, becomes a value with the top bit set, which
// FileTimeToSystemTime refuses.
FILETIME FileTimeFromTimespec(const struct timespec& when);

// The descriptor behind a HANDLE of CreateFileA, and back.
inline int HandleToFd(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
inline HANDLE FdToHandle(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

// Writes count bytes from buffer to fd, again after an interruption.
// Returns how many were written: count, or fewer with errno set.
std::size_t WriteAll(int fd, const void* buffer, std::size_t count);

// Where an item below a Start Menu lies: the open folder holding it
// (O_PATH) and its last part, name, there, reached from the root down
// without following a link. Returns 0, or -1 with errno: ENOENT when the
// root is not held, a folder on the way is gone or is a link now, or
// relative names the root itself; ENOTDIR when a folder on the way is a
// file. Every place found is left with LeavePlace (walk_posix).
struct Place {
  int folder;
  const char* name;
};
int FindPlace(const MenuRoot& root, const char* relative, Place& place);
void LeavePlace(const Place& place);

// rename(2) of from in from_folder to to in to_folder that never replaces:
// renameat2 with RENAME_NOREPLACE, and where a file system lacks it, link
// and unlink for a file or a checked rename for a folder. 0, or -1 with
// errno (moves_posix).
int RenameNoReplace(int from_folder, const char* from, int to_folder, const char* to);

// The move of a regular file or link, from and to found by FindPlace,
// across devices, source its status: as MoveItem describes it, replacing
// a file at to when replace says so. destination is its full path, for a
// name the move leaves behind, which goes into outcome. 0; 1 when the
// source went meanwhile, nothing moved; or -1 with errno (copies_posix).
int MoveAcrossDevices(const char* destination, const Place& from, const Place& to, const struct stat& source,
                      bool replace, MoveOutcome& outcome);
