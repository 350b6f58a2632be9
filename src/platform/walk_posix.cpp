// Paths below the two Start Menu roots on POSIX, reached one folder at a
// time from the root down with O_NOFOLLOW: a folder swapped for a link
// after the scan cannot lead a move, an attribute query or the scan out of
// the tree. The user's Start Menu is held open for the run, and reached
// through a link only when the runner made it; the All Users one is the
// administrator's and is opened as the system resolves it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/posix.h"
#include "platform/process_values.h"

namespace {

// Bytes of path that a root takes when path is that root or lies below
// it; 0 when it is neither. The longer root wins should one hold the other.
std::size_t RootLength(const char* path) {
  std::size_t found = 0;
  for (const char* root : {UserStartMenu, AllUsersStartMenu}) {
    const std::size_t length = BoundedLength(root);
    if (length == 0 || length >= kMaxPath || length <= found || std::strncmp(path, root, length) != 0) continue;
    if (path[length] == '\0' || path[length] == '/' || root[length - 1] == '/') found = length;
  }
  return found;
}

// Copies the part of a path that begins at at (after any separators) into
// part; at then points past it. Returns 1 for a part, 0 at the end of the
// path, -1 for a part no scan hands over ("." or ".."), which is then not
// there (ENOENT), or one too long for a name (ENAMETOOLONG).
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

// The user's Start Menu as HoldUserStartMenu opened it, for the
// UserStartMenu it was opened for.
struct HeldMenu {
  char path[kMaxPath];  // "" before the first hold
  int folder;           // or -1, with why in error (errno)
  int error;
};
HeldMenu UserMenu{{}, -1, ENOENT};

bool NotThere(int error) { return error == ENOENT || error == ENOTDIR; }

// The folder a link at name in folder leads to, when the account running
// us owns the link (the kernel's protected-symlinks rule): a link the
// administrator made serves, one the user made does not. The link is
// looked at and read through one descriptor, so that it cannot be
// swapped in between. error is why the plain open failed.
int OpenThroughOwnLink(int folder, const char* name, int error) {
  const int link = openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat status;
  if (link < 0 || fstat(link, &status) != 0 || !S_ISLNK(status.st_mode)) {
    if (link >= 0) close(link);
    errno = error;  // a file, or gone: not there
    return -1;
  }
  char target[kLongPath];
  const ssize_t length = status.st_uid == geteuid() ? readlinkat(link, "", target, sizeof target - 1) : -1;
  const int read_error = status.st_uid == geteuid() ? errno : OwnErrno(kErrorUntrustedLink);
  close(link);
  if (length < 0) {
    errno = read_error;
    return -1;
  }
  target[length] = '\0';
  return openat(folder, target, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Opens the user's Start Menu as an entry of the folder above it (that
// folder by path: the profile is the administrator's to name).
int OpenUserMenu(const char* path) {
  const char* slash = std::strrchr(path, '/');
  int parent = AT_FDCWD;
  const char* name = path;
  if (slash != nullptr && slash[1] != '\0') {
    char above[kMaxPath];
    const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
    std::memcpy(above, path, length);
    above[length] = '\0';
    parent = open(above, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return -1;
    name = slash + 1;
  }
  int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0 && (errno == ELOOP || errno == ENOTDIR)) folder = OpenThroughOwnLink(parent, name, errno);
  int error = errno;
  if (parent != AT_FDCWD) close(parent);
  // The same folder as the All Users Start Menu: every item would be its
  // own namesake there.
  struct stat held;
  struct stat all_users;
  if (folder >= 0 && fstat(folder, &held) == 0 && stat(AllUsersStartMenu, &all_users) == 0 &&
      held.st_dev == all_users.st_dev && held.st_ino == all_users.st_ino) {
    close(folder);
    folder = -1;
    error = OwnErrno(kErrorAllUsersMenu);
  }
  errno = error;
  return folder;
}

// The held user's Start Menu, held now when it was not for this
// UserStartMenu (a test sets another); -1 with errno when it is not there
// or was refused.
int HeldUserMenu() {
  if (std::strcmp(UserMenu.path, UserStartMenu) != 0) HoldUserStartMenu();
  errno = UserMenu.error;
  return UserMenu.folder;
}

// Opens the root that path begins with: the user's from the held folder,
// never through its name again; the All Users one by name, following
// links.
int OpenRoot(const char* path, std::size_t length, int access) {
  if (length == std::strlen(UserStartMenu) && std::strncmp(path, UserStartMenu, length) == 0) {
    const int held = HeldUserMenu();
    return held < 0 ? -1 : openat(held, ".", access | O_DIRECTORY | O_CLOEXEC);
  }
  char root[kMaxPath];
  std::memcpy(root, path, length);
  root[length] = '\0';
  return open(root, access | O_DIRECTORY | O_CLOEXEC);
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

// The folders the scan is in, from a root down, each held open, so that
// the next folder it enters is opened from its parent: a path is walked
// once, not again for every folder below it.
constexpr std::size_t kMaxDepth = kLongPath / 2;
struct Chain {
  int folders[kMaxDepth];
  std::size_t ends[kMaxDepth];  // where each folder's part ends in path
  bool listed[kMaxDepth];       // read to its end by a listing
  std::size_t depth;
  char path[kLongPath];         // the deepest folder's path
  bool fresh;                   // the deepest was entered and not yet listed
};
Chain Entered;

void CloseFrom(std::size_t depth) {
  while (Entered.depth > depth) close(Entered.folders[--Entered.depth]);
}

// How many held folders path keeps: those whose paths begin it, but never
// its root when path is the root itself (a new scan starts afresh), and
// none under a relative root, which resolves from whatever the current
// directory is by then.
std::size_t HeldFor(const char* path, std::size_t root, std::size_t length) {
  if (length == root || !IsFullPath(path) || Entered.depth == 0 || Entered.ends[0] != root) return 0;
  std::size_t common = 0;
  while (Entered.path[common] != '\0' && Entered.path[common] == path[common]) ++common;
  std::size_t depth = Entered.depth;
  while (depth > 0) {
    const std::size_t end = Entered.ends[depth - 1];
    if (end <= common && (path[end] == '/' || path[end] == '\0')) break;
    --depth;
  }
  return depth;
}

// The folder holding path's last part, opened as the system resolves the
// path: for a root itself, or a path below neither root. A name with no
// folder part is found from the current directory.
int OpenParentByPath(const char* path, Place& place) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr || slash[1] == '\0') return 0;
  char folder[kLongPath];
  const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
  if (length >= sizeof folder) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  const int opened = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (opened < 0) return -1;
  place = Place{opened, slash + 1};
  return 0;
}

}  // namespace

void LetGoOfUserStartMenu() {
  if (UserMenu.folder >= 0) close(UserMenu.folder);
  UserMenu = HeldMenu{{}, -1, ENOENT};
}

int HoldUserStartMenu() {
  if (UserMenu.folder >= 0) close(UserMenu.folder);
  std::snprintf(UserMenu.path, sizeof UserMenu.path, "%s", UserStartMenu);
  UserMenu.folder = OpenUserMenu(UserStartMenu);
  UserMenu.error = UserMenu.folder < 0 ? errno : 0;
  if (UserMenu.folder >= 0 || NotThere(UserMenu.error)) return 0;
  SetLastError(CodeOfErrno(UserMenu.error));
  return -1;
}

int FindPlace(const char* path, Place& place) {
  place = Place{AT_FDCWD, path};
  const std::size_t root = RootLength(path);
  const char* at = path + root;
  char part[NAME_MAX + 1];
  const int first = root > 0 ? NextPart(at, part) : 0;
  if (first < 0) return -1;
  if (first == 0) return OpenParentByPath(path, place);
  int folder = OpenRoot(path, root, O_PATH);
  if (folder < 0) return -1;
  for (;;) {
    const char* name = at - std::strlen(part);
    const char* after = at;
    char next[NAME_MAX + 1];
    const int more = NextPart(after, next);
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

int StatItem(const char* path, struct stat* status) {
  Place place;
  if (FindPlace(path, place) != 0) return -1;
  const int result = fstatat(place.folder, place.name, status, AT_SYMLINK_NOFOLLOW);
  const int error = errno;
  LeavePlace(place);
  errno = error;
  return result;
}

int EnterFolder(const char* path) {
  const std::size_t root = RootLength(path);
  if (root == 0) {
    CloseFrom(0);
    Entered.fresh = false;
    return 0;
  }
  const std::size_t length = std::strlen(path);
  if (length >= kLongPath) {
    errno = ENAMETOOLONG;
    return -1;
  }
  Entered.fresh = false;
  std::size_t depth = HeldFor(path, root, length);
  CloseFrom(depth);
  const std::size_t kept = depth;
  std::memcpy(Entered.path, path, length + 1);
  const char* at = path + (depth > 0 ? Entered.ends[depth - 1] : root);
  if (depth == 0) {
    const int opened = OpenRoot(path, root, O_RDONLY);
    if (opened < 0) return -1;
    Entered.folders[0] = opened;
    Entered.ends[0] = root;
    Entered.listed[0] = false;
    Entered.depth = depth = 1;
  }
  char part[NAME_MAX + 1];
  for (int more; (more = NextPart(at, part)) != 0;) {
    if (more < 0) return -1;
    if (depth == kMaxDepth) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const int opened = OpenFolderBelow(Entered.folders[depth - 1], part, O_RDONLY);
    if (opened < 0) return -1;
    Entered.folders[depth] = opened;
    Entered.ends[depth] = static_cast<std::size_t>(at - path);
    Entered.listed[depth] = false;
    Entered.depth = ++depth;
  }
  const int folder = Entered.folders[depth - 1];
  if (fchdir(folder) != 0) return -1;
  // A folder entered again after its listing is listed again from its
  // start.
  if (depth == kept && Entered.listed[depth - 1]) {
    if (lseek(folder, 0, SEEK_SET) != 0) return -1;
    Entered.listed[depth - 1] = false;
  }
  Entered.fresh = true;
  return 1;
}

int TakeEnteredFolder() {
  if (!Entered.fresh) return -1;
  Entered.fresh = false;
  Entered.listed[Entered.depth - 1] = true;
  return Entered.folders[Entered.depth - 1];
}
