#pragma once
// Inventories for tests, made with the inventory's own operations. The
// program never frees its records: they are cut from blocks that live until
// the process ends, reachable from the inventory code, so the leak checker
// counts them as in use. Tests therefore make their lists and leave them;
// whatever runs many whole rounds in one process gives every block back
// between rounds with ReleaseAllRecords.

#include "inventory/inventory.h"

// A new file record with name and nothing else.
FileRecord* MakeFile(const char* name);

// Links record into the record FindOrAppendDir(list, dir_path) gives, as
// the scan and the snapshot reader do; dropped when there is none (or no
// record).
void AddFile(DirList& list, const char* dir_path, FileRecord* record);
