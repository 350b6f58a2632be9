#include "inventory/inventory.h"

void ScanDirectory(DirList&, const char*) {}
void AddFileEntry(DirList&, const WIN32_FIND_DATAA&, const char*) {}
void AddSubdirEntry(DirList&, const WIN32_FIND_DATAA&, const char*) {}
