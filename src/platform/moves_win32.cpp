// Moves on Windows: the folders on each path looked at first, the same file
// under both names, and across volumes a copy made whole under a name of
// this process's own before it takes the item's name in one step, the
// source held against every writer and remover until it is deleted.
// MoveFileExA with MOVEFILE_COPY_ALLOWED would copy over the namesake and
// then delete the source: a failed copy would lose the namesake, and a
// source that cannot be deleted would leave the file in both places.

#include <cstdio>
#include <cstring>

#include "platform/ascii_case.h"
#include "platform/errors.h"
#include "platform/moves.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"

namespace {

// True when every folder between root and the last part of relative (the
// whole path being path) is a folder and no reparse point (a junction or
// a link), as the scan never enters one; otherwise false with the last
// error set, a reparse point answering ERROR_PATH_NOT_FOUND as for a
// folder that is gone. Windows has no move relative to an open folder: one
// put there after this look is still followed.
bool NoLinkOnTheWay(const char* path, std::size_t root) {
  PathBuffer folder;
  for (std::size_t at = root + 1; path[at] != '\0' && at < kMaxPath; ++at) {
    if (path[at] != '\\') continue;
    std::memcpy(folder, path, at);
    folder[at] = '\0';
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // A folder missing on the way, in the system's own word for it.
      if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
  }
  return true;
}

bool NotThere(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Which file a path names: its volume and index, as the handle says, and
// how many names it has.
struct Identity {
  DWORD volume;
  DWORD high;
  DWORD low;
  DWORD links;
  DWORD attributes;
};

bool IdentityOf(const char* path, Identity& identity) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const BOOL known = GetFileInformationByHandle(handle, &information);
  CloseHandle(handle);
  identity = Identity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow,
                      information.nNumberOfLinks, information.dwFileAttributes};
  return known != FALSE;
}

bool Same(const Identity& a, const Identity& b) { return a.volume == b.volume && a.high == b.high && a.low == b.low; }

// True when the two paths lie on different volumes.
bool OnOtherVolumes(const char* source, const char* destination) {
  char from[kMaxPath];
  char to[kMaxPath];
  if (!GetVolumePathNameA(source, from, sizeof from) || !GetVolumePathNameA(destination, to, sizeof to)) return false;
  std::size_t i = 0;
  while (from[i] != '\0' && FoldAsciiCase(from[i]) == FoldAsciiCase(to[i])) ++i;
  return from[i] != to[i];
}

// Reads in to its end into out.
bool CopyData(HANDLE in, HANDLE out) {
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    DWORD put = 0;
    if (!WriteFile(out, buffer, got, &put, nullptr) || put != got) return false;
  }
}

