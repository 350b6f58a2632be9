// Paths below the two Start Menu roots on POSIX, reached one folder at a
// time from the root down with O_NOFOLLOW: a folder swapped for a link
// after the scan cannot lead a move, an attribute query or the scan out of
// the tree. The roots themselves are the administrator's and may be links.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

// Opens the root that path begins with, following links.
int OpenRoot(const char* path, std::size_t length, int access) {
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
