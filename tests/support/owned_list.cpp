#include "support/owned_list.h"

#include <cstring>

FileRecord* MakeFile(const char* name) {
  FileRecord* record = NewFileRecord();
  if (record != nullptr) std::strcpy(record->name, name);
  return record;
}

void FreeInventory(DirList& list) {
  DirRecord* dir = list.head;
  while (dir != nullptr) {
    FileRecord* file = dir->first_file;
    while (file != nullptr) {
      FileRecord* next_file = file->next;
      delete file;
      file = next_file;
    }
    DirRecord* next_dir = dir->next;
    delete dir;
    dir = next_dir;
  }
  list = DirList{};
}
