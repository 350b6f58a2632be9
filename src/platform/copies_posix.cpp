// Moves across devices on POSIX: a copy made whole under no name, or a
// name of this process's own, before it takes the item's name in one step;
// the source removed only while it is still the file that was copied; a
// namesake kept until the source is gone; and an undo that never replaces
// what is at the destination now. Allocates nothing: it runs between a
// move and its grant.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix.h"

namespace {

// Notes destination followed by suffix as the name the move left behind,
// and errno as why.
void KeepLeftover(MoveOutcome& outcome, const char* destination, const char* suffix) {
  outcome.leftover_error = CodeOfErrno(errno);
  if (std::snprintf(outcome.leftover, sizeof outcome.leftover, "%s%s", destination, suffix) < 0) {
    outcome.leftover[0] = '\0';
  }
}

// This process's own names beside the destination: no other run can hold
// them, and those a run killed half way leaves never block a later one.
struct OwnNames {
  char staged_suffix[32];     // ".dravonel-move-<pid>"
  char kept_suffix[32];       // ".dravonel-keep-<pid>"
  char staged[NAME_MAX + 1];  // the copy until it takes the item's name
  char kept[NAME_MAX + 1];    // the namesake, where it cannot be exchanged
};

bool MakeOwnNames(const char* name, OwnNames& names) {
  const long pid = static_cast<long>(getpid());
  std::snprintf(names.staged_suffix, sizeof names.staged_suffix, ".dravonel-move-%ld", pid);
  std::snprintf(names.kept_suffix, sizeof names.kept_suffix, ".dravonel-keep-%ld", pid);
  const int staged = std::snprintf(names.staged, sizeof names.staged, "%s%s", name, names.staged_suffix);
  const int kept = std::snprintf(names.kept, sizeof names.kept, "%s%s", name, names.kept_suffix);
  if (staged > 0 && kept > 0 && static_cast<std::size_t>(staged) < sizeof names.staged &&
      static_cast<std::size_t>(kept) < sizeof names.kept) {
    return true;
  }
  errno = ENAMETOOLONG;
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when name in folder is the file that status was taken of.
bool Is(int folder, const char* name, const struct stat& status) {
  struct stat now;
  return fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, status);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when the source is still what was copied: the same file, size,
// last-write time and status-change time (which a rewrite that puts the
// last-write time back, touch -r, still moves on). Otherwise errno says
// ENOENT (gone) or EAGAIN (rewritten, or another file put in its place,
// since).
bool StillAsCopied(const Place& from, const struct stat& copied) {
  struct stat now;
  if (fstatat(from.folder, from.name, &now, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (SameFile(now, copied) && now.st_size == copied.st_size && SameTime(now.st_mtim, copied.st_mtim) &&
      SameTime(now.st_ctim, copied.st_ctim)) {
    return true;
  }
  errno = EAGAIN;
  return false;
}

bool CopyData(int in, int out) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (WriteAll(out, buffer, static_cast<std::size_t>(got)) != static_cast<std::size_t>(got)) return false;
  }
}

// The owner and group a rename keeps, where this process may give them
// away (root may); then the permission bits, set-user-ID only where the
// owner was kept and set-group-ID only where the group was, as mv has it:
// a user's file must never become a program that runs as whoever moved
// it. Then the times.
bool KeepOwnerModeAndTimes(int out, const struct stat& source) {
  if (fchown(out, source.st_uid, source.st_gid) != 0 && fchown(out, static_cast<uid_t>(-1), source.st_gid) != 0) {
    // Neither: the copy keeps the mover's, and the bits below say so.
  }
  struct stat copy;
  if (fstat(out, &copy) != 0) return false;
  mode_t mode = source.st_mode & 07777;
  if (copy.st_uid != source.st_uid) mode &= static_cast<mode_t>(~S_ISUID);
  if (copy.st_gid != source.st_gid) mode &= static_cast<mode_t>(~S_ISGID);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  return fchmod(out, mode) == 0 && futimens(out, times) == 0;
}

// The copy as made: an unnamed file (O_TMPFILE) of the destination folder,
// still open, or a file or link at the staged name.
struct Copy {
  int unnamed;  // or -1
  struct stat status;
};

int CopyLink(const Place& from, const Place& to, const struct stat& source, const char* staged, Copy& copy) {
  char target[kLongPath];
  const ssize_t length = readlinkat(from.folder, from.name, target, sizeof target);
  if (length < 0) return errno == ENOENT ? 1 : -1;
  if (static_cast<std::size_t>(length) >= sizeof target) {
    errno = ENAMETOOLONG;
    return -1;
  }
  target[length] = '\0';
  if (symlinkat(target, to.folder, staged) != 0) return -1;
  if (fchownat(to.folder, staged, source.st_uid, source.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
    // A link's owner matters only in a sticky folder: the mover's will do.
  }
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (utimensat(to.folder, staged, times, AT_SYMLINK_NOFOLLOW) == 0 &&
      fstatat(to.folder, staged, &copy.status, AT_SYMLINK_NOFOLLOW) == 0) {
    return 0;
  }
  const int error = errno;
  unlinkat(to.folder, staged, 0);
  errno = error;
  return -1;
}

// Copies the source, a regular file or a link, whole. The file goes into
// an unnamed file, so that a copy cut short, even by a kill, leaves
// nothing; where the file system (or a missing /proc, through which it is
// linked) cannot, into a new file at staged. Returns 0; 1 when the source
// is gone; or -1 with errno, leaving nothing behind.
int MakeCopy(const Place& from, const Place& to, const struct stat& source, const char* staged, Copy& copy) {
  copy.unnamed = -1;
  if (S_ISLNK(source.st_mode)) return CopyLink(from, to, source, staged, copy);
  const int in = openat(from.folder, from.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return errno == ENOENT ? 1 : -1;
  // The file opened is the one looked at, still with one name: a second
  // name made since could be a file outside both Start Menus, whose bytes
  // the copy would carry in.
  struct stat opened {};
  int refused = fstat(in, &opened) != 0 ? errno : 0;  // a look that failed gives its own reason
  if (refused == 0 && !SameFile(opened, source)) refused = EAGAIN;  // another file put in its place
  if (refused == 0 && opened.st_nlink > 1) refused = OwnErrno(kErrorOtherNames);
  if (refused != 0) {
    close(in);
    errno = refused;
    return -1;
  }
  const bool proc = access("/proc/self/fd", X_OK) == 0;
  int out = proc ? openat(to.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
  const bool named = out < 0 && (!proc || errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOENT);
  if (named) out = openat(to.folder, staged, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = out >= 0 && CopyData(in, out) && KeepOwnerModeAndTimes(out, source) && fsync(out) == 0 &&
            fstat(out, &copy.status) == 0;
  int error = errno;
  close(in);
  if (out >= 0 && named && close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    if (!named) copy.unnamed = out;
    return 0;
  }
  if (out >= 0 && !named) close(out);
  if (out >= 0 && named) unlinkat(to.folder, staged, 0);
  errno = error;
  return -1;
}

// Gives the copy name, which must be free; an unnamed copy is linked
// there, a named one renamed.
int NameCopy(const Place& to, Copy& copy, const char* staged, const char* name) {
  if (copy.unnamed < 0) return name == staged ? 0 : RenameNoReplace(to.folder, staged, to.folder, name);
  char handle[32];
  std::snprintf(handle, sizeof handle, "/proc/self/fd/%d", copy.unnamed);
  const int linked = linkat(AT_FDCWD, handle, to.folder, name, AT_SYMLINK_FOLLOW);
  const int error = errno;
  close(copy.unnamed);  // its data is on disk already; unlinked, it is gone
  copy.unnamed = -1;
  errno = error;
  return linked;
}

// Takes the copy away again while it is still at name.
void Discard(const Place& to, Copy& copy, const char* name) {
  const int error = errno;
  if (copy.unnamed >= 0) {
    close(copy.unnamed);
    copy.unnamed = -1;
  } else if (Is(to.folder, name, copy.status)) {
    unlinkat(to.folder, name, 0);
  }
  errno = error;
}

bool CannotRenameSo(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

// The copy, at staged, takes the namesake's name in one step, and the
// namesake keeps a name of its own until the source is gone: exchanged
// with the copy, or where the file system cannot exchange, linked to kept
// before the copy is renamed over it. holder is then that name (null when
// the namesake went meanwhile). Returns 0, or -1 with errno and the
// namesake as it was.
int PutInPlace(const Place& to, const OwnNames& names, const char*& holder) {
  holder = nullptr;
  if (renameat2(to.folder, names.staged, to.folder, to.name, RENAME_EXCHANGE) == 0) {
    holder = names.staged;
    return 0;
  }
  if (errno == ENOENT) return RenameNoReplace(to.folder, names.staged, to.folder, to.name);
  if (!CannotRenameSo(errno)) return -1;
  if (linkat(to.folder, to.name, to.folder, names.kept, 0) != 0) {
    return errno == ENOENT ? RenameNoReplace(to.folder, names.staged, to.folder, to.name) : -1;
  }
  if (renameat(to.folder, names.staged, to.folder, to.name) == 0) {
    holder = names.kept;
    return 0;
  }
  const int error = errno;
  unlinkat(to.folder, names.kept, 0);
  errno = error;
  return -1;
}

const char* SuffixOf(const OwnNames& names, const char* holder) {
  return holder == names.kept ? names.kept_suffix : names.staged_suffix;
}

// The source could not be removed: the copy goes again, but only while it
// still has the item's name (another run may have put its own there since),
// and the namesake comes back only in the copy's place. What cannot be put
// back stays under its own name, reported as the move's leftover.
void Undo(const char* destination, const Place& to, const OwnNames& names, const char* holder, Copy& copy,
          MoveOutcome& outcome) {
  const int error = errno;
  const bool copy_there = Is(to.folder, to.name, copy.status);
  errno = EEXIST;  // why a namesake stays when another file has its place
  if (holder == names.staged) {
    if (copy_there && renameat2(to.folder, names.staged, to.folder, to.name, RENAME_EXCHANGE) == 0 &&
        Is(to.folder, names.staged, copy.status) && unlinkat(to.folder, names.staged, 0) == 0) {
      holder = nullptr;
    }
  } else if (holder == names.kept) {
    if (copy_there && renameat(to.folder, names.kept, to.folder, to.name) == 0) holder = nullptr;
  } else if (copy_there) {
    unlinkat(to.folder, to.name, 0);
  }
  if (holder != nullptr) KeepLeftover(outcome, destination, SuffixOf(names, holder));
  errno = error;
}

}  // namespace

int MoveAcrossDevices(const char* destination, const Place& from, const Place& to, const struct stat& source,
                      bool replace, MoveOutcome& outcome) {
  OwnNames names;
  if (!MakeOwnNames(to.name, names)) return -1;
  Copy copy;
  const int made = MakeCopy(from, to, source, names.staged, copy);
  if (made != 0) return made;
  // Nothing has the item's name yet: a source rewritten or replaced while
  // it was copied (an installer at work) stays, and the copy goes; one
  // removed meanwhile is gone.
  if (!StillAsCopied(from, source)) {
    Discard(to, copy, names.staged);
    return errno == ENOENT ? 1 : -1;
  }
  const char* holder = nullptr;
  if (NameCopy(to, copy, names.staged, replace ? names.staged : to.name) != 0) {
    Discard(to, copy, names.staged);
    return -1;
  }
  if (replace && PutInPlace(to, names, holder) != 0) {
    Discard(to, copy, names.staged);
    return -1;
  }
  if (unlinkat(from.folder, from.name, 0) != 0) {
    Undo(destination, to, names, holder, copy, outcome);
    return -1;
  }
  if (holder != nullptr && unlinkat(to.folder, holder, 0) != 0) {
    KeepLeftover(outcome, destination, SuffixOf(names, holder));
  }
  return 0;
}