// This process's own names beside the destination: no other run can hold
// them, and those a run killed half way leaves never block a later one.
bool OwnName(char (&name)[kMaxPath + 32], const char* destination, const char* what) {
  const int length = std::snprintf(name, sizeof name, "%s.dravonel-%s-%lu", destination, what, GetCurrentProcessId());
  if (length > 0 && static_cast<std::size_t>(length) < kMaxPath) return true;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// Keeps the last error across the calls that clean up after a failure.
int Failed(DWORD error) {
  SetLastError(error);
  return -1;
}

// The copy made whole at staged, with the source's bytes and times; its
// identity in copied. Nothing is left when it fails.
bool MakeCopy(HANDLE in, const BY_HANDLE_FILE_INFORMATION& source, const char* staged, Identity& copied) {
  HANDLE out = CreateFileA(staged, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool made = CopyData(in, out) &&
                    SetFileTime(out, &source.ftCreationTime, &source.ftLastAccessTime, &source.ftLastWriteTime) &&
                    FlushFileBuffers(out) && GetFileInformationByHandle(out, &information);
  const DWORD error = GetLastError();
  const bool closed = CloseHandle(out) != FALSE;
  if (made && closed) {
    copied = Identity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow,
                      information.nNumberOfLinks, information.dwFileAttributes};
    return true;
  }
  DeleteFileA(staged);
  SetLastError(made ? GetLastError() : error);
  return false;
}

// A name of the move's own that stayed, and why.
void KeepLeftover(MoveOutcome& outcome, const char* name, DWORD error) {
  outcome.leftover_error = error;
  std::snprintf(outcome.leftover, sizeof outcome.leftover, "%s", name);
}

// The source could not be deleted: the copy goes again, but only while it
// still has the item's name (another run may have put its own there
// since), and the namesake comes back only in the copy's place. A namesake
// that cannot come back stays under kept, the move's leftover.
void Undo(const char* destination, const Identity& copied, const char* kept, bool has_kept, MoveOutcome& outcome) {
  const DWORD error = GetLastError();
  Identity now;
  if (IdentityOf(destination, now) && Same(now, copied)) {
    if (!has_kept) {
      DeleteFileA(destination);
    } else if (MoveFileExA(kept, destination, MOVEFILE_REPLACE_EXISTING)) {
      has_kept = false;
    }
  }
  if (has_kept) KeepLeftover(outcome, kept, GetLastError());
  SetLastError(error);
}

// The move of a file to another volume. Returns 0; 1 when the source is
// gone; or -1 with the last error.
int MoveAcrossVolumes(const char* source, const char* destination, bool replace, MoveOutcome& outcome) {
  char staged[kMaxPath + 32];
  char kept[kMaxPath + 32];
  if (!OwnName(staged, destination, "move") || !OwnName(kept, destination, "keep")) return -1;
  // Held with no sharing but reading from the open to the delete: no one
  // can write, rename or delete the source meanwhile, so what is deleted
  // is what was copied.
  HANDLE in = CreateFileA(source, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return NotThere(GetLastError()) ? 1 : -1;
  BY_HANDLE_FILE_INFORMATION information;
  Identity copied{};
  if (!GetFileInformationByHandle(in, &information)) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    return Failed(error);
  }
  // A folder never moves across volumes, nor does a link (a copy would
  // take what it points to).
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    CloseHandle(in);
    return Failed(ERROR_NOT_SAME_DEVICE);
  }
  // The file held is the one with one name: a second name made since
  // could be a file outside both Start Menus, whose bytes the copy would
  // carry in. (No writer can be at work: the hold shares none.)
  if (information.nNumberOfLinks > 1) {
    CloseHandle(in);
    return Failed(kErrorOtherNames);
  }
  if (!MakeCopy(in, information, staged, copied)) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    return Failed(error);
  }
  // The copy takes the item's name in one step; a namesake keeps a second
  // name (a hard link) until the source is gone.
  bool has_kept = false;
  bool placed = false;
  if (replace && GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES) {
    has_kept = CreateHardLinkA(kept, destination, nullptr) != FALSE;
    placed = has_kept && MoveFileExA(staged, destination, MOVEFILE_REPLACE_EXISTING);
  } else {
    placed = MoveFileExA(staged, destination, 0) != FALSE;
  }
  if (!placed) {
    const DWORD error = GetLastError();
    if (has_kept) DeleteFileA(kept);
    DeleteFileA(staged);
    CloseHandle(in);
    return Failed(error);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!SetFileInformationByHandle(in, FileDispositionInfo, &disposition, sizeof disposition)) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    Undo(destination, copied, kept, has_kept, outcome);
    return Failed(error);
  }
  CloseHandle(in);  // the source goes now
  if (has_kept && !DeleteFileA(kept)) KeepLeftover(outcome, kept, GetLastError());
  // Attributes as the source had them; a copy without them is no loss.
  SetFileAttributesA(destination, information.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
  return 0;
}

// Both sides of a move, as it finds them before it changes anything.
struct Sides {
  PathBuffer source;
  PathBuffer destination;
  Identity from;
  bool same;  // the destination is the source under another name
};

