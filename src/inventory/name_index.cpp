#include <cstddef>
#include <new>

#include "inventory/inventory.h"

namespace {

// FNV-1a over the bytes as NamesEqualIgnoringCase compares them, so that
// names equal to it hash alike.
uint32_t FoldedHash(const char* text) {
  uint32_t hash = 2166136261u;
  for (; *text != '\0'; ++text) {
    hash = (hash ^ static_cast<unsigned char>(FoldAsciiCase(*text))) * 16777619u;
  }
  return hash;
}

const char* KeyOf(const DirRecord& dir) { return dir.path; }
const char* KeyOf(const FileRecord& file) { return file.name; }

// At most half the slots are taken, so that a probe ends soon.
template <typename Slot>
int Clear(std::vector<Slot>& slots, std::size_t records) {
  std::size_t size = 16;
  while (size < 2 * records) size *= 2;
  try {
    slots.assign(size, Slot{0, nullptr});
  } catch (const std::bad_alloc&) {
    slots.clear();
    return -1;
  }
  return 0;
}

template <typename Slot, typename Record>
void Insert(std::vector<Slot>& slots, const Record& record) {
  const char* key = KeyOf(record);
  const uint32_t hash = FoldedHash(key);
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots[i];
    if (slot.record == nullptr) {
      slot = Slot{hash, &record};
      return;
    }
    // A later namesake is never found, as with the plain lookups.
    if (slot.hash == hash && NamesEqualIgnoringCase(KeyOf(*slot.record), key)) return;
  }
}

template <typename Slot, typename Record>
const Record* LookUp(const std::vector<Slot>& slots, const Record& probe) {
  if (slots.empty()) return nullptr;
  const char* key = KeyOf(probe);
  const uint32_t hash = FoldedHash(key);
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots[i];
    if (slot.record == nullptr) return nullptr;
    if (slot.hash == hash && NamesEqualIgnoringCase(KeyOf(*slot.record), key)) return slot.record;
  }
}

// The records are counted by their links, not by count or file_count: a
// table sized from a wrong count could fill up, and a probe never end.
template <typename Slot, typename Record>
int Fill(std::vector<Slot>& slots, const Record* first) {
  std::size_t records = 0;
  for (const Record* r = first; r != nullptr; r = r->next) ++records;
  if (Clear(slots, records) != 0) return -1;
  for (const Record* r = first; r != nullptr; r = r->next) Insert(slots, *r);
  return 0;
}

}  // namespace

int BuildDirIndex(DirIndex& index, const DirList& list) { return Fill(index.slots, list.head); }

int BuildFileIndex(FileIndex& index, const DirRecord& dir) { return Fill(index.slots, dir.first_file); }

const DirRecord* LookUpDir(const DirIndex& index, const DirRecord& dir) {
  return LookUp(index.slots, dir);
}

const FileRecord* LookUpFile(const FileIndex& index, const FileRecord& file) {
  return LookUp(index.slots, file);
}
