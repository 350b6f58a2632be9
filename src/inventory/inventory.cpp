#include "inventory/inventory.h"

#include <cstring>
#include <new>

char FoldAsciiCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NamesEqualExactly(const char* a, const char* b) {
  return std::strcmp(a, b) == 0;
}

bool NamesEqualIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (FoldAsciiCase(*a) != FoldAsciiCase(*b)) return false;
    if (*a == '\0') return true;
  }
}

FileRecord* NewFileRecord() {
  return new (std::nothrow) FileRecord{};
}

DirRecord* FindOrAppendDir(DirList& list, const char* path) {
  if (list.tail != nullptr && NamesEqualExactly(list.tail->path, path)) {
    return list.tail;
  }
  if (std::strlen(path) >= kMaxPath) return nullptr;
  DirRecord* record = new (std::nothrow) DirRecord{};
  if (record == nullptr) return nullptr;
  std::strcpy(record->path, path);
  if (list.tail == nullptr) {
    list.head = record;
  } else {
    list.tail->next = record;
  }
  list.tail = record;
  ++list.count;
  return record;
}

void AppendFile(DirList& list, const char* dir_path, FileRecord* record) {
  DirRecord* dir = FindOrAppendDir(list, dir_path);
  if (record == nullptr) return;
  if (dir == nullptr) {
    delete record;  // dropped: nothing would ever reach it again
    return;
  }
  record->next = nullptr;
  if (dir->last_file == nullptr) {
    dir->first_file = record;
  } else {
    dir->last_file->next = record;
  }
  dir->last_file = record;
  ++dir->file_count;
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
