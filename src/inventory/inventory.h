#pragma once
// The inventory: the program's picture of one Start Menu tree. A singly
// linked list of directory records, each with a singly linked chain of the
// file records directly inside it. The scan and the snapshot reader build
// inventories, the snapshot writer stores one, change detection compares
// two. Records are allocated one at a time and never freed: an inventory
// lives until the process ends. They are handed out from large blocks of
// the heap, side by side in the order they are made, each with its name
// (a directory's path) right after it at the string's own length, so that
// a record costs no heap allocation of its own and no more memory than it
// holds (see ReleaseAllRecords).
//
// Field order and meanings are fixed, because the snapshot file stores the
// records field by field in this order (links as 32-bit slots, a name in a
// 260-byte field): no name or path of a record is ever 260 bytes or more.

#include <cstdint>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/walk.h"

struct FileRecord {
  FileRecord* next;      // next file of the same directory, or null
  const char* name;      // the entry's own name, no directory part
  uint8_t time_valid;    // nonzero when last_write holds a converted time
  SYSTEMTIME last_write; // UTC, all eight fields as FileTimeToSystemTime fills them
};

struct DirRecord {
  uint32_t file_count;     // number of records in the file chain
  DirRecord* next;         // next directory in list order, or null
  FileRecord* first_file;  // or null
  FileRecord* last_file;   // or null
  const char* path;        // full path; in a scan it begins with the root
};

struct DirList {
  uint32_t count;   // number of DirRecords
  DirRecord* head;  // or null
  DirRecord* tail;  // or null
};

// Returns the list's tail when its path equals path exactly (byte for
// byte); otherwise appends a new empty record for path and returns it.
// Only the tail is compared: the scan and the snapshot reader add all files
// of a directory right after its record became the tail. Returns null, and
// leaves the list as it was, when the record cannot be allocated (the heap
// refuses a new block) or path does not fit a PathBuffer.
DirRecord* FindOrAppendDir(DirList& list, const char* path);

// Links record (its next reset) at the end of dir's chain, which takes it
// over: record must come from NewFileRecord. The scan and the snapshot
// reader hold dir already: the record FindOrAppendDir just gave them.
void AppendFile(DirRecord& dir, FileRecord& record);

// The first record, from the head, whose path matches dir.path without
// regard to ASCII case; or null.
DirRecord* FindDirByPath(const DirList& list, const DirRecord& dir);

// The first record of dir's chain whose name matches file.name without
// regard to ASCII case; or null.
FileRecord* FindFileByName(const DirRecord& dir, const FileRecord& file);

// Indexes for change detection, so that a copy run costs time in step with
// the trees rather than with their product: the records of a list by
// case-folded path, and those of one directory's chain by case-folded name.
// Each key leads to its first record, so a lookup answers exactly what
// FindDirByPath or FindFileByName answers. An index holds pointers into the
// records: it is good only while they stay as they were when it was built.
struct DirIndexSlot {
  uint32_t hash;
  const DirRecord* record;  // null: an empty slot
};
struct DirIndex {
  std::vector<DirIndexSlot> slots;  // open addressing; a power of two in size
};
struct FileIndexSlot {
  uint32_t hash;
  const FileRecord* record;
};
struct FileIndex {
  std::vector<FileIndexSlot> slots;
};

// Fills index with every record of list (or of dir's chain), replacing what
// it held; its storage is reused. Returns 0, or -1 when memory runs out:
// the index is then empty and the caller uses the plain lookups.
int BuildDirIndex(DirIndex& index, const DirList& list);
int BuildFileIndex(FileIndex& index, const DirRecord& dir);

// FindDirByPath and FindFileByName through an index built from the same
// list or chain.
const DirRecord* LookUpDir(const DirIndex& index, const DirRecord& dir);
const FileRecord* LookUpFile(const FileIndex& index, const FileRecord& file);

// A new FileRecord for name, its other fields zero; null when name does
// not fit a PathBuffer or memory runs out (the heap refuses a new block; a
// later call tries again).
FileRecord* NewFileRecord(const char* name);

// Gives every block of records back to the heap at once: every record
// handed out so far, of every list, is gone. The program never calls it.
// Tests, fuzzers and benchmarks that make inventories over and over in one
// process call it where no list they still use holds a record.
void ReleaseAllRecords();

// The two kinds of name comparison. Case-insensitive folds only the ASCII
// letters A to Z onto a to z; every other byte compares as it is (no locale
// is ever selected).
bool NamesEqualExactly(const char* a, const char* b);
bool NamesEqualIgnoringCase(const char* a, const char* b);

// The scan: walks the Start Menu root holds into list, depth-first
// pre-order, every directory's record before its subdirectories', each
// path built from root.path. The root gets a record only when it directly
// holds a file; every subdirectory gets one, even when empty or
// unreadable. A child path that would not fit a PathBuffer is left out
// with a "Skipping Dir" line, everything below it with it; a directory
// link or junction is recorded but never entered. Each folder is opened
// from the one above it and listed while open (walk.h): the current
// directory is never changed.
//
// Returns 0 when it read everything it found, 1 when it did but left out
// a folder whose path does not fit, or -1 when anything could not be
// read: a directory that could not be opened or listed whole, a record
// that could not be allocated. It prints a "Cannot read" line with the
// system's reason for each, and records all it can. What is not there is
// no error: a root with nothing there gives an empty list, and an entry or
// directory gone (or become a file) since its listing is left out.
int ScanDirectory(DirList& list, const MenuRoot& root);

// The scan's handler for each entry of its first pass over dir_path:
// records a file (not a directory) in dir_path's record. Returns 0, or -1
// (its line printed) when the record could not be allocated.
int AddFileEntry(DirList& list, const WIN32_FIND_DATAA& entry, const char* dir_path);
