#pragma once
// Record memory made present ahead of its first writes.

#include <cstddef>

// Has the system give memory that is about to be written, size bytes from
// start, its pages now, in one call, rather than in one fault a page as
// each is first touched. What the memory holds does not change. Where the
// system cannot (Linux before 5.14, Windows), nothing happens.
void PrepareMemory(void* start, std::size_t size);
