#pragma once
// Sets a file's last-write time to the exact tick, which std::filesystem
// does not do everywhere (mingw's rounds to whole seconds), and to times
// before 1601, which only some file systems hold (tmpfs does, ext4 does
// not): SetFileTime on Windows, utimensat on POSIX.

#include <cstdint>
#include <string>

#include "support/temp_tree.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

// path in UTF-8 (see Utf8Path); seconds since 1970-01-01 UTC (negative
// for earlier) and 0 <= nanoseconds < 1e9, kept to 100 ns on Windows.
// Returns false when the system refused.
inline bool SetExactWriteTime(const std::string& path, int64_t seconds, int64_t nanoseconds = 0) {
#ifdef _WIN32
  // FILETIME ticks from 1601; a time before 1601 is a negative count, its
  // two's complement stored as the FILETIME.
  const int64_t ticks = (seconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
  const uint64_t bits = static_cast<uint64_t>(ticks);
  const FILETIME time{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)};
  const HANDLE file = CreateFileW(Utf8Path(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool set = SetFileTime(file, nullptr, nullptr, &time) != 0;
  CloseHandle(file);
  return set;
#else
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return false;
  // Some file systems clamp what they cannot hold: read it back (a link's
  // own, as it was set).
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && status.st_mtim.tv_sec == times[1].tv_sec &&
         status.st_mtim.tv_nsec == times[1].tv_nsec;
#endif
}
