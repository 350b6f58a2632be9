#pragma once
// The driver: the command line, the run modes, the fixed paths and the
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
// AllUsersStartMenu, delete the snapshot, exit 0. Whatever it could not
// do has its line and makes it exit -1. When something is still in the
// user's Start Menu that it was to carry over (the scan could not read
// everything or left a folder out, a move failed or was skipped), what it
// could carry over goes all the same and the snapshot is kept for a
// rerun. Otherwise it is deleted ("Cannot delete" when it cannot be),
// even after a failed grant or a name a move left behind: a rerun could
// mend neither, as the item has left the user's Start Menu.
// Preview ("dravonel /l"): the copy run's load, scan and lines, with
// nothing moved, granted or deleted, and a last line saying so. Exit -1
// only when the load fails or the scan could not read everything.

#include "inventory/inventory.h"
#include "platform/process_values.h"

// The run mode, which the driver alone reads: what the command line chose.
constexpr int32_t kSnapshotMode = 0;
constexpr int32_t kCopyMode = 1;
// A copy run that only says what it would do: the same decisions and
// lines, with nothing moved, granted or deleted.
constexpr int32_t kPreviewMode = 2;
extern int32_t RunMode;

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
