#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "inventory/inventory.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/walk.h"

namespace {

struct ScanState {
  bool incomplete;  // something found could not be read
  bool left_out;    // a folder's path was too long to record
};

// The line, and the scan goes on with the rest.
void ReportUnreadable(ScanState& scan, const char* path, DWORD error) {
  PrintWithReason(kCannotReadLine, path, error);
  scan.incomplete = true;
}

// A directory that is gone, or became a file, since it was listed (an
// installer at work) is not there: that is no error.
bool IsNotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY;
}

// Opens a listing of every entry of folder. reported keeps a folder to one
// line.
HANDLE OpenListing(ScanState& scan, const MenuFolder& folder, WIN32_FIND_DATAA* entry, bool& reported) {
  HANDLE search = ListFolder(folder, entry);
  if (search == INVALID_HANDLE_VALUE && !IsNotThere(GetLastError()) && !reported) {
    ReportUnreadable(scan, folder.path, GetLastError());
    reported = true;
  }
  return search;
}

// Closes a listing that NextFolderEntry ended; one that ended otherwise than
// at its end could not be read whole.
void CloseListing(ScanState& scan, HANDLE search, const char* path, bool& reported) {
  const DWORD error = GetLastError();
  CloseFolderListing(search);
  if (error != ERROR_NO_MORE_FILES && !reported) {
    ReportUnreadable(scan, path, error);
    reported = true;
  }
}

bool HasDirectoryBit(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The system always ends cFileName within its 260 bytes; an entry that
// does not is passed over rather than read past its end.
bool HasName(const WIN32_FIND_DATAA& entry) {
  return BoundedLength(entry.cFileName) < kMaxPath;
}

// The subdirectory entries of a directory's one listing, held until its
// files are recorded (from malloc, apart from the records' allocations).
struct HeldEntries {
  WIN32_FIND_DATAA* entries;
  std::size_t count;
  std::size_t capacity;
};

// Holds a copy of entry; false when there is no memory for it.
bool Hold(HeldEntries& held, const WIN32_FIND_DATAA& entry) {
  if (held.count == held.capacity) {
    const std::size_t capacity = held.capacity == 0 ? 16 : 2 * held.capacity;
    void* grown = std::realloc(held.entries, capacity * sizeof(WIN32_FIND_DATAA));
    if (grown == nullptr) return false;
    held.entries = static_cast<WIN32_FIND_DATAA*>(grown);
    held.capacity = capacity;
  }
  held.entries[held.count++] = entry;
  return true;
}

// What RecordSubdir says of a folder whose path does not fit.
constexpr int kLeftOut = 2;

// Records the subdirectory an entry names, with its path in child. Returns
// 1 when it is to be scanned too, 0 when not, -1 (its line printed) when
// its record could not be allocated, kLeftOut (its line printed) when its
// path does not fit.
int RecordSubdir(DirList& list, const WIN32_FIND_DATAA& entry, const char* dir_path, PathBuffer child) {
  if (!HasDirectoryBit(entry) || !HasName(entry)) return 0;
  if (NamesEqualExactly(entry.cFileName, ".") || NamesEqualExactly(entry.cFileName, "..")) return 0;
  const char separator[] = {kPathSeparator, '\0'};
  // A path that does not fit is outside what the inventory can hold: the
  // entry and everything below it are left out, and said to be.
  if (JoinPath(child, dir_path, separator, entry.cFileName) != 0) {
    char path[2 * kMaxPath];
    std::snprintf(path, sizeof path, "%s%s%s", dir_path, separator, entry.cFileName);
    PrintNames(kSkippingDirLine, path);
    return kLeftOut;
  }
  if (FindOrAppendDir(list, child) == nullptr) {
    PrintWithReason(kCannotReadLine, child, ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  // A directory link or junction is recorded but never entered: it may
  // lead back up the tree, and two such links would multiply the paths at
  // every level until they no longer fit. (POSIX links are never listed as
  // directories at all.)
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ? 1 : 0;
}

void ScanLevel(DirList& list, const MenuFolder& folder, ScanState& scan);

// The subdirectory an entry of folder names (not "." or ".."), recorded
// and scanned, opened from folder itself.
void AddSubdirEntry(DirList& list, const WIN32_FIND_DATAA& entry, const MenuFolder& folder, ScanState& scan) {
  PathBuffer child;
  const int recorded = RecordSubdir(list, entry, folder.path, child);
  if (recorded < 0) scan.incomplete = true;
  if (recorded == kLeftOut) scan.left_out = true;
  if (recorded != 1) return;
  MenuFolder subfolder;
  if (OpenSubfolder(folder, entry.cFileName, child, subfolder) != 0) {
    if (!IsNotThere(GetLastError())) ReportUnreadable(scan, child, GetLastError());
    return;
  }
  ScanLevel(list, subfolder, scan);
  CloseFolder(subfolder);
}

// One directory and everything below it.
void ScanLevel(DirList& list, const MenuFolder& folder, ScanState& scan) {
  WIN32_FIND_DATAA entry;
  bool reported = false;
  // Files first: they are appended while this directory's record is still
  // the tail, before any subdirectory's record follows it. One listing
  // serves both: the subdirectories are held from it for after.
  HANDLE search = OpenListing(scan, folder, &entry, reported);
  if (search == INVALID_HANDLE_VALUE) return;
  HeldEntries held{nullptr, 0, 0};
  bool all_held = true;
  do {
    if (AddFileEntry(list, entry, folder.path) != 0) scan.incomplete = true;
    if (HasDirectoryBit(entry) && all_held) all_held = Hold(held, entry);
  } while (NextFolderEntry(search, &entry));
  CloseListing(scan, search, folder.path, reported);
  // The folders it could not hold are not read: that is said, and no
  // picture short of them is trusted.
  if (!all_held && !reported) ReportUnreadable(scan, folder.path, ERROR_NOT_ENOUGH_MEMORY);
  for (std::size_t i = 0; i < held.count; ++i) AddSubdirEntry(list, held.entries[i], folder, scan);
  std::free(held.entries);
}

}  // namespace

int ScanDirectory(DirList& list, const MenuRoot& root) {
  ScanState scan{false, false};
  MenuFolder folder;
  if (OpenMenuRoot(root, folder) != 0) {
    // Nothing there is an empty Start Menu.
    if (IsNotThere(GetLastError())) return 0;
    ReportUnreadable(scan, root.path, GetLastError());
    return -1;
  }
  ScanLevel(list, folder, scan);
  CloseFolder(folder);
  if (scan.incomplete) return -1;
  return scan.left_out ? 1 : 0;
}

int AddFileEntry(DirList& list, const WIN32_FIND_DATAA& entry, const char* dir_path) {
  if (HasDirectoryBit(entry) || !HasName(entry)) return 0;
  // The directory's record first: without it the file would be linked
  // nowhere, dropped without a word.
  DirRecord* dir = FindOrAppendDir(list, dir_path);
  FileRecord* record = dir != nullptr ? NewFileRecord(entry.cFileName) : nullptr;
  if (record == nullptr) {
    char path[2 * kMaxPath];
    std::snprintf(path, sizeof path, "%s%c%s", dir_path, kPathSeparator, entry.cFileName);
    PrintWithReason(kCannotReadLine, path, ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  // A time the system cannot express as a date (before 1601, for one) is
  // kept as not valid; the file is recorded all the same.
  record->time_valid = FileTimeToSystemTime(&entry.ftLastWriteTime, &record->last_write) ? 1 : 0;
  AppendFile(*dir, *record);
  return 0;
}
