#pragma once
// The walk of a Start Menu: its root, held for the run, and each folder
// below it opened from the folder above and listed while open. Nothing
// below a root is ever reached through a link or junction, and nothing is
// reached by a name looked up twice: an administrator's run reads a tree
// that its user may change at any moment.

#include "platform/win32.h"

// A Start Menu the scan and the moves work below: the path the driver
// built, which every line names items by, and the folder held for the run.
struct MenuRoot {
  const char* path = "";
  HANDLE folder = INVALID_HANDLE_VALUE;  // not held, for error
  DWORD error = ERROR_FILE_NOT_FOUND;    // when nothing is there
  HANDLE link = INVALID_HANDLE_VALUE;    // Windows: the administrator's junction on the way, held too
};

// Which links may lead to a Start Menu itself. The user's is a name in
// the user's own profile, which the user may swap for a link: it is
// reached through one only when the account running the program owns it,
// as the kernel's protected-symlinks rule has it (a link the administrator
// made serves, one the user made does not). The All Users one lies under
// the system folder, the administrator's: it is opened as the system
// resolves its path.
enum class MenuOwner { kUser, kAdministrator };

// Opens the Start Menu at path and holds it in root until LetGoOfStartMenu
// (or the end of the process): every item below it is reached from the
// folder held here, so a name on the way to it swapped for a link later
// changes nothing. On Windows it is held without FILE_SHARE_DELETE: no one
// can rename or delete it while it is held. Returns 0 when it is held, or
// when nothing (or a file) is there: an empty Start Menu, root.folder
// INVALID_HANDLE_VALUE. Otherwise -1 with the last error, kept in
// root.error too: for a user's, kErrorUntrustedLink for a link or junction
// another account owns; the system's when it cannot be opened. The All
// Users one needs no read permission (on POSIX it is held by O_PATH).
int HoldStartMenu(MenuRoot& root, const char* path, MenuOwner owner);
void LetGoOfStartMenu(MenuRoot& root);

// True when both roots hold the same folder.
bool SameMenu(const MenuRoot& a, const MenuRoot& b);

// A folder of a Start Menu, open while the scan lists it and walks below
// it: on Windows held without FILE_SHARE_DELETE, so that its path, and the
// path of every folder below it, names what was opened until it is closed.
struct MenuFolder {
  HANDLE handle;
  const char* path;  // its full path, as the scan records it
};

// Opens a held root for a walk. Returns 0, or -1 with the last error
// (ERROR_FILE_NOT_FOUND when nothing is there).
int OpenMenuRoot(const MenuRoot& root, MenuFolder& folder);

// Opens the folder name in parent, whose path is path, never through a
// link or junction: one that is a link now, or gone, or a file, is not
// there (ERROR_FILE_NOT_FOUND, ERROR_DIRECTORY). Returns 0, or -1 with the
// last error.
int OpenSubfolder(const MenuFolder& parent, const char* name, const char* path, MenuFolder& folder);
void CloseFolder(MenuFolder& folder);

// Lists every entry of an open folder, "." and ".." included, through
// the folder's own handle: a listing with the first entry in entry, for
// NextFolderEntry and CloseFolderListing, or INVALID_HANDLE_VALUE with the
// last error (ERROR_FILE_NOT_FOUND for an empty folder). Windows lists in
// its own order; POSIX sorts by name with ASCII letters upper-cased, the
// order NTFS gives, and lists a link as itself (never a directory, with
// its own times). On POSIX only entries that are not directories are
// looked at one by one: a directory's entry carries the directory bit and
// zero times. An entry gone before it is looked at is passed over. A
// listing that could not be read whole (a read failed, an entry could not
// be looked at or its name does not fit cFileName, memory ran out)
// delivers every entry it read and then fails with that error instead of
// ERROR_NO_MORE_FILES. A folder may be listed more than once.
HANDLE ListFolder(const MenuFolder& folder, WIN32_FIND_DATAA* entry);
BOOL NextFolderEntry(HANDLE listing, WIN32_FIND_DATAA* entry);
void CloseFolderListing(HANDLE listing);
