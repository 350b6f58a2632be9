// Moves on POSIX: a rename that never replaces, a replacement in one step,
// and across devices a copy made whole before it takes any name, with the
// namesake kept until the source is gone.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/path_buffer.h"
#include "platform/posix.h"

namespace {

// The name the last move left behind, and why: "" when none.
char LeftoverName[kLongPath];
DWORD LeftoverError = ERROR_SUCCESS;

void KeepLeftover(const char* path) {
  LeftoverError = CodeOfErrno(errno);
  if (JoinPathInto(LeftoverName, sizeof LeftoverName, path, "") != 0) LeftoverName[0] = '\0';
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const char* path) { return GetFileAttributesA(path) == FILE_ATTRIBUTE_DIRECTORY; }

// Copies the open file in to out with its permission bits (the umask cut
// them at creation) and last-write time, as a rename keeps them, and waits
// until the data is on disk.
bool CopyData(int in, int out, const struct stat& status) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (WriteAll(out, buffer, static_cast<std::size_t>(got)) != static_cast<std::size_t>(got)) return false;
  }
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  return fchmod(out, status.st_mode & 07777) == 0 && futimens(out, times) == 0 && fsync(out) == 0;
}

// The folder part of path into folder: "." when it has none.
bool FolderOf(const char* path, char (&folder)[kLongPath]) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return JoinPathInto(folder, sizeof folder, ".", "") == 0;
  const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
  if (length >= sizeof folder) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}

// A regular file or link copied to a new name on another device; fails
// when anything is at destination. Data, permission bits and last-write
// time (a link's own) come along. A file is written with no name at all
// (O_TMPFILE) and linked at destination only once whole, so a copy cut
// short, even by a kill, leaves nothing behind; where the file system
// cannot do that, it is written at destination and removed again when the
// copy fails. Allocates nothing.
bool CopyAcrossDevices(const char* source, const char* destination) {
  struct stat status;
  if (lstat(source, &status) != 0) return false;
  if (S_ISLNK(status.st_mode)) {
    char target[kLongPath];
    const ssize_t length = readlink(source, target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) return false;
    target[length] = '\0';
    if (symlink(target, destination) != 0) return false;
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (utimensat(AT_FDCWD, destination, times, AT_SYMLINK_NOFOLLOW) == 0) return true;
    unlink(destination);
    return false;
  }
  if (!S_ISREG(status.st_mode)) return false;
  char folder[kLongPath];
  if (!FolderOf(destination, folder)) return false;

  const int in = open(source, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  const mode_t mode = status.st_mode & 07777;
  bool ok = false;
  // The unnamed file is linked through /proc, so it is no use without.
  const int unnamed = access("/proc/self/fd", X_OK) == 0 ? open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode) : -1;
  if (unnamed >= 0) {
    char handle[32];
    std::snprintf(handle, sizeof handle, "/proc/self/fd/%d", unnamed);
    ok = CopyData(in, unnamed, status) && linkat(AT_FDCWD, handle, AT_FDCWD, destination, AT_SYMLINK_FOLLOW) == 0;
    close(unnamed);  // the data is on disk already
  } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOENT) {
    const int out = open(destination, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out >= 0) {
      ok = CopyData(in, out, status);
      if (close(out) != 0) ok = false;
      if (!ok) unlink(destination);
    }
  }
  close(in);
  return ok;
}

