#include "driver/driver.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "inventory/inventory.h"
#include "platform/console.h"
#include "platform/ascii_case.h"
#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/process_values.h"
#include "platform/walk.h"
#include "propagate/propagate.h"
#include "snapshot/snapshot.h"

// Both inventories live until the process ends: records are never freed.
DirList SnapshotList;
DirList CurrentList;
int32_t RunMode = kSnapshotMode;

namespace {

// Only the first two characters of the one argument count: "/c", "/C" and
// "/copy" select copy mode, "-c" does not; letter is lower case.
bool IsSwitch(const char* argument, char letter) {
  return argument[0] == '/' && (argument[1] == letter || argument[1] == letter - 'a' + 'A');
}

// How every Windows console tool is asked for help: the whole argument.
bool IsHelpSwitch(const char* argument) {
  return std::strcmp(argument, "/?") == 0;
}

void PrintUsage(const char* program_name) {
  PrintNames(kUsageLines[0], program_name);
  for (std::size_t line = 1; line < std::size(kUsageLines); ++line) {
    std::printf("%s", kUsageLines[line]);
  }
  std::printf("%s", kSetUpUsageLine);
}

// An empty value names no folder: taken as it is, it would put the
// snapshot and the Start Menu at the root of the current drive.
const char* LookupSetting(const char* name) {
  const char* value = LookupEnvironment(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// Paths are compared as Windows compares names: ASCII letters without
// regard to case.
bool NamesShellFolder(const char* path, ShellFolder folder) {
  PathBuffer shell;
  if (GetShellFolder(folder, shell) != 0) return false;
  const char* other = shell;
  while (*path != '\0' && FoldAsciiCase(*path) == FoldAsciiCase(*other)) {
    ++path;
    ++other;
  }
  return *path == *other;
}

// menu holds the NT 4.0 layout's path. A folder there is kept, so that
// nothing changes for the systems and callers that layout serves; a
// reparse point is refused when its attribute is in refused (on Vista and
// later the user's one is a compatibility junction that may not be
// listed). Otherwise the shell's folder takes its place.
void PreferShellFolder(PathBuffer menu, DWORD refused, ShellFolder shell_menu) {
  const DWORD attributes = GetFileAttributesA(menu);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (attributes & refused) == 0) {
    return;
  }
  PathBuffer shell;
  if (GetShellFolder(shell_menu, shell) == 0) JoinPath(menu, shell, "");
}

// The two Start Menus of a run, held from the scan to the last move.
struct StartMenus {
  MenuRoot user;
  MenuRoot all_users;
};

void LetGoOf(StartMenus& menus) {
  LetGoOfStartMenu(menus.user);
  LetGoOfStartMenu(menus.all_users);
}

// Holds both Start Menus and scans the user's into list, as ScanDirectory
// answers. A user's Start Menu that may not be read (a link or junction
// another account made, or the All Users one itself) is one the scan could
// not read: nothing of it is recorded, and the run ends as after any
// incomplete scan.
int ScanUserStartMenu(DirList& list, StartMenus& menus) {
  // Not holding the All Users one is not the scan's concern: a move that
  // needs it fails with why.
  HoldStartMenu(menus.all_users, AllUsersStartMenu, MenuOwner::kAdministrator);
  DWORD error = ERROR_SUCCESS;
  if (HoldStartMenu(menus.user, UserStartMenu, MenuOwner::kUser) != 0) {
    error = GetLastError();
  } else if (SameMenu(menus.user, menus.all_users)) {
    // Every item would be its own namesake there, and be "carried over" by
    // losing its one name.
    error = kErrorAllUsersMenu;
  }
  if (error != ERROR_SUCCESS) {
    PrintWithReason(kCannotReadLine, UserStartMenu, error);
    return -1;
  }
  return ScanDirectory(list, menus.user);
}

int RunSnapshotMode() {
  // A snapshot missing what could not be read would make a later copy run
  // take those items for new ones: none is better, even than an earlier
  // one. A folder left out for its length is out of the copy run's reach
  // too: the snapshot is whole for what the copy run can see.
  StartMenus menus{};
  const int scanned = ScanUserStartMenu(SnapshotList, menus);
  LetGoOf(menus);
  if (scanned < 0) {
    // Never one another run holds: DeleteFileA leaves that alone.
    DeleteFileA(SnapshotPath);
    return kExitFailure;
  }
  if (SaveSnapshot(SnapshotList) != 0) {
    const DWORD error = GetLastError();
    // Never leave half a snapshot for a later copy run to trust.
    DeleteFileA(SnapshotPath);
    PrintWithReason(kCannotSaveLine, SnapshotPath, error);
    return kExitFailure;
  }
  return kExitSuccess;
}

// The copy run, and its preview: one list of decisions, carried out or
// foreseen.
int RunCopyMode() {
  // Held from the load to the delete: a second copy run meanwhile finds it
  // in use and changes nothing, so no two runs carry over the same items.
  SnapshotHold hold;
  if (LoadAndHoldSnapshot(SnapshotList, hold) != 0) return kExitFailure;
  // What the scan found new or newer is so, whatever else it could not
  // read; the snapshot stays for a later run to carry over the rest.
  StartMenus menus{};
  int scanned = ScanUserStartMenu(CurrentList, menus);
  MoveDecisions decisions;
  if (DecideChanges(SnapshotList, CurrentList, decisions) != 0) {
    // Half a list would carry over half an install: none of it moves.
    PrintWithReason(kCannotReadLine, UserStartMenu, ERROR_NOT_ENOUGH_MEMORY);
    decisions.clear();
    scanned = -1;
  }
  if (RunMode == kPreviewMode) {
    ForeseeChanges(decisions, menus.user, menus.all_users);
    LetGoOf(menus);
    PrintOutput(kPreviewLine);
    ReleaseSnapshot(hold);
    return scanned < 0 ? kExitFailure : kExitSuccess;
  }
  const RelocationTally tally = CarryOutChanges(decisions, menus.user, menus.all_users);
  LetGoOf(menus);
  if (scanned != 0 || tally.left_behind != 0) {
    ReleaseSnapshot(hold);
    return kExitFailure;
  }
  if (DeleteHeldSnapshot(hold) != 0) {
    const DWORD error = GetLastError();
    // Gone already is as good as deleted.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      PrintWithReason(kCannotDeleteLine, SnapshotPath, error);
      return kExitFailure;
    }
  }
  return tally.unfinished != 0 ? kExitFailure : kExitSuccess;
}

// Flushes standard output. False when anything printed could not be
// written (a closed pipe, a full disk): the run then ends with -1, its
// work otherwise done as printed.
bool OutputWritten() {
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && !std::ferror(stdout);
}

}  // namespace

