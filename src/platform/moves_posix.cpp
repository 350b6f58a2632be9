// Moves on POSIX: each item reached from its Start Menu root without
// following a link, a rename that never replaces, a replacement in one
// step, the same file under both names, and across devices a copy
// (copies_posix).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat, renameat2

#include "platform/errors.h"
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

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Both sides of a move, as it finds them before it changes anything.
struct Sides {
  Place from{-1, ""};
  Place to{-1, ""};
  struct stat source {};
  bool occupied = false;
  struct stat there {};
};

void Leave(const Sides& sides) {
  LeavePlace(sides.from);
  LeavePlace(sides.to);
}

bool Answer(MoveOutcome& outcome, MoveResult result, int error) {
  outcome.result = result;
  outcome.error = CodeOfErrno(error);
  return false;
}

// Looks at both sides of a move; the move and its foresight make these
// very checks. True when nothing is in its way, with both places found;
// otherwise false with the answer in outcome: the source gone, where the
// system said a name on its way is not there, or a failure with its error.
bool LookAtSides(const MenuRoot& from_root, const char* source, const MenuRoot& to_root, const char* destination,
                 DWORD flags, Sides& sides, MoveOutcome& outcome) {
  if (FindPlace(from_root, source, sides.from) != 0) {
    return Answer(outcome, errno == ENOENT || errno == ENOTDIR ? MoveResult::kSourceGone : MoveResult::kFailed, errno);
  }
  if (fstatat(sides.from.folder, sides.from.name, &sides.source, AT_SYMLINK_NOFOLLOW) != 0) {
    return Answer(outcome, errno == ENOENT ? MoveResult::kSourceGone : MoveResult::kFailed, errno);
  }
  if (FindPlace(to_root, destination, sides.to) != 0) return Answer(outcome, MoveResult::kFailed, errno);
  sides.occupied = fstatat(sides.to.folder, sides.to.name, &sides.there, AT_SYMLINK_NOFOLLOW) == 0;
  if (!sides.occupied && errno != ENOENT) return Answer(outcome, MoveResult::kFailed, errno);
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  const bool folder = S_ISDIR(sides.source.st_mode);
  // One file under both names (hard links): the move removes the user's
  // name alone, as the item is where it is to go already.
  if (sides.occupied && SameFile(sides.there, sides.source)) {
    return replace && !folder ? true : Answer(outcome, MoveResult::kFailed, EEXIST);
  }
  if (const int refused = RefusedKind(sides.source)) return Answer(outcome, MoveResult::kFailed, refused);
  if (replace) {
    // Never a directory on either side (Windows refuses one at the
    // destination; a folder that took a file's place since the scan is
    // left where it is).
    if (folder) return Answer(outcome, MoveResult::kFailed, EISDIR);
    if (sides.occupied && S_ISDIR(sides.there.st_mode)) {
      return Answer(outcome, MoveResult::kFailed, EACCES);  // Windows' answer to a folder in the way
    }
  } else if (sides.occupied) {
    return Answer(outcome, MoveResult::kFailed, EEXIST);  // never replaced
  }
  // A folder never moves across devices: a rename cannot, and a copy of a
  // whole tree could not be made in one step.
  struct stat from_folder;
  struct stat to_folder;
  if (folder && fstat(sides.from.folder, &from_folder) == 0 && fstat(sides.to.folder, &to_folder) == 0 &&
      from_folder.st_dev != to_folder.st_dev) {
    return Answer(outcome, MoveResult::kFailed, EXDEV);
  }
  return true;
}

// The move between two sides looked at: 0, 1 when the source went
// meanwhile (across devices, while it was copied), or -1 with errno.
int MoveBetween(const char* destination, const Sides& sides, DWORD flags, MoveOutcome& outcome) {
  const Place& from = sides.from;
  const Place& to = sides.to;
  if (sides.occupied && SameFile(sides.there, sides.source)) return unlinkat(from.folder, from.name, 0);
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  const int renamed = replace ? renameat(from.folder, from.name, to.folder, to.name)
                              : RenameNoReplace(from.folder, from.name, to.folder, to.name);
  if (renamed == 0) return CheckRenamed(from, to, sides.source);
  if (errno != EXDEV || S_ISDIR(sides.source.st_mode) || (flags & MOVEFILE_COPY_ALLOWED) == 0) return -1;
  return MoveAcrossDevices(destination, from, to, sides.source, replace, outcome);
}

}  // namespace

void MoveItem(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination, DWORD flags,
              MoveOutcome& outcome) {
  outcome = MoveOutcome{};
  Sides sides;
  if (LookAtSides(from, source, to, destination, flags, sides, outcome)) {
    // The full destination, for a name the move leaves beside it.
    char full[2 * kMaxPath];
    const char separator[] = {kPathSeparator, '\0'};
    if (JoinPathInto(full, sizeof full, to.path, separator, destination) != 0) full[0] = '\0';
    const int moved = MoveBetween(full, sides, flags, outcome);
    if (moved != 0) Answer(outcome, moved > 0 ? MoveResult::kSourceGone : MoveResult::kFailed, errno);
  }
  Leave(sides);
}

void ForeseeMove(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination, DWORD flags,
                 MoveOutcome& outcome) {
  outcome = MoveOutcome{};
  Sides sides;
  LookAtSides(from, source, to, destination, flags, sides, outcome);
  Leave(sides);
}
