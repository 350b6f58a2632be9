#include <cstdlib>
#include <cstring>

#include "inventory/inventory.h"

namespace {

// The current directory as it was when the scan began. Held on the
// heap (from malloc, apart from the records' allocations): on POSIX it may
// be longer than a PathBuffer.
struct SavedDirectory {
  char* path;  // null when it could not be read
};

SavedDirectory SaveCurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return SavedDirectory{nullptr};
  char* path = static_cast<char*>(std::malloc(needed));
  if (path == nullptr) return SavedDirectory{nullptr};
  const DWORD length = GetCurrentDirectoryA(needed, path);
  if (length == 0 || length >= needed) {
    std::free(path);
    return SavedDirectory{nullptr};
  }
  return SavedDirectory{path};
}

void RestoreCurrentDirectory(const SavedDirectory& saved) {
  if (saved.path != nullptr) SetCurrentDirectoryA(saved.path);
}

// Opens a listing of every entry of the current directory, then gives the
// current directory back at once: the listing holds on to its directory,
// Windows cannot move a directory that is a process's current directory,
// and a relative path (the root's, or a child built from it) must resolve
// from where the scan started.
HANDLE OpenListing(const SavedDirectory& saved, WIN32_FIND_DATAA* entry) {
  const HANDLE search = FindFirstFileA("*.*", entry);
  RestoreCurrentDirectory(saved);
  return search;
}

bool HasDirectoryBit(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The system always ends cFileName within its 260 bytes; an entry that
// does not is passed over rather than read past its end.
bool HasName(const WIN32_FIND_DATAA& entry) {
  return BoundedLength(entry.cFileName) < kMaxPath;
}

// The subdirectory entries of a directory's one listing, held for the
// second pass (from malloc, apart from the records' allocations).
struct HeldEntries {
  WIN32_FIND_DATAA* entries;
  std::size_t count;
  std::size_t capacity;
  bool complete;  // false once memory ran out: the second pass lists again
};

void Hold(HeldEntries& held, const WIN32_FIND_DATAA& entry) {
  if (!held.complete) return;
  if (held.count == held.capacity) {
    const std::size_t capacity = held.capacity == 0 ? 16 : 2 * held.capacity;
    void* grown = std::realloc(held.entries, capacity * sizeof(WIN32_FIND_DATAA));
    if (grown == nullptr) {
      held.complete = false;
      return;
    }
    held.entries = static_cast<WIN32_FIND_DATAA*>(grown);
    held.capacity = capacity;
  }
  held.entries[held.count++] = entry;
}

// Records the subdirectory an entry names, and gives its path in child
// when it is to be scanned too.
bool RecordSubdir(DirList& list, const WIN32_FIND_DATAA& entry, const char* dir_path, PathBuffer child) {
  if (!HasDirectoryBit(entry) || !HasName(entry)) return false;
  if (NamesEqualExactly(entry.cFileName, ".") || NamesEqualExactly(entry.cFileName, "..")) return false;
  const char separator[] = {kPathSeparator, '\0'};
  // A path that does not fit is outside what the inventory can hold: the
  // entry and everything below it are left out.
  if (JoinPath(child, dir_path, separator, entry.cFileName) != 0) return false;
  FindOrAppendDir(list, child);
  // A directory link or junction is recorded but never entered: it may
  // lead back up the tree, and two such links would multiply the paths at
  // every level until they no longer fit. (POSIX links are never listed as
  // directories at all.)
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// One directory and everything below it. saved is the current directory
// the scan began in: every level gives it back, so it is read once.
void ScanLevel(DirList& list, const char* path, const SavedDirectory& saved) {
  WIN32_FIND_DATAA entry;
  HeldEntries held{nullptr, 0, 0, false};

  // Files first: they are appended while this directory's record is still
  // the tail, before any subdirectory's record follows it. One listing
  // serves both passes: the second takes the subdirectories held from it.
  if (!SetCurrentDirectoryA(path)) return;
  HANDLE search = OpenListing(saved, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    held.complete = true;
    do {
      AddFileEntry(list, entry, path);
      if (HasDirectoryBit(entry)) Hold(held, entry);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }

  PathBuffer child;
  if (held.complete) {
    for (std::size_t i = 0; i < held.count; ++i) {
      if (RecordSubdir(list, held.entries[i], path, child)) ScanLevel(list, child, saved);
    }
  } else if (SetCurrentDirectoryA(path)) {
    // The listing did not open, or there was no memory to hold its
    // subdirectories: list again for them.
    search = OpenListing(saved, &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (RecordSubdir(list, entry, path, child)) ScanLevel(list, child, saved);
      } while (FindNextFileA(search, &entry));
      FindClose(search);
    }
  }
  std::free(held.entries);
}

}  // namespace

void ScanDirectory(DirList& list, const char* path) {
  const SavedDirectory saved = SaveCurrentDirectory();
  ScanLevel(list, path, saved);
  std::free(saved.path);
}

void AddFileEntry(DirList& list, const WIN32_FIND_DATAA& entry, const char* dir_path) {
  if (HasDirectoryBit(entry) || !HasName(entry)) return;
  FileRecord* record = NewFileRecord();
  if (record == nullptr) return;
  std::strcpy(record->name, entry.cFileName);
  // A time the system cannot express as a date (before 1601, for one) is
  // kept as not valid; the file is recorded all the same.
  record->time_valid = FileTimeToSystemTime(&entry.ftLastWriteTime, &record->last_write) ? 1 : 0;
  AppendFile(list, dir_path, record);
}

void AddSubdirEntry(DirList& list, const WIN32_FIND_DATAA& entry, const char* dir_path) {
  PathBuffer child;
  if (RecordSubdir(list, entry, dir_path, child)) ScanDirectory(list, child);
}
