#pragma once
// Change propagation: in a copy run, decide which directories of the fresh
// scan are new and which files are new or newer than in the snapshot, and
// move each to the same place under AllUsersStartMenu, granting Everyone
// read access to what arrived.

#include <cstdint>

#include "inventory/inventory.h"
#include "platform/path_buffer.h"

// Compares two files' last-write times on year, month, day, hour, minute and
// second as unsigned 16-bit numbers, in that order. Milliseconds and day of
// week are never compared: a time restored at second precision must not
// look newer. Returns -1 when either time_valid is 0, 1 when a is later,
// 2 when a is earlier, 0 when the six fields are equal.
int32_t CompareWriteTimes(const FileRecord& a, const FileRecord& b);

// What the relocations of one copy run left undone, for the driver to
// choose the exit status and whether the snapshot is kept. Each such item
// has its line.
struct RelocationTally {
  // Items that were to move and are still in the user's Start Menu: a
  // move that failed or was skipped. A rerun can carry them over.
  uint32_t left_behind;
  // Items that arrived but were not granted, or beside which the move
  // left a name of its own.
  uint32_t unfinished;
  // The last directory moved whole (in a preview: that would have been),
  // or "": what lies below it went with it.
  PathBuffer moved_dir;
};

// Walks current in list order. A directory with no snapshot namesake
// (first case-insensitive path match) is moved whole; in one that has one,
// each file with no namesake there, or with a later write time, is moved.
// The user's Start Menu root itself is never moved: when it has no
// namesake, each of its files is moved as new. Items gone since the
// snapshot are left alone, and what a move achieved never changes a later
// decision. Returns what the moves left undone.
//
// In a preview (RunMode kPreviewMode) the decisions and their lines are
// the same; relocation only foresees each move and grant.
RelocationTally PropagateChanges(const DirList& snapshot, const DirList& current);

// The destination of a path that begins with UserStartMenu: the path with
// its first UserStartMenuLength bytes replaced by AllUsersStartMenu.
// Returns 0, or -1 (destination empty) when it would not fit a PathBuffer
// or the path is shorter than the part to replace.
int MapToAllUsers(PathBuffer destination, const char* source);

// Moves the directory d.path to its destination, printing its "Moving Dir"
// line first, and grants read access when the move succeeded. Nothing at
// the destination is deleted or created: an existing namesake or a missing
// parent makes the move fail. A destination that would not fit is
// skipped with a "Skipping Dir" line instead.
//
// A move that fails while its source is still there prints a "Cannot
// move" line with the system's reason and counts as left behind; one
// whose source is gone (it went with a directory moved before it, or an
// installer removed it) prints nothing more. A name the move left behind
// gets a "Cannot delete" line. In a preview nothing moves: a namesake
// directory at the destination, or no parent for it, gets the "Cannot
// move" line the move would fail with; otherwise the grant's line
// follows.
void MoveDirToAllUsers(const DirRecord& d, RelocationTally& tally);

// Moves file f of directory d to its destination, replacing a file of the
// same name there in one step, printing its "Moving File" line first, and
// grants read access when the move succeeded. A failed move leaves both the
// source and any namesake as they were. Missing destination directories are
// not created. A source or destination that would not fit is skipped with
// a "Skipping File" line instead. Failures, and a preview, as for a
// directory; a preview foresees a directory in the file's place, or no
// parent for it.
void MoveFileToAllUsers(const DirRecord& d, const FileRecord& f, RelocationTally& tally);

// Prints the "Exec" line and runs the access-control editor to grant
// Everyone read access to target (and, for a directory, everything below
// it), waiting until it has ended; its output is discarded. Returns 0, or
// -1 when the grant did not happen: a "Cannot grant" line gives the
// reason (not found, not started, or the exit status it ended with). A
// command line that would not fit is not run: a "Skipping Exec" line takes
// the place of the "Exec" line, and -1. In a preview only the line is
// printed.
int GrantEveryoneRead(const char* target);
