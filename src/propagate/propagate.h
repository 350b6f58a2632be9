#pragma once
// Change propagation: in a copy run, decide which directories of the fresh
// scan are new and which files are new or newer than in the snapshot, and
// move each to the same place under AllUsersStartMenu, granting Everyone
// read access to what arrived. Change detection decides first, into one
// ordered list; the copy run carries the list out, and the preview prints
// what it would do, from the same list.

#include <cstdint>
#include <vector>

#include "inventory/inventory.h"
#include "platform/path_buffer.h"
#include "platform/walk.h"

// Compares two files' last-write times on year, month, day, hour, minute and
// second as unsigned 16-bit numbers, in that order. Milliseconds and day of
// week are never compared: a time restored at second precision must not
// look newer. Returns -1 when either time_valid is 0, 1 when a is later,
// 2 when a is earlier, 0 when the six fields are equal.
int32_t CompareWriteTimes(const FileRecord& a, const FileRecord& b);

// One decision of a copy run: a directory of the fresh scan to move whole,
// or one file of a directory (file set).
struct MoveDecision {
  const DirRecord* dir;
  const FileRecord* file;  // null: the directory itself
};
using MoveDecisions = std::vector<MoveDecision>;

// Walks current in list order and appends to decisions, in that order,
// each directory with no snapshot namesake (first case-insensitive path
// match), to move whole, and in one that has one, each file with no
// namesake there or with a later write time. The user's Start Menu root
// itself is never moved: when it has no namesake, each of its files is
// new. Items gone since the snapshot are left alone. Returns 0, or -1 when
// memory for the list ran out (decisions then holds what was decided).
int DecideChanges(const DirList& snapshot, const DirList& current, MoveDecisions& decisions);

// What the relocations of one copy run left undone, for the driver to
// choose the exit status and whether the snapshot is kept. Each such item
// has its line.
struct RelocationTally {
  // Items that were to move and are still in the user's Start Menu: a
  // move that failed or was skipped, or one its folder held back. A
  // rerun can carry them over.
  uint32_t left_behind;
  // Items that arrived but were not granted, or beside which the move
  // left a name of its own.
  uint32_t unfinished;
};

// The copy run: carries out each decision in order, from below user to
// the same place below all_users, printing its lines as it goes.
//
// Each item gets its "Moving Dir" or "Moving File" line, then the move (a
// directory never overwrites, nor is it merged with a namesake; a file
// replaces its namesake in one step), then the grant of what arrived. A
// move that fails prints a "Cannot move" line with the system's reason
// and counts as left behind; one whose source is gone (an installer
// removed it) prints nothing more; a name the move left behind gets a
// "Cannot delete" line. What the list has below a directory moved whole
// went with it: its "Moving" line, nothing more. What it has below a
// directory that could not be moved is held back: not moved, each with a
// "Holding back" line of its own, and left behind, so that once the cause
// is mended a rerun carries the directory over whole. An item whose
// source or destination would not fit a PathBuffer is skipped with a
// "Skipping" line instead, and left behind unless it went with its
// directory.
RelocationTally CarryOutChanges(const MoveDecisions& decisions, const MenuRoot& user, const MenuRoot& all_users);

// The preview: the copy run's lines for the same list, with nothing moved,
// granted or deleted. Where the checks a move makes before it acts see it
// fail (ForeseeMove: a namesake directory, a file or link where a
// directory should be, a missing parent, an item of a kind never moved),
// the "Cannot move" line the copy run would print, with its reason, and
// what the list has below such a directory held back; where they see
// nothing in its way, the "Exec" line, and the "Cannot grant" line when
// Cacls is not on PATH.
void ForeseeChanges(const MoveDecisions& decisions, const MenuRoot& user, const MenuRoot& all_users);

// The destination of a path that begins with UserStartMenu: the path with
// its first UserStartMenuLength bytes replaced by AllUsersStartMenu.
// Returns 0, or -1 (destination empty) when it would not fit a PathBuffer
// or the path is shorter than the part to replace.
int MapToAllUsers(PathBuffer destination, const char* source);

// Prints the "Exec" line and runs the access-control editor to grant
// Everyone read access to item below root (and, for a directory,
// everything below it), whose full path is target, waiting until it has
// ended; its output is discarded. Returns 0, or -1 when the grant did not
// happen: a "Cannot grant" line gives the reason (not found, not started,
// or the exit status it ended with). A command line that would not fit is
// not run: a "Skipping Exec" line takes the place of the "Exec" line, and
// -1.
int GrantEveryoneRead(const MenuRoot& root, const char* item, const char* target);
