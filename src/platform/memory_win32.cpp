// Memory on Windows: committed pages are made present by their first
// write, and there is no call that would do it ahead for many at once.

#include "platform/memory.h"
#include "platform/win32.h"

void PrepareMemory(void*, std::size_t) {}
