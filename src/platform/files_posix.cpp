// Files on POSIX: opening regular files only, with Windows' share mode 0
// as an exclusive lock, reading and writing whole counts, attributes and
// deletion, of a file held or by name.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/held_file.h"
#include "platform/posix.h"

namespace {

// Share mode 0: an exclusive lock, refused at once when another opener
// holds one. After the lock, the path must still name the locked file:
// otherwise another run deleted or replaced it while this one waited.
// Sets the last error when it fails.
bool LockExclusively(int fd, const char* path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      SetLastError(ERROR_SHARING_VIOLATION);
    } else {
      KeepErrno();
    }
    return false;
  }
  struct stat opened;
  struct stat named;
  if (fstat(fd, &opened) != 0 || stat(path, &named) != 0) {
    KeepErrno();
    return false;
  }
  if (opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) return true;
  SetLastError(ERROR_SHARING_VIOLATION);  // another run has it
  return false;
}

// A regular file with one name; otherwise the last error says why.
bool IsRegularStatus(const struct stat& status) {
  if (S_ISREG(status.st_mode) && status.st_nlink <= 1) return true;
  SetLastError(kErrorNotRegularFile);
  return false;
}

}  // namespace

std::size_t WriteAll(int fd, const void* buffer, std::size_t count) {
  const char* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, bytes + done, count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  return done;
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD share_mode, void*,
                   DWORD disposition, DWORD flags_and_attributes, HANDLE) {
  // O_NONBLOCK: a FIFO must never hold the open up, and O_NOCTTY: a
  // terminal must never become ours. Neither changes a regular file.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
  if (disposition == OPEN_ALWAYS) {
    flags |= O_CREAT;
  } else if (disposition != OPEN_EXISTING) {
    return INVALID_HANDLE_VALUE;
  }
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
    flags |= O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  const int fd = open(path, flags, 0644);
  if (fd < 0) {
    // A link not followed, and a FIFO no one reads or a device with no
    // driver opened for writing, are no regular files.
    if (errno == ELOOP || errno == ENXIO) {
      SetLastError(kErrorNotRegularFile);
    } else {
      KeepErrno();
    }
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  bool opened = fstat(fd, &status) == 0;
  if (!opened) {
    KeepErrno();
  } else if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    KeepErrno();
    opened = false;
  } else if (!S_ISREG(status.st_mode)) {
    // Nothing but a regular file is ever locked, truncated or handed out.
    SetLastError(kErrorNotRegularFile);
    opened = false;
  }
  opened = opened && (share_mode != 0 || LockExclusively(fd, path));
  if (!opened) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return FdToHandle(fd);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void*) {
  const std::size_t done = WriteAll(HandleToFd(file), buffer, count);
  if (done < count) KeepErrno();
  if (written != nullptr) *written = static_cast<DWORD>(done);
  return done == count ? TRUE : FALSE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read_count, void*) {
  char* bytes = static_cast<char*>(buffer);
  DWORD done = 0;
  // As on Windows, a read that meets the end of the file succeeds with
  // fewer bytes; the caller checks the count.
  BOOL result = TRUE;
  while (done < count) {
    const ssize_t got = read(HandleToFd(file), bytes + done, count - done);
    if (got == 0) break;
    if (got > 0) {
      done += static_cast<DWORD>(got);
    } else if (errno != EINTR) {
      KeepErrno();
      result = FALSE;
      break;
    }
  }
  if (read_count != nullptr) *read_count = done;
  return result;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
  struct stat status;
  if (fstat(HandleToFd(file), &status) != 0) return INVALID_FILE_SIZE;
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL SetEndOfFile(HANDLE file) {
  const int fd = HandleToFd(file);
  const off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0 || ftruncate(fd, at) != 0) {
    KeepErrno();
    return FALSE;
  }
  return TRUE;
}

bool IsRegularFile(HANDLE file) {
  struct stat status;
  if (fstat(HandleToFd(file), &status) != 0) {
    KeepErrno();
    return false;
  }
  return IsRegularStatus(status);
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  if (close(HandleToFd(handle)) == 0) return TRUE;
  KeepErrno();
  return FALSE;
}

DWORD GetFileAttributesA(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0) {
    KeepErrno();
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(status.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(status.st_mode)) return FILE_ATTRIBUTE_REPARSE_POINT;
  return FILE_ATTRIBUTE_NORMAL;
}

BOOL DeleteFileA(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0) {
    KeepErrno();
    return FALSE;
  }
  if (S_ISLNK(status.st_mode)) {
    if (unlink(path) == 0) return TRUE;  // the link itself, never its target
    KeepErrno();
    return FALSE;
  }
  if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    KeepErrno();
    return FALSE;
  }
  // A FIFO, device or socket is no file of this program's: left alone.
  if (!S_ISREG(status.st_mode)) {
    SetLastError(kErrorNotRegularFile);
    return FALSE;
  }
  // As on Windows, a file that another opener holds with share mode 0
  // cannot be deleted: a run that failed to save must never delete the
  // snapshot another run is writing.
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (unlink(path) == 0) return TRUE;  // unreadable: no one holds it through us
    KeepErrno();
    return FALSE;
  }
  BOOL deleted = FALSE;
  if (LockExclusively(fd, path)) {
    deleted = unlink(path) == 0 ? TRUE : FALSE;
    if (!deleted) KeepErrno();
  }
  close(fd);
  return deleted;
}

BOOL DeleteHeldFile(HANDLE file, const char* path) {
  // Unlinked while the lock is still held: another run that opened the
  // file meanwhile finds, once it has the lock, that the name is gone.
  const int fd = HandleToFd(file);
  struct stat held;
  struct stat named;
  BOOL deleted = FALSE;
  if (fstat(fd, &held) != 0 || lstat(path, &named) != 0) {
    KeepErrno();
  } else if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // renamed away: what is there now is not ours
  } else if (unlink(path) != 0) {
    KeepErrno();
  } else {
    deleted = TRUE;
  }
  close(fd);
  return deleted;
}
