// The Win32 calls the program uses, built on POSIX with the Win32 behaviour
// the rest of the program relies on (see platform.h).

#include "driver/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

extern char** environ;

namespace {

// The longest path a POSIX call takes (PATH_MAX), terminator included.
constexpr std::size_t kLongPath = 4096;

DWORD LastError = ERROR_SUCCESS;

// Win32's code for an errno where the program tells it apart; otherwise
// the errno itself, marked as ours.
DWORD CodeOfErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_DIRECTORY;
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EIO: return ERROR_IO_DEVICE;
    default: return kErrnoErrorBit | static_cast<DWORD>(error);
  }
}

// The errno whose text describes a code; 0 when there is none.
int ErrnoOfCode(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
    case ERROR_IO_DEVICE: return EIO;
    default: return (code & kErrnoErrorBit) != 0 ? static_cast<int>(code & ~kErrnoErrorBit) : 0;
  }
}

// For a call about to report failure: errno becomes the last error.
void KeepErrno() { LastError = CodeOfErrno(errno); }

// Writes first and second one after another into out; false when they do
// not fit.
bool Join(char (&out)[kLongPath], const char* first, const char* second) {
  const int length = std::snprintf(out, sizeof out, "%s%s", first, second);
  return length >= 0 && static_cast<std::size_t>(length) < sizeof out;
}

// FILETIME ticks (100 ns) between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000;
constexpr int64_t kTicksPerSecond = 10000000;

unsigned char FoldAsciiCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

unsigned char UpperAsciiCase(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// NTFS order: bytes compared after upper-casing ASCII letters (so "_"
// sorts after every letter's capital); names equal so folded fall back to
// plain bytes, so the order never depends on readdir. Only bytes that
// differ are folded: most of two names' common start is the same bytes.
bool ListsBefore(const char* a, std::size_t a_length, const char* b, std::size_t b_length) {
  const std::size_t common = std::min(a_length, b_length);
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const unsigned char fa = UpperAsciiCase(static_cast<unsigned char>(a[i]));
    const unsigned char fb = UpperAsciiCase(static_cast<unsigned char>(b[i]));
    if (fa != fb) return fa < fb;
  }
  if (a_length != b_length) return a_length < b_length;
  return std::memcmp(a, b, a_length) < 0;
}

