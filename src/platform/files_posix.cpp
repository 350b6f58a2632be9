// Files on POSIX: opening with Windows' share mode 0 as an exclusive lock,
// reading and writing whole counts, attributes and deletion.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix.h"

namespace {

// Share mode 0: an exclusive lock, refused at once when another opener
// holds one. After the lock, the path must still name the locked file:
// otherwise another run deleted or replaced it while this one waited.
// errno says why when it fails.
bool LockExclusively(int fd, const char* path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  struct stat opened;
  struct stat named;
  if (fstat(fd, &opened) != 0 || stat(path, &named) != 0) return false;
  if (opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) return true;
  errno = EWOULDBLOCK;  // another run has it
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
                   DWORD disposition, DWORD, HANDLE) {
  int flags = O_CLOEXEC;
  if (disposition == CREATE_ALWAYS) {
    // Not O_TRUNC: the file is emptied only once this opener holds it.
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
    KeepErrno();
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  bool opened = fstat(fd, &status) == 0;
  if (opened && S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    opened = false;
  }
  opened = opened && (share_mode != 0 || LockExclusively(fd, path)) &&
           (disposition != CREATE_ALWAYS || ftruncate(fd, 0) == 0);
  if (!opened) {
    KeepErrno();
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
  if (S_ISDIR(status.st_mode)) {
    SetLastError(CodeOfErrno(EISDIR));
    return FALSE;
  }
  bool deleted = false;
  if (!S_ISREG(status.st_mode)) {
    deleted = unlink(path) == 0;
  } else {
    // As on Windows, a file that another opener holds with share mode 0
    // cannot be deleted: a run that failed to save must never delete the
    // snapshot another run is writing.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      deleted = unlink(path) == 0;  // unreadable: no one holds it through us
    } else {
      deleted = LockExclusively(fd, path) && unlink(path) == 0;
      const int saved = errno;
      close(fd);
      errno = saved;
    }
  }
  if (!deleted) KeepErrno();
  return deleted ? TRUE : FALSE;
}
