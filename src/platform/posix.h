#pragma once
// What the POSIX backend's files share: errno kept as the last error, and
// the sizes and conversions more than one of them needs. Nothing outside
// src/platform includes this.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"

// The longest path a POSIX call takes (PATH_MAX), terminator included.
constexpr std::size_t kLongPath = 4096;

// Win32's code for an errno where the program tells it apart; otherwise
// the errno itself, marked with kErrnoErrorBit.
DWORD CodeOfErrno(int error);

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

// Paths below UserStartMenu or AllUsersStartMenu are reached from the root
// down, one folder at a time, never through a link (walk_posix). The root
// itself may be a link; a path below neither root is the system's to
// resolve, as it is.

// Where path's item lies: the open folder holding it (O_PATH) and its last
// part, name, there. Below a root that folder is reached without
// following a link; for a root itself, or a path below neither, it is
// opened as the system resolves the path. A name with no folder part, or
// a path ending in "/", is AT_FDCWD and the whole path. Returns 0, or -1
// with errno: ENOENT when a folder on the way is gone or is a link now,
// ENOTDIR when one is a file. Every place found is left with LeavePlace.
struct Place {
  int folder;
  const char* name;
};
int FindPlace(const char* path, Place& place);
void LeavePlace(const Place& place);

// lstat of path's item, found as FindPlace finds it.
int StatItem(const char* path, struct stat* status);

// Makes path the current directory as SetCurrentDirectoryA does. Below a
// root, each folder is opened from the one above it, which stays open
// while the scan is below it (under a full root), and entered with fchdir:
// returns 1. Returns 0, doing nothing but letting go of those folders,
// when path is below neither root; -1 with errno when it cannot be
// entered.
int EnterFolder(const char* path);

// The folder EnterFolder entered last, open for reading, once, for the
// listing that follows; -1 when another change of directory came between.
// It stays EnterFolder's: the caller never closes it.
int TakeEnteredFolder();

// rename(2) of from in from_folder to to in to_folder that never replaces:
// renameat2 with RENAME_NOREPLACE, and where a file system lacks it, link
// and unlink for a file or a checked rename for a folder. 0, or -1 with
// errno (moves_posix).
int RenameNoReplace(int from_folder, const char* from, int to_folder, const char* to);

// Notes destination followed by suffix as the name the current move left
// behind, and errno as why, for TakeLeftoverName (moves_posix).
void KeepLeftover(const char* destination, const char* suffix);

// The move of a regular file or link, from and to found by FindPlace,
// across devices, source its status: as MoveItem describes it, replacing
// a file at to when replace says so. 0, or -1 with errno (copies_posix).
int MoveAcrossDevices(const char* destination, const Place& from, const Place& to, const struct stat& source,
                      bool replace);
