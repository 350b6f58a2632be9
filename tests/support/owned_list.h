#pragma once
// The program never frees its inventories: their records are cut from
// blocks that live until the process ends, reachable from the inventory
// code, so the leak checker counts them as in use. Tests therefore make
// their lists and leave them; whatever runs many whole rounds in one
// process gives every block back between rounds with ReleaseAllRecords.

#include "inventory/inventory.h"

// A new file record with name and nothing else, for AppendFile.
FileRecord* MakeFile(const char* name);

// The list of one test.
struct OwnedList {
  DirList list{};
};
