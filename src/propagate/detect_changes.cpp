#include <new>

#include "inventory/inventory.h"
#include "platform/process_values.h"
#include "propagate/propagate.h"

namespace {

// A chain this short is searched in line: the names mostly differ in their
// first bytes, and hashing them all would cost more than comparing.
constexpr uint32_t kFilesFoundInLine = 16;

// The scan builds every path from UserStartMenu, so only the root's own
// record can match it; without regard to case, as every path comparison of
// the program, so that no spelling of the root is ever moved whole.
bool IsUserStartMenuRoot(const DirRecord& d) {
  return NamesEqualIgnoringCase(d.path, UserStartMenu);
}

}  // namespace

int32_t CompareWriteTimes(const FileRecord& a, const FileRecord& b) {
  if (a.time_valid == 0 || b.time_valid == 0) return -1;
  // Seconds are the finest unit compared: a copy or restore that keeps only
  // whole seconds must not make a file look newer. The day of week follows
  // from the date.
  const WORD a_fields[] = {a.last_write.wYear, a.last_write.wMonth, a.last_write.wDay,
                           a.last_write.wHour, a.last_write.wMinute, a.last_write.wSecond};
  const WORD b_fields[] = {b.last_write.wYear, b.last_write.wMonth, b.last_write.wDay,
                           b.last_write.wHour, b.last_write.wMinute, b.last_write.wSecond};
  for (std::size_t i = 0; i < sizeof a_fields / sizeof a_fields[0]; ++i) {
    if (a_fields[i] != b_fields[i]) return a_fields[i] > b_fields[i] ? 1 : 2;
  }
  return 0;
}

int DecideChanges(const DirList& snapshot, const DirList& current, MoveDecisions& decisions) {
  // Looked up through indexes, so that the run grows in step with the
  // trees; the plain lookups, which find the same records, serve for a
  // short chain of files and when there is no memory for an index.
  DirIndex dirs;
  const bool dirs_indexed = BuildDirIndex(dirs, snapshot) == 0;
  FileIndex files;
  try {
    for (const DirRecord* d = current.head; d != nullptr; d = d->next) {
      const DirRecord* s = dirs_indexed ? LookUpDir(dirs, *d) : FindDirByPath(snapshot, *d);
      if (s == nullptr && !IsUserStartMenuRoot(*d)) {
        // A new directory goes whole, files and subdirectories with it.
        decisions.push_back(MoveDecision{d, nullptr});
        continue;
      }
      // The root is never moved whole: that would carry the user's entire
      // Start Menu away, or fail and leave its new files behind. Without a
      // namesake, each of its files is new.
      const bool files_indexed =
          s != nullptr && s->file_count > kFilesFoundInLine && BuildFileIndex(files, *s) == 0;
      for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) {
        const FileRecord* g = nullptr;
        if (files_indexed) {
          g = LookUpFile(files, *f);
        } else if (s != nullptr) {
          g = FindFileByName(*s, *f);
        }
        if (g == nullptr || CompareWriteTimes(*f, *g) == 1) decisions.push_back(MoveDecision{d, f});
      }
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}
