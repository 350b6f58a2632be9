#pragma once
// The program never frees its inventories: they live until it ends. Tests
// make many, and free them so the leak checker watches the program's real
// allocations only.

#include "inventory/inventory.h"

// A new file record with name and nothing else, for AppendFile.
FileRecord* MakeFile(const char* name);

// Frees every record of list and leaves it empty.
void FreeInventory(DirList& list);

// A DirList whose records are freed at the end of the scope.
struct OwnedList {
  DirList list{};
  OwnedList() = default;
  ~OwnedList() { FreeInventory(list); }
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
};
