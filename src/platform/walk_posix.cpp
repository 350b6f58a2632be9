// The walk on POSIX: the Start Menus held, and every folder below either
// opened from the one above with O_NOFOLLOW, for the scan and for the
// places the moves act in alike. A folder swapped for a link after the
// scan cannot lead the scan or a move out of the tree.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix.h"
#include "platform/walk.h"

namespace {

bool NotThere(int error) { return error == ENOENT || error == ENOTDIR; }

// The folder a link at name in folder leads to, when the account running
// us owns the link; a link another account owns is refused. The link is
// looked at and read through one descriptor, so that it cannot be swapped
// in between. error is why the plain open failed.
int OpenThroughOwnLink(int folder, const char* name, int error) {
  const int link = openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat status;
  if (link < 0 || fstat(link, &status) != 0 || !S_ISLNK(status.st_mode)) {
    if (link >= 0) close(link);
    errno = error;  // a file, or gone: not there
    return -1;
  }
  char target[kLongPath];
  const bool own = status.st_uid == geteuid();
  const ssize_t length = own ? readlinkat(link, "", target, sizeof target - 1) : -1;
  const int read_error = own ? errno : OwnErrno(kErrorUntrustedLink);
  close(link);
  if (length < 0) {
    errno = read_error;
    return -1;
  }
  target[length] = '\0';
  return openat(folder, target, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The user's Start Menu, opened as an entry of the folder above it (that
// folder by path: the profile is the administrator's to name).
int OpenUsersMenu(const char* path) {
  const char* slash = std::strrchr(path, '/');
  int parent = AT_FDCWD;
  const char* name = path;
  if (slash != nullptr && slash[1] != '\0') {
    char above[kLongPath];
    const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
    if (length >= sizeof above) {
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(above, path, length);
    above[length] = '\0';
    parent = open(above, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return -1;
    name = slash + 1;
  }
  int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0 && (errno == ELOOP || errno == ENOTDIR)) folder = OpenThroughOwnLink(parent, name, errno);
  const int error = errno;
  if (parent != AT_FDCWD) close(parent);
  errno = error;
  return folder;
}

// Copies the part of a relative path that begins at at (after any
// separators) into part; at then points past it. Returns 1 for a part, 0
// at the end of the path, -1 for a part no scan hands over ("." or ".."),
// which is then not there (ENOENT), or one too long for a name
// (ENAMETOOLONG).
int NextPart(const char*& at, char (&part)[NAME_MAX + 1]) {
  while (*at == '/') ++at;
  const char* end = std::strchr(at, '/');
  const std::size_t length = end == nullptr ? std::strlen(at) : static_cast<std::size_t>(end - at);
  if (length == 0) return 0;
  if (length > NAME_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(part, at, length);
  part[length] = '\0';
  at += length;
  if (std::strcmp(part, ".") == 0 || std::strcmp(part, "..") == 0) {
    errno = ENOENT;
    return -1;
  }
  return 1;
}

// Opens the folder name in folder, never through a link. A folder that is
// a link now is an item that vanished (ENOENT); one that became a file
// answers ENOTDIR, as a path through a file does.
int OpenFolderBelow(int folder, const char* name, int access) {
  const int opened = openat(folder, name, access | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (opened >= 0 || (errno != ENOTDIR && errno != ELOOP)) return opened;
  const int error = errno;
  struct stat status;
  errno = fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode) ? ENOENT : error;
  return -1;
}

int Failed() {
  KeepErrno();
  return -1;
}

}  // namespace

int HoldStartMenu(MenuRoot& root, const char* path, MenuOwner owner) {
  root = MenuRoot{path, INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE};
  const int folder = owner == MenuOwner::kUser ? OpenUsersMenu(path) : open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    root.folder = FdToHandle(folder);
    root.error = ERROR_SUCCESS;
    return 0;
  }
  root.error = NotThere(errno) ? ERROR_FILE_NOT_FOUND : CodeOfErrno(errno);
  if (NotThere(errno)) return 0;
  SetLastError(root.error);
  return -1;
}

bool SameMenu(const MenuRoot& a, const MenuRoot& b) {
  struct stat first;
  struct stat second;
  return a.folder != INVALID_HANDLE_VALUE && b.folder != INVALID_HANDLE_VALUE &&
         fstat(HandleToFd(a.folder), &first) == 0 && fstat(HandleToFd(b.folder), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void LetGoOfStartMenu(MenuRoot& root) {
  if (root.folder != INVALID_HANDLE_VALUE) close(HandleToFd(root.folder));
  root.folder = INVALID_HANDLE_VALUE;
}

int OpenMenuRoot(const MenuRoot& root, MenuFolder& folder) {
  folder = MenuFolder{INVALID_HANDLE_VALUE, root.path};
  if (root.folder == INVALID_HANDLE_VALUE) {
    SetLastError(root.error);
    return -1;
  }
  // Opened anew from the one held: the walk may close it.
  const int opened = openat(HandleToFd(root.folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (opened < 0) return Failed();
  folder.handle = FdToHandle(opened);
  return 0;
}

int OpenSubfolder(const MenuFolder& parent, const char* name, const char* path, MenuFolder& folder) {
  folder = MenuFolder{INVALID_HANDLE_VALUE, path};
  const int opened = OpenFolderBelow(HandleToFd(parent.handle), name, O_RDONLY);
  if (opened < 0) return Failed();
  folder.handle = FdToHandle(opened);
  return 0;
}

void CloseFolder(MenuFolder& folder) {
  if (folder.handle != INVALID_HANDLE_VALUE) close(HandleToFd(folder.handle));
  folder.handle = INVALID_HANDLE_VALUE;
}

int FindPlace(const MenuRoot& root, const char* relative, Place& place) {
  place = Place{-1, relative};
  if (root.folder == INVALID_HANDLE_VALUE) {
    errno = ErrnoOfCode(root.error);
    return -1;
  }
  int folder = openat(HandleToFd(root.folder), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return -1;
  const char* at = relative;
  char part[NAME_MAX + 1];
  int more = NextPart(at, part);
  if (more <= 0) {
    if (more == 0) errno = ENOENT;  // the root itself is no item
    const int error = errno;
    close(folder);
    errno = error;
    return -1;
  }
  for (;;) {
    const char* name = at - std::strlen(part);
    const char* after = at;
    char next[NAME_MAX + 1];
    more = NextPart(after, next);
    if (more == 0 && *at == '\0') {
      place = Place{folder, name};
      return 0;
    }
    // A separator after the last part names no item a scan found.
    const int below = more > 0 ? OpenFolderBelow(folder, part, O_PATH) : -1;
    if (more == 0) errno = ENOENT;
    const int error = errno;
    close(folder);
    errno = error;
    if (below < 0) return -1;
    folder = below;
    std::memcpy(part, next, sizeof part);
    at = after;
  }
}

void LeavePlace(const Place& place) {
  if (place.folder >= 0) close(place.folder);
}
