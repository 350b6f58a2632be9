#pragma once
// What the POSIX backend's files share: errno kept as the last error, and
// the sizes and conversions more than one of them needs. Nothing outside
// src/platform includes this.

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
