// Memory on POSIX: pages made present ahead of their first writes.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/memory.h"
#include "platform/win32.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, harmlessly
#endif

void PrepareMemory(void* start, std::size_t size) {
  // Whole pages inside the range only: madvise takes a page-aligned start,
  // and a page at either end shared with other memory is left to fault.
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
  const auto end = (reinterpret_cast<uintptr_t>(start) + size) / page * page;
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}
