#include "inventory/inventory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/memory.h"
#include "platform/win32.h"

namespace {

// Records are never freed, so each would gain nothing from a heap block of
// its own: they are cut from large blocks instead, one after another. Each
// block begins with a link to the block filled before it, so that every
// block stays reachable from NewestBlock (a leak checker counts the records
// as in use) and ReleaseAllRecords finds them all.
struct RecordBlock {
  RecordBlock* previous;  // or null
};

// Blocks double in size up to the largest, so that a small inventory takes
// little and a large one few blocks. The largest are far larger than the
// scan's short-lived lists of names, so the heap serves the two apart.
constexpr std::size_t kFirstBlockSize = 16 * 1024;
constexpr std::size_t kLargestBlockSize = 1024 * 1024;

RecordBlock* NewestBlock = nullptr;
std::size_t NewestBlockSize = 0;
std::size_t NewestBlockUsed = 0;

// The newest block's pages are prepared (PrepareMemory) this far ahead of
// the records cut from it, a call for many pages rather than a fault for
// each: a large inventory's faults were about a tenth of its scan.
constexpr std::size_t kPreparedAhead = 64 * 1024;
std::size_t NewestBlockPrepared = 0;

std::size_t RoundUp(std::size_t offset, std::size_t alignment) {
  return (offset + alignment - 1) / alignment * alignment;
}

// Room for one record, or null when the heap refuses a new block: then
// nothing changes, and the next record tries again. Blocks come from the
// nothrow new, so running out of memory is an ordinary null result.
void* TakeRecordSpace(std::size_t size, std::size_t alignment) {
  std::size_t offset = RoundUp(NewestBlockUsed, alignment);
  if (NewestBlock == nullptr || offset + size > NewestBlockSize) {
    const std::size_t block_size =
        NewestBlock == nullptr ? kFirstBlockSize : std::min(2 * NewestBlockSize, kLargestBlockSize);
    void* memory = ::operator new(block_size, std::nothrow);
    if (memory == nullptr) return nullptr;
    NewestBlock = new (memory) RecordBlock{NewestBlock};
    NewestBlockSize = block_size;
    NewestBlockPrepared = 0;
    offset = RoundUp(sizeof(RecordBlock), alignment);
  }
  if (offset + size > NewestBlockPrepared) {
    const std::size_t end = std::min(offset + size + kPreparedAhead, NewestBlockSize);
    PrepareMemory(reinterpret_cast<unsigned char*>(NewestBlock) + NewestBlockPrepared, end - NewestBlockPrepared);
    NewestBlockPrepared = end;
  }
  NewestBlockUsed = offset + size;
  return reinterpret_cast<unsigned char*>(NewestBlock) + offset;
}

// A record with text right after it, at the text's own length; text in
// *field. Null when text does not fit a PathBuffer or memory runs out.
template <typename Record>
Record* NewRecord(const char* text, const char* Record::*field) {
  const std::size_t length = std::strlen(text);
  if (length >= kMaxPath) return nullptr;
  void* space = TakeRecordSpace(sizeof(Record) + length + 1, alignof(Record));
  if (space == nullptr) return nullptr;
  Record* record = new (space) Record{};
  char* copy = reinterpret_cast<char*>(record + 1);
  std::memcpy(copy, text, length + 1);
  record->*field = copy;
  return record;
}

}  // namespace

bool NamesEqualExactly(const char* a, const char* b) {
  return std::strcmp(a, b) == 0;
}

bool NamesEqualIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    // Equal bytes need no folding: names that match mostly match exactly.
    if (*a != *b && FoldAsciiCase(*a) != FoldAsciiCase(*b)) return false;
    if (*a == '\0') return true;
  }
}

FileRecord* NewFileRecord(const char* name) {
  return NewRecord<FileRecord>(name, &FileRecord::name);
}

void ReleaseAllRecords() {
  while (NewestBlock != nullptr) {
    RecordBlock* previous = NewestBlock->previous;
    ::operator delete(NewestBlock);
    NewestBlock = previous;
  }
  NewestBlockSize = 0;
  NewestBlockUsed = 0;
  NewestBlockPrepared = 0;
}

DirRecord* FindOrAppendDir(DirList& list, const char* path) {
  if (list.tail != nullptr && NamesEqualExactly(list.tail->path, path)) {
    return list.tail;
  }
  DirRecord* record = NewRecord<DirRecord>(path, &DirRecord::path);
  if (record == nullptr) return nullptr;
  if (list.tail == nullptr) {
    list.head = record;
  } else {
    list.tail->next = record;
  }
  list.tail = record;
  ++list.count;
  return record;
}

void AppendFile(DirRecord& dir, FileRecord& record) {
  record.next = nullptr;
  if (dir.last_file == nullptr) {
    dir.first_file = &record;
  } else {
    dir.last_file->next = &record;
  }
  dir.last_file = &record;
  ++dir.file_count;
}

DirRecord* FindDirByPath(const DirList& list, const DirRecord& dir) {
  for (DirRecord* candidate = list.head; candidate != nullptr; candidate = candidate->next) {
    if (NamesEqualIgnoringCase(candidate->path, dir.path)) return candidate;
  }
  return nullptr;
}

FileRecord* FindFileByName(const DirRecord& dir, const FileRecord& file) {
  for (FileRecord* candidate = dir.first_file; candidate != nullptr; candidate = candidate->next) {
    if (NamesEqualIgnoringCase(candidate->name, file.name)) return candidate;
  }
  return nullptr;
}
