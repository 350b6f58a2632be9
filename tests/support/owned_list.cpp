#include "support/owned_list.h"

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