// rename(2) that never replaces: renameat2 with RENAME_NOREPLACE, and where
// a file system lacks it, link and unlink for a file (link refuses an
// existing name atomically) or a checked rename for anything else.
int RenameNoReplace(const char* source, const char* destination) {
  if (renameat2(AT_FDCWD, source, AT_FDCWD, destination, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
  struct stat status;
  if (lstat(source, &status) != 0) return -1;
  if (!S_ISDIR(status.st_mode)) {
    if (link(source, destination) != 0) return -1;
    if (unlink(source) != 0) {
      const int saved = errno;
      unlink(destination);
      errno = saved;
      return -1;
    }
    return 0;
  }
  if (Exists(destination)) {
    errno = EEXIST;
    return -1;
  }
  return rename(source, destination);
}

// A copy across devices over the namesake at destination: made whole
// beside it, a second name kept for the namesake while the copy takes its
// place in one step, then the source removed. A source that cannot be
// removed puts the namesake back, so the file is never in both trees after
// a move that reports success. Both names are this process's own, so that
// those a run killed half way leaves (whole files) never block a later
// move.
BOOL ReplaceAcrossDevices(const char* source, const char* destination) {
  char staging[kLongPath];
  char kept[kLongPath];
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".dravonel-move-%ld", static_cast<long>(getpid()));
  if (JoinPathInto(staging, sizeof staging, destination, suffix) != 0) return FALSE;
  std::snprintf(suffix, sizeof suffix, ".dravonel-keep-%ld", static_cast<long>(getpid()));
  if (JoinPathInto(kept, sizeof kept, destination, suffix) != 0) return FALSE;
  if (Exists(staging) || Exists(kept) || !CopyAcrossDevices(source, staging)) return FALSE;
  if (link(destination, kept) != 0) {
    unlink(staging);
    return FALSE;
  }
  if (rename(staging, destination) != 0) {
    unlink(staging);
    unlink(kept);
    return FALSE;
  }
  if (unlink(source) != 0) {
    rename(kept, destination);
    return FALSE;
  }
  // The file is in its place and the source gone: the move has succeeded,
  // and a second name that will not go is the caller's to report.
  if (unlink(kept) != 0) KeepLeftover(kept);
  return TRUE;
}

BOOL Move(const char* source, const char* destination, DWORD flags) {
  struct stat source_status;
  if (lstat(source, &source_status) != 0) return FALSE;
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;

  if (!replace) {
    if (RenameNoReplace(source, destination) == 0) return TRUE;
    if (errno != EXDEV || S_ISDIR(source_status.st_mode) || !(flags & MOVEFILE_COPY_ALLOWED)) {
      return FALSE;
    }
    // A source that cannot be removed takes its copy away again: the file
    // is never left in both places by a move that reports success.
    if (Exists(destination) || !CopyAcrossDevices(source, destination)) return FALSE;
    if (unlink(source) != 0) {
      unlink(destination);
      return FALSE;
    }
    return TRUE;
  }

  // Replacing: never a directory on either side (Windows refuses one at
  // the destination; a folder that took a file's place since the scan is
  // left where it is), and the namesake is swapped out in one rename, so a
  // failure leaves it in place.
  if (S_ISDIR(source_status.st_mode) || IsDirectory(destination)) {
    errno = S_ISDIR(source_status.st_mode) ? EISDIR : EACCES;  // Windows' answer to a folder in the way
    return FALSE;
  }
  if (rename(source, destination) == 0) return TRUE;
  if (errno != EXDEV || !(flags & MOVEFILE_COPY_ALLOWED)) return FALSE;
  // Across devices, with nothing to replace: a copy made whole first.
  if (!Exists(destination)) return Move(source, destination, MOVEFILE_COPY_ALLOWED);
  return ReplaceAcrossDevices(source, destination);
}

}  // namespace

BOOL MoveFileA(const char* source, const char* destination) {
  return MoveFileExA(source, destination, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExA(const char* source, const char* destination, DWORD flags) {
  LeftoverName[0] = '\0';
  if (Move(source, destination, flags)) return TRUE;
  KeepErrno();
  return FALSE;
}

bool TakeLeftoverName(char* path, std::size_t size, DWORD* error) {
  if (LeftoverName[0] == '\0') return false;
  std::snprintf(path, size, "%s", LeftoverName);
  *error = LeftoverError;
  LeftoverName[0] = '\0';
  return true;
}
