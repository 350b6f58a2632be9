#include "support/records.h"

#include <cstring>

FileRecord* MakeFile(const char* name) {
  FileRecord* record = NewFileRecord();
  if (record != nullptr) std::strcpy(record->name, name);
  return record;
}

void AddFile(DirList& list, const char* dir_path, FileRecord* record) {
  DirRecord* dir = FindOrAppendDir(list, dir_path);
  if (dir != nullptr && record != nullptr) AppendFile(*dir, *record);
}
