#pragma once
// The driver: the command line, the two run modes, the fixed paths and the
// exit status. It alone decides how the process ends.
//
// Help ("dravonel /?"): the usage text, exit 0; any other argument that
// selects no run prints it too and exits -1.
// Snapshot run ("dravonel"): scan UserStartMenu, save it to SnapshotPath,
// exit 0. A scan that could not read everything it found saves nothing,
// and a save that fails prints a "Cannot save" line: either way whatever
// is at SnapshotPath is deleted and the run exits -1.
// Copy run ("dravonel /c"): load the snapshot (exit -1 at once when that
// fails, leaving the file), scan again, carry new and newer items over to
// AllUsersStartMenu, delete the snapshot, exit 0. When the scan could not
// read everything, what it found is carried over all the same and the
// snapshot is kept for a rerun: exit -1.

#include "inventory/inventory.h"
#include "platform/process_values.h"

// The two inventories of a run, kept until the process ends: the scan to
// save (snapshot run) or the snapshot loaded (copy run), and the fresh scan
// of a copy run.
extern DirList SnapshotList;
extern DirList CurrentList;

// The whole program: argc and argv as main receives them; returns the
// process exit status (0 or -1). Prints only to standard output.
int RunDravonel(int argc, char** argv);

// Fills SnapshotPath, UserStartMenu, AllUsersStartMenu and
// UserStartMenuLength from the environment. Returns 0, or -1 after printing
// why (a variable unset or empty, or so long that a path would not fit).
//
// The snapshot is always $UserProfile\Dravonel.Dat. Each Start Menu is
// the NT 4.0 layout's ($UserProfile\Start Menu when a directory that is no
// reparse point; $SystemRoot\Profiles\All Users\Start Menu when a
// directory), or else the shell's, where the shell has folders (Windows)
// and UserProfile names the running user's own profile; the common one
// only when SystemRoot also names the running Windows folder. Otherwise
// both stay the NT 4.0 paths.
int SetUpPaths();