int SetUpPaths() {
  const char separator[] = {kPathSeparator, '\0'};

  const char* user_profile = LookupSetting("UserProfile");
  if (user_profile == nullptr) {
    std::printf(kUserProfileUnset);
    return kExitFailure;
  }
  if (JoinPath(SnapshotPath, user_profile, separator, kSnapshotFileName) != 0 ||
      JoinPath(UserStartMenu, user_profile, separator, kUserStartMenuName) != 0) {
    std::printf(kUserProfileTooLong);
    return kExitFailure;
  }

  const char* system_root = LookupSetting("SystemRoot");
  if (system_root == nullptr) {
    std::printf(kSystemRootUnset);
    return kExitFailure;
  }
  PathBuffer all_users_tail;
  JoinPath(all_users_tail, kAllUsersStartMenuNames[0], separator,
           kAllUsersStartMenuNames[1]);
  JoinPath(all_users_tail, all_users_tail, separator, kAllUsersStartMenuNames[2]);
  if (JoinPath(AllUsersStartMenu, system_root, separator, all_users_tail) != 0) {
    std::printf(kSystemRootTooLong);
    return kExitFailure;
  }

  // The shell's folders serve the running user's own profile alone: a
  // profile of a script's or test's own keeps both of today's paths, and
  // never reaches into the machine's common Start Menu. Both runs decide
  // alike, so the copy run scans the folder the snapshot was taken of.
  if (NamesShellFolder(user_profile, ShellFolder::kProfile)) {
    PreferShellFolder(UserStartMenu, FILE_ATTRIBUTE_REPARSE_POINT, ShellFolder::kStartMenu);
    if (NamesShellFolder(system_root, ShellFolder::kWindows)) {
      PreferShellFolder(AllUsersStartMenu, 0, ShellFolder::kCommonStartMenu);
    }
  }

  UserStartMenuLength = static_cast<int32_t>(std::strlen(UserStartMenu));
  return 0;
}

int RunDravonel(int argc, char** argv) {
  if (argc == 1) {
    RunMode = kSnapshotMode;
  } else if (argc == 2 && IsSwitch(argv[1], 'c')) {
    RunMode = kCopyMode;
  } else if (argc == 2 && IsSwitch(argv[1], 'l')) {
    RunMode = kPreviewMode;
  } else if (argc == 2 && IsHelpSwitch(argv[1])) {
    PrintUsage(argv[0]);
    return kExitSuccess;
  } else {
    PrintUsage(argc > 0 ? argv[0] : "dravonel");
    return kExitFailure;
  }

  SnapshotList = DirList{};
  CurrentList = DirList{};
  if (SetUpPaths() != 0) return kExitFailure;

  const int status = RunMode == kSnapshotMode ? RunSnapshotMode() : RunCopyMode();
  return OutputWritten() ? status : kExitFailure;
}
