#pragma once
// Moves of an item from below one Start Menu to below the other: every
// move relocation makes, and what a preview foresees of one.

#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/walk.h"

// What became of one move, in one answer.
enum class MoveResult {
  kMoved,       // the item now lives at the destination and not at the source
  kSourceGone,  // the system said the source is not there: nothing was moved
  kFailed,      // it was not moved, for error
};
struct MoveOutcome {
  MoveResult result = MoveResult::kMoved;
  DWORD error = ERROR_SUCCESS;  // kFailed: the system's code, or one of ours (errors.h)
  // A name of the move's own that it left beside the destination and could
  // not remove ("" for none), whether it succeeded or not; it holds a whole
  // file, which nothing else refers to, and why it stayed.
  char leftover[2 * kMaxPath] = "";
  DWORD leftover_error = ERROR_SUCCESS;
};

// Moves the item source below from to destination below to (both
// relative, separated by kPathSeparator). flags are MoveFileExA's: with
// MOVEFILE_REPLACE_EXISTING a file at destination is replaced in one step
// (a directory there never is, and on POSIX a directory is then not moved
// at all); without it nothing at destination is ever replaced. With
// MOVEFILE_COPY_ALLOWED a file moves to another device or volume by a
// copy (on POSIX a link too); a directory never does. Allocates nothing:
// it runs where the run must not end.
//
//  - The source is gone (kSourceGone) only when the system answered that
//    it, or a folder on its way, is not there, or is a link or junction
//    now; any other answer about the source is a failure with its error.
//  - Only folders, links and regular files with one name move: a file with
//    other names (kErrorOtherNames), a FIFO, socket or device (kErrorFifo,
//    kErrorSocket, kErrorDevice) is refused. On POSIX, an item of such a
//    kind renamed into the source's place between the look and the rename
//    is put back.
//  - No link is followed on the way from either root: on POSIX each folder
//    is opened from the one above without following one; on Windows each
//    is looked at first and the move refused when one is a reparse point
//    (one put there after that look is still followed: Windows has no move
//    relative to an open folder).
//  - The same file under both names (hard links): with
//    MOVEFILE_REPLACE_EXISTING only the source's name is removed, since the
//    item is at destination already; without it the move fails.
//  - Across devices (volumes), a file is copied whole before it takes
//    destination's name, under no name (O_TMPFILE) or "<destination>
//    .dravonel-move-<pid>", with its bytes, permission bits and times; on
//    POSIX with its owner and group where the process may give them, and
//    otherwise without its set-user-ID and set-group-ID bits. The source is
//    removed only while it is still the file that was copied: on POSIX the
//    same file, size, last-write and status-change time, or else the move
//    fails with EAGAIN's code; on Windows it is held open against every
//    writer and remover until then. A namesake keeps a name of the move's
//    own until the source is gone ("<destination>.dravonel-keep-<pid>", or
//    "...-move-<pid>" where the namesake was exchanged with the copy), and
//    is put back when the source cannot be removed, but never over what
//    another process has put at destination since; a name that cannot be
//    removed is the outcome's leftover. The file ends in exactly one place,
//    or the move fails with both where they were.
void MoveItem(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination, DWORD flags,
              MoveOutcome& outcome);

// What the move above would come to as far as can be told without making
// it: the very checks the move makes before it changes anything, on both
// sides (the source's kind; a file or link where a folder should be at any
// level; a missing folder; a namesake folder, or a folder in a file's
// place). kMoved when none sees anything in its way.
void ForeseeMove(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination, DWORD flags,
                 MoveOutcome& outcome);
