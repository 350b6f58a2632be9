#pragma once
// Change propagation: in a copy run, decide which directories of the fresh
// scan are new and which files are new or newer than in the snapshot, and
// move each to the same place under AllUsersStartMenu, granting Everyone
// read access to what arrived.

#include <cstdint>

#include "inventory/inventory.h"

// Compares two files' last-write times on year, month, day, hour, minute and
// second as unsigned 16-bit numbers, in that order. Milliseconds and day of
// week are never compared: a time restored at second precision must not
// look newer. Returns -1 when either time_valid is 0, 1 when a is later,
// 2 when a is earlier, 0 when the six fields are equal.
int32_t CompareWriteTimes(const FileRecord& a, const FileRecord& b);

// Walks current in list order. A directory with no snapshot namesake
// (first case-insensitive path match) is moved whole; in one that has one,
// each file with no namesake there, or with a later write time, is moved.
// The user's Start Menu root itself is never moved: when it has no
// namesake, each of its files is moved as new. Items gone since the
// snapshot are left alone, and what a move achieved is never looked at
// again.
void PropagateChanges(const DirList& snapshot, const DirList& current);

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
void MoveDirToAllUsers(const DirRecord& d);

// Moves file f of directory d to its destination, replacing a file of the
// same name there in one step, printing its "Moving File" line first, and
// grants read access when the move succeeded. A failed move leaves both the
// source and any namesake as they were. Missing destination directories are
// not created. A source or destination that would not fit is skipped with
// a "Skipping File" line instead.
void MoveFileToAllUsers(const DirRecord& d, const FileRecord& f);

// Prints the "Exec" line and runs the access-control editor to grant
// Everyone read access to target (and, for a directory, everything below
// it), waiting until it has ended. Its output and status are ignored. A
// command line that would not fit is not run: a "Skipping Exec" line
// takes the place of the "Exec" line.
void GrantEveryoneRead(const char* target);
