// Moves on POSIX: each item reached from its Start Menu root without
// following a link, a rename that never replaces, a replacement in one
// step, the same file under both names, and across devices a copy
// (copies_posix).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat, renameat2

#include "platform/moves.h"
#include "platform/path_buffer.h"
#include "platform/posix.h"

namespace {

bool CannotRenameSo(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

}  // namespace

int RenameNoReplace(int from_folder, const char* from, int to_folder, const char* to) {
  if (renameat2(from_folder, from, to_folder, to, RENAME_NOREPLACE) == 0) return 0;
  if (!CannotRenameSo(errno)) return -1;
  // Without RENAME_NOREPLACE: link and unlink for a file (link refuses an
  // existing name atomically), a checked rename for a folder.
  struct stat status;
  if (fstatat(from_folder, from, &status, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (!S_ISDIR(status.st_mode)) {
    if (linkat(from_folder, from, to_folder, to, 0) != 0) return -1;
    if (unlinkat(from_folder, from, 0) == 0) return 0;
    const int error = errno;
    unlinkat(to_folder, to, 0);
    errno = error;
    return -1;
  }
  if (fstatat(to_folder, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  if (errno != ENOENT) return -1;
  return renameat(from_folder, from, to_folder, to);
}

void KeepLeftover(const char* destination, const char* suffix) {
  RememberLeftover(destination, suffix, CodeOfErrno(errno));
}

namespace {

// What a move carries is a folder, a link or a regular file with one name:
// 0, or the errno of our own code for anything else. A second name would
// take the grant to a file outside both Start Menus; a FIFO, socket or
// device is no menu item, and a FIFO would hold every program that opens
// it.
int RefusedKind(const struct stat& status) {
  if (S_ISDIR(status.st_mode) || S_ISLNK(status.st_mode)) return 0;
  if (S_ISREG(status.st_mode)) return status.st_nlink > 1 ? OwnErrno(kErrorOtherNames) : 0;
  if (S_ISFIFO(status.st_mode)) return OwnErrno(kErrorFifo);
  if (S_ISSOCK(status.st_mode)) return OwnErrno(kErrorSocket);
  return OwnErrno(kErrorDevice);
}

// After a rename by name: the item now at to must be the one looked at,
// or at least one a move may carry. One of another kind, renamed into the
// source's place between the look and the rename, goes back there.
int CheckRenamed(const Place& from, const Place& to, const struct stat& source) {
  struct stat moved;
  if (fstatat(to.folder, to.name, &moved, AT_SYMLINK_NOFOLLOW) != 0) return 0;  // gone on: not ours to judge
  if (moved.st_dev == source.st_dev && moved.st_ino == source.st_ino) return 0;
  const int refused = RefusedKind(moved);
  if (refused == 0) return 0;
  RenameNoReplace(to.folder, to.name, from.folder, from.name);
  errno = refused;
  return -1;
}

// The move between two places found; -1 with errno.
int MoveBetween(const char* destination, const Place& from, const Place& to, DWORD flags) {
  struct stat source;
  if (fstatat(from.folder, from.name, &source, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  struct stat there;
  const bool occupied = fstatat(to.folder, to.name, &there, AT_SYMLINK_NOFOLLOW) == 0;
  if (!occupied && errno != ENOENT) return -1;
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  const bool folder = S_ISDIR(source.st_mode);

  // One file under both names (hard links): a rename between them would
  // do nothing and succeed, leaving the item in both trees. It is where
  // it is to go already; only its name in the user's tree goes.
  if (occupied && there.st_dev == source.st_dev && there.st_ino == source.st_ino) {
    if (!replace || folder) {
      errno = EEXIST;
      return -1;
    }
    return unlinkat(from.folder, from.name, 0);
  }
  if (const int refused = RefusedKind(source)) {
    errno = refused;
    return -1;
  }
  if (replace) {
    // Never a directory on either side (Windows refuses one at the
    // destination; a folder that took a file's place since the scan is
    // left where it is), and the namesake goes in the one rename.
    if (folder || (occupied && S_ISDIR(there.st_mode))) {
      errno = folder ? EISDIR : EACCES;  // Windows' answer to a folder in the way
      return -1;
    }
    if (renameat(from.folder, from.name, to.folder, to.name) == 0) return CheckRenamed(from, to, source);
  } else if (RenameNoReplace(from.folder, from.name, to.folder, to.name) == 0) {
    return CheckRenamed(from, to, source);
  }
  if (errno != EXDEV || folder || (flags & MOVEFILE_COPY_ALLOWED) == 0) return -1;
  if (occupied && !replace) {
    errno = EEXIST;
    return -1;
  }
  return MoveAcrossDevices(destination, from, to, source, replace);
}

}  // namespace

int MoveItem(const char* source, const char* destination, DWORD flags) {
  ForgetLeftover();
  Place from;
  Place to;
  if (FindPlace(source, from) != 0) {
    KeepErrno();
    return -1;
  }
  if (FindPlace(destination, to) != 0) {
    KeepErrno();
    LeavePlace(from);
    return -1;
  }
  const int moved = MoveBetween(destination, from, to, flags);
  if (moved != 0) KeepErrno();
  LeavePlace(from);
  LeavePlace(to);
  return moved;
}
