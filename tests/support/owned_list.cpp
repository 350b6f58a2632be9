#include "support/owned_list.h"

#include <cstring>

FileRecord* MakeFile(const char* name) {
  FileRecord* record = NewFileRecord();
  if (record != nullptr) std::strcpy(record->name, name);
  return record;
}
