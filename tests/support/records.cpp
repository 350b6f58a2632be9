#include "support/records.h"

FileRecord* MakeFile(const char* name) { return NewFileRecord(name); }

void AddFile(DirList& list, const char* dir_path, FileRecord* record) {
  DirRecord* dir = FindOrAppendDir(list, dir_path);
  if (dir != nullptr && record != nullptr) AppendFile(*dir, *record);
}