bool Answer(MoveOutcome& outcome, MoveResult result, DWORD error) {
  outcome.result = result;
  outcome.error = error;
  return false;
}

// Looks at both sides of a move; the move and its foresight make these
// very checks. True when nothing is in its way; otherwise false with the
// answer in outcome: the source gone, where the system said a name on its
// way is not there, or a failure with its error.
bool LookAtSides(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination,
                 DWORD flags, Sides& sides, MoveOutcome& outcome) {
  const char separator[] = {kPathSeparator, '\0'};
  if (JoinPath(sides.source, from.path, separator, source) != 0 ||
      JoinPath(sides.destination, to.path, separator, destination) != 0) {
    return Answer(outcome, MoveResult::kFailed, ERROR_FILENAME_EXCED_RANGE);
  }
  if (!NoLinkOnTheWay(sides.source, std::strlen(from.path)) || !IdentityOf(sides.source, sides.from)) {
    const DWORD error = GetLastError();
    return Answer(outcome, NotThere(error) ? MoveResult::kSourceGone : MoveResult::kFailed, error);
  }
  if (!NoLinkOnTheWay(sides.destination, std::strlen(to.path))) {
    return Answer(outcome, MoveResult::kFailed, GetLastError());
  }
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  const bool folder = (sides.from.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // One file under both names (hard links): a rename between them may do
  // nothing and succeed (Wine's does), leaving the item in both trees. It
  // is where it is to go already; only its name in the user's tree goes.
  Identity there;
  const bool occupied = IdentityOf(sides.destination, there);
  sides.same = occupied && Same(sides.from, there);
  if (sides.same) return replace && !folder ? true : Answer(outcome, MoveResult::kFailed, ERROR_ALREADY_EXISTS);
  // A file with another name elsewhere: its grant would reach that name.
  if (!folder && sides.from.links > 1) return Answer(outcome, MoveResult::kFailed, kErrorOtherNames);
  if (occupied && (!replace || folder)) return Answer(outcome, MoveResult::kFailed, ERROR_ALREADY_EXISTS);
  if (occupied && (there.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Answer(outcome, MoveResult::kFailed, ERROR_ACCESS_DENIED);  // a file never replaces a folder
  }
  // Windows cannot move a folder to another volume.
  if (folder && OnOtherVolumes(sides.source, sides.destination)) {
    return Answer(outcome, MoveResult::kFailed, ERROR_NOT_SAME_DEVICE);
  }
  return true;
}

}  // namespace

void MoveItem(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination, DWORD flags,
              MoveOutcome& outcome) {
  outcome = MoveOutcome{};
  Sides sides;
  if (!LookAtSides(from, source, to, destination, flags, sides, outcome)) return;
  if (sides.same) {
    if (!DeleteFileA(sides.source)) Answer(outcome, MoveResult::kFailed, GetLastError());
    return;
  }
  if (MoveFileExA(sides.source, sides.destination, flags & ~static_cast<DWORD>(MOVEFILE_COPY_ALLOWED))) return;
  const DWORD error = GetLastError();
  if ((flags & MOVEFILE_COPY_ALLOWED) == 0 || !OnOtherVolumes(sides.source, sides.destination)) {
    Answer(outcome, MoveResult::kFailed, error);
    return;
  }
  const int moved = MoveAcrossVolumes(sides.source, sides.destination, (flags & MOVEFILE_REPLACE_EXISTING) != 0,
                                      outcome);
  if (moved != 0) Answer(outcome, moved > 0 ? MoveResult::kSourceGone : MoveResult::kFailed, GetLastError());
}

void ForeseeMove(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination, DWORD flags,
                 MoveOutcome& outcome) {
  outcome = MoveOutcome{};
  Sides sides;
  LookAtSides(from, source, to, destination, flags, sides, outcome);
}
