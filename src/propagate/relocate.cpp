#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/messages.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"
#include "platform/process_values.h"
#include "propagate/propagate.h"

namespace {

// A preview takes every decision and prints every line of a copy run, but
// stops short of each move and grant.
bool Previewing() { return RunMode == kPreviewMode; }

// An item skipped for its length is still in the user's Start Menu, unless
// it went with a directory moved before it.
void CountSkipped(const char* source, RelocationTally& tally) {
  if (PartBelow(source, tally.moved_dir) == nullptr) ++tally.left_behind;
}

// The error a move to destination will fail with, as far as can be told
// without moving; ERROR_SUCCESS when nothing is seen in its way. The
// errors are those the move itself leaves, so that a preview prints the
// copy run's own line.
DWORD ForeseeMove(const char* destination, bool directory) {
  const DWORD there = GetFileAttributesA(destination);
  if (there != INVALID_FILE_ATTRIBUTES) {
    // A directory never merges with its namesake; a file replaces a file,
    // never a directory.
    if (directory) return ERROR_ALREADY_EXISTS;
    return (there & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
  }
  // No directory is created on the way.
  PathBuffer parent;
  std::memcpy(parent, destination, std::strlen(destination) + 1);
  char* separator = std::strrchr(parent, kPathSeparator);
  if (separator == nullptr) return ERROR_SUCCESS;
  *separator = '\0';
  return GetFileAttributesA(parent) == INVALID_FILE_ATTRIBUTES ? ERROR_PATH_NOT_FOUND : ERROR_SUCCESS;
}

// After the Moving line: the move (a directory never overwrites, a file
// replaces its namesake in one step), then the grant, each failure on a
// line of its own. Allocates nothing: it runs between a move and its grant.
void MoveAndGrant(const char* source, const char* destination, bool directory, RelocationTally& tally) {
  bool moved = false;
  bool gone = false;
  DWORD error = ERROR_SUCCESS;
  if (Previewing()) {
    // Nothing moves: what a directory would have taken along counts as
    // gone with it.
    gone = PartBelow(source, tally.moved_dir) != nullptr;
    error = gone ? ERROR_FILE_NOT_FOUND : ForeseeMove(destination, directory);
    moved = error == ERROR_SUCCESS;
  } else {
    // A directory never overwrites, nor moves across volumes.
    moved = MoveItem(source, destination, directory ? 0 : MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) == 0;
    // The move's own error, before another call replaces it. A source
    // that is not there any more went with its directory, or an installer
    // removed it meanwhile: nothing of it is left behind.
    if (!moved) {
      error = GetLastError();
      gone = GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES;
    }
  }
  if (!moved && !gone) {
    PrintWithReason(kCannotMoveLine, source, error);
    ++tally.left_behind;
  }
  // A name of the move's own that stayed beside the destination, whether
  // the move succeeded or not, holds a whole file that no one asked for.
  char leftover[2 * kMaxPath];
  DWORD leftover_error = ERROR_SUCCESS;
  if (!Previewing() && TakeLeftoverName(leftover, sizeof leftover, &leftover_error)) {
    PrintWithReason(kCannotDeleteLine, leftover, leftover_error);
    ++tally.unfinished;
  }
  if (!moved) return;
  if (directory) std::memcpy(tally.moved_dir, source, std::strlen(source) + 1);
  if (GrantEveryoneRead(destination) != 0) ++tally.unfinished;
}

}  // namespace

int MapToAllUsers(PathBuffer destination, const char* source) {
  // The cut is by length alone: every path of the fresh scan begins with
  // UserStartMenu. A shorter one cannot be mapped at all.
  const std::size_t cut = static_cast<std::size_t>(UserStartMenuLength);
  if (std::strlen(source) < cut) {
    destination[0] = '\0';
    return -1;
  }
  return JoinPath(destination, AllUsersStartMenu, source + cut);
}

void MoveDirToAllUsers(const DirRecord& d, RelocationTally& tally) {
  PathBuffer destination;
  if (MapToAllUsers(destination, d.path) != 0) {
    PrintNames(kSkippingDirLine, d.path);
    CountSkipped(d.path, tally);
    return;
  }
  PrintNames(kMovingDirLine, d.path, destination);
  // Never overwriting: a namesake already under the All Users
  // Start Menu, or a missing parent there, makes the move fail, and the
  // directory stays where it is.
  MoveAndGrant(d.path, destination, true, tally);
}

void MoveFileToAllUsers(const DirRecord& d, const FileRecord& f, RelocationTally& tally) {
  const std::size_t length = std::strlen(d.path);
  const bool has_separator = length > 0 && d.path[length - 1] == kPathSeparator;
  const char separator[] = {has_separator ? '\0' : kPathSeparator, '\0'};

  PathBuffer source;
  PathBuffer destination;
  if (JoinPath(source, d.path, separator, f.name) != 0) {
    PrintNames(kSkippingFileLine, d.path, separator, f.name);
    CountSkipped(d.path, tally);
    return;
  }
  if (MapToAllUsers(destination, source) != 0) {
    PrintNames(kSkippingFileLine, source);
    CountSkipped(source, tally);
    return;
  }
  PrintNames(kMovingFileLine, source, destination);
  // One step: deleting the namesake first would lose it whenever the move
  // then failed. A directory at the destination is never replaced.
  MoveAndGrant(source, destination, false, tally);
}

int GrantEveryoneRead(const char* target) {
  PathBuffer command;
  if (GrantCommandLine(command, kMaxPath, target) != 0) {
    PrintNames(kSkippingGrantLine, target);
    return -1;
  }
  PrintNames(kExecLine, command);
  if (Previewing()) return 0;
  char reason[kErrorTextSize];
  if (RunGrantCommand(target, reason, sizeof reason) == 0) return 0;
  PrintNames(kCannotGrantLine, target, reason);
  return -1;
}