FILETIME FileTimeFromTimespec(const struct timespec& when) {
  // A time before 1601, or too late for 63 bits of ticks, becomes a value
  // with the top bit set, which FileTimeToSystemTime refuses.
  constexpr int64_t kFirstSecond = -kUnixEpochTicks / kTicksPerSecond;
  constexpr int64_t kLastSecond = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond - 1;
  uint64_t value = 0x8000000000000000ull;
  if (when.tv_sec >= kFirstSecond && when.tv_sec <= kLastSecond) {
    // Ticks rounded down: tv_nsec is never negative, so this also holds
    // before 1970.
    value = static_cast<uint64_t>(when.tv_sec * kTicksPerSecond + when.tv_nsec / 100 + kUnixEpochTicks);
  }
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// A name of the listing, and whether the directory entry already said it
// is a directory. The names lie one after another, each terminated, in
// one buffer of the search: a name costs no allocation of its own.
struct Listed {
  std::size_t offset;  // of the name in Search::names
  uint32_t length;
  bool directory;
};

struct Search {
  DIR* directory;
  std::vector<char> names;
  std::vector<Listed> listed;
  std::size_t next;
  int error;  // the first errno that kept an entry from the listing, or 0
};

// Fills entry with the next name of the search that still exists; entries
// that vanished since the listing are passed over, and so is one that
// cannot be looked at, its error kept for the end of the listing. A
// directory the listing already knows as one is not looked at again: its
// times are left zero, since nothing reads them, and a stat for each would
// cost as much again as the whole walk of the directories. Every field is
// set but the bytes of cFileName after its terminator.
bool DeliverNextEntry(Search& search, WIN32_FIND_DATAA* entry) {
  while (search.next < search.listed.size()) {
    const Listed& listed = search.listed[search.next++];
    const char* name = search.names.data() + listed.offset;
    entry->ftCreationTime = FILETIME{0, 0};
    entry->ftLastAccessTime = FILETIME{0, 0};
    entry->ftLastWriteTime = FILETIME{0, 0};
    entry->nFileSizeHigh = 0;
    entry->nFileSizeLow = 0;
    entry->dwReserved0 = 0;
    entry->dwReserved1 = 0;
    entry->cAlternateFileName[0] = '\0';
    std::memcpy(entry->cFileName, name, listed.length + 1);
    if (listed.directory) {
      entry->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
      return true;
    }
    struct stat status;
    if (fstatat(dirfd(search.directory), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT && search.error == 0) search.error = errno;
      continue;
    }
    if (S_ISDIR(status.st_mode)) {
      entry->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISLNK(status.st_mode)) {
      entry->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
    } else {
      entry->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    entry->ftLastWriteTime = FileTimeFromTimespec(status.st_mtim);
    entry->ftCreationTime = entry->ftLastWriteTime;
    entry->ftLastAccessTime = FileTimeFromTimespec(status.st_atim);
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    entry->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    entry->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    return true;
  }
  return false;
}

int HandleToFd(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

HANDLE FdToHandle(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

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

bool IsDirectory(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool Exists(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0;
}

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
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += put;
    }
  }
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  return fchmod(out, status.st_mode & 07777) == 0 && futimens(out, times) == 0 && fsync(out) == 0;
}

// The folder part of path into folder: "." when it has none.
bool FolderOf(const char* path, char (&folder)[kLongPath]) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return Join(folder, ".", "");
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

// Search the absolute entries of PATH for an executable regular file;
// an empty or relative entry would let the current directory, which a
// Start Menu or an installer controls, supply the command. An entry too
// long to hold the command's path is passed over.
bool FindOnSafePath(const char* command, char (&found)[kLongPath]) {
  const char* entry = LookupEnvironment("PATH");
  if (entry == nullptr) return false;
  for (;;) {
    const char* end = std::strchr(entry, ':');
    if (end == nullptr) end = entry + std::strlen(entry);
    const int length = static_cast<int>(std::min<std::ptrdiff_t>(end - entry, kLongPath));
    const int written = std::snprintf(found, sizeof found, "%.*s/%s", length, entry, command);
    struct stat status;
    if (entry[0] == '/' && written > 0 && static_cast<std::size_t>(written) < sizeof found &&
        stat(found, &status) == 0 && S_ISREG(status.st_mode) && access(found, X_OK) == 0) {
      return true;
    }
    if (*end == '\0') return false;
    entry = end + 1;
  }
}

}  // namespace

DWORD GetLastError() { return LastError; }

void SetLastError(DWORD code) { LastError = code; }

void DescribeError(DWORD code, char* text, std::size_t size) {
  if (size == 0) return;
  const int error = ErrnoOfCode(code);
  if (error != 0) {
    std::snprintf(text, size, "%s", std::strerror(error));
  } else {
    std::snprintf(text, size, "error %u", code);
  }
}

BOOL SetCurrentDirectoryA(const char* path) {
  if (chdir(path) == 0) return TRUE;
  KeepErrno();
  return FALSE;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  char* current = getcwd(nullptr, 0);
  if (current == nullptr) {
    KeepErrno();
    return 0;
  }
  const std::size_t length = std::strlen(current);
  DWORD result = 0;
  if (length + 1 > size) {
    result = static_cast<DWORD>(length + 1);
  } else {
    std::memcpy(buffer, current, length + 1);
    result = static_cast<DWORD>(length);
  }
  std::free(current);
  return result;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* entry) {
  if (std::strcmp(pattern, "*.*") != 0 && std::strcmp(pattern, "*") != 0) {
    return INVALID_HANDLE_VALUE;
  }
  // The directory stays open until FindClose: its entries are looked at
  // through it, whatever the current directory is by then.
  DIR* directory = opendir(".");
  if (directory == nullptr) {
    KeepErrno();
    return INVALID_HANDLE_VALUE;
  }
  Search* search = new (std::nothrow) Search{directory, {}, {}, 0, 0};
  if (search == nullptr) {
    closedir(directory);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  // An error while reading the names ends the reading; the names read so
  // far are delivered, and the listing fails at its end.
  try {
    // Room for a folder of a few dozen entries from the start: growing one
    // entry at a time would copy and free again and again.
    search->names.reserve(2048);
    search->listed.reserve(64);
    for (;;) {
      errno = 0;
      const dirent* item = readdir(directory);
      if (item == nullptr) {
        search->error = errno;
        break;
      }
      // Longer names cannot be handed over in cFileName; POSIX names are at
      // most 255 bytes, so this only guards against the impossible.
      const std::size_t length = std::strlen(item->d_name);
      if (length < MAX_PATH) {
        const std::size_t offset = search->names.size();
        search->names.insert(search->names.end(), item->d_name, item->d_name + length + 1);
        search->listed.push_back(Listed{offset, static_cast<uint32_t>(length),
                                        item->d_type == DT_DIR});
      }
    }
  } catch (const std::bad_alloc&) {
    search->error = ENOMEM;
  }
  const char* names = search->names.data();
  std::sort(search->listed.begin(), search->listed.end(), [names](const Listed& a, const Listed& b) {
    return ListsBefore(names + a.offset, a.length, names + b.offset, b.length);
  });
  if (!DeliverNextEntry(*search, entry)) {
    const DWORD error = search->error != 0 ? CodeOfErrno(search->error) : ERROR_FILE_NOT_FOUND;
    FindClose(search);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* entry) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return FALSE;
  Search& search = *static_cast<Search*>(handle);
  if (DeliverNextEntry(search, entry)) return TRUE;
  SetLastError(search.error != 0 ? CodeOfErrno(search.error) : ERROR_NO_MORE_FILES);
  return FALSE;
}

BOOL FindClose(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return FALSE;
  Search* search = static_cast<Search*>(handle);
  closedir(search->directory);
  delete search;
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  const uint64_t ticks = (static_cast<uint64_t>(file_time->dwHighDateTime) << 32) |
                         file_time->dwLowDateTime;
  if (ticks & 0x8000000000000000ull) return FALSE;

  const uint64_t total_ms = ticks / 10000;
  const uint64_t days = total_ms / 86400000;
  const uint64_t ms_of_day = total_ms % 86400000;

  // Days since 1601-01-01 to a civil date (proleptic Gregorian), counted
  // from 0000-03-01 so that leap days fall at the end of each year.
  constexpr int64_t kDaysFrom0000March1To1601 = 584694;
  const int64_t z = static_cast<int64_t>(days) + kDaysFrom0000March1To1601;
  const int64_t era = z / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 = March
  const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

  system_time->wYear = static_cast<WORD>(year);
  system_time->wMonth = static_cast<WORD>(month);
  system_time->wDay = static_cast<WORD>(day);
  // 1601-01-01 was a Monday; Sunday is 0.
  system_time->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  system_time->wHour = static_cast<WORD>(ms_of_day / 3600000);
  system_time->wMinute = static_cast<WORD>(ms_of_day / 60000 % 60);
  system_time->wSecond = static_cast<WORD>(ms_of_day / 1000 % 60);
  system_time->wMilliseconds = static_cast<WORD>(ms_of_day % 1000);
  return TRUE;
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
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    const ssize_t put = write(HandleToFd(file), bytes + done, count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      KeepErrno();
      break;
    }
    done += static_cast<DWORD>(put);
  }
  if (written != nullptr) *written = done;
  return done == count ? TRUE : FALSE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read_count, void*) {
  char* bytes = static_cast<char*>(buffer);
  DWORD done = 0;
  // As on Windows, a read that meets the end of the file succeeds with
  // fewer bytes; the caller checks the count.
  while (done < count) {
    const ssize_t got = read(HandleToFd(file), bytes + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      KeepErrno();
      if (read_count != nullptr) *read_count = done;
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  if (read_count != nullptr) *read_count = done;
  return TRUE;
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
  if (lstat(path, &status) != 0) return INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(status.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(status.st_mode)) return FILE_ATTRIBUTE_REPARSE_POINT;
  return FILE_ATTRIBUTE_NORMAL;
}

BOOL DeleteFileA(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0 || S_ISDIR(status.st_mode)) return FALSE;
  if (!S_ISREG(status.st_mode)) return unlink(path) == 0 ? TRUE : FALSE;
  // As on Windows, a file that another opener holds with share mode 0
  // cannot be deleted: a run that failed to save must never delete the
  // snapshot another run is writing.
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return unlink(path) == 0 ? TRUE : FALSE;  // unreadable: no one holds it through us
  BOOL deleted = FALSE;
  if (LockExclusively(fd, path)) deleted = unlink(path) == 0 ? TRUE : FALSE;
  close(fd);
  return deleted;
}

BOOL MoveFileA(const char* source, const char* destination) {
  return MoveFileExA(source, destination, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExA(const char* source, const char* destination, DWORD flags) {
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
  if (S_ISDIR(source_status.st_mode) || IsDirectory(destination)) return FALSE;
  if (rename(source, destination) == 0) return TRUE;
  if (errno != EXDEV || !(flags & MOVEFILE_COPY_ALLOWED)) return FALSE;
  // Across devices, with nothing to replace: a copy made whole first.
  if (!Exists(destination)) return MoveFileExA(source, destination, MOVEFILE_COPY_ALLOWED);
  // Else a copy made whole beside the namesake, a second name kept for the
  // namesake while the copy takes its place in one step, then the source
  // removed. A source that cannot be removed puts the namesake back, so
  // the file is never in both trees after a move that reports success.
  // Both names are this process's own, so that those a run killed half
  // way leaves (whole files) never block a later move.
  char staging[kLongPath];
  char kept[kLongPath];
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".dravonel-move-%ld", static_cast<long>(getpid()));
  if (!Join(staging, destination, suffix)) return FALSE;
  std::snprintf(suffix, sizeof suffix, ".dravonel-keep-%ld", static_cast<long>(getpid()));
  if (!Join(kept, destination, suffix)) return FALSE;
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
  unlink(kept);
  return TRUE;
}

const char* LookupEnvironment(const char* name) {
  const std::size_t name_length = std::strlen(name);
  const char* folded_match = nullptr;
  for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
    const char* entry = *variable;
    if (std::strncmp(entry, name, name_length) == 0 && entry[name_length] == '=') {
      return entry + name_length + 1;
    }
    if (folded_match != nullptr) continue;
    std::size_t i = 0;
    while (i < name_length && entry[i] != '\0' && entry[i] != '=' &&
           FoldAsciiCase(static_cast<unsigned char>(entry[i])) ==
               FoldAsciiCase(static_cast<unsigned char>(name[i]))) {
      ++i;
    }
    if (i == name_length && entry[i] == '=') folded_match = entry + name_length + 1;
  }
  return folded_match;
}

bool IsFullPath(const char* path) {
  return path[0] == '/';
}

void RunGrantCommand(const char*, const char* target) {
  std::fflush(stdout);
  char program[kLongPath];
  if (!FindOnSafePath("Cacls", program)) return;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  // Its output is not ours to print; only its error output reaches the user.
  if (posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return;
  }
  const char* arguments[] = {"Cacls", target, "/T", "/E", "/G", "Everyone:R", nullptr};
  pid_t child = 0;
  const int started = posix_spawn(&child, program, &actions, nullptr,
                                  const_cast<char* const*>(arguments), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

void SetUpConsoleOutput() {}

void RestoreConsoleOutput() {}
