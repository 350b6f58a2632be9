// Any bytes at SnapshotPath: the reader either loads a list that the file
// could describe or fails, and never crashes, hangs or over-allocates.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "driver/driver.h"
#include "snapshot/snapshot.h"
#include "support/owned_list.h"

namespace {

bool SetUpOnce() {
  const std::string path = "/tmp/dravonel-fuzz-reader-" + std::to_string(getpid()) + ".dat";
  std::snprintf(SnapshotPath, sizeof SnapshotPath, "%s", path.c_str());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool ready = SetUpOnce();
  (void)ready;
  FILE* file = std::fopen(SnapshotPath, "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  OwnedList owned;
  const int result = LoadSnapshot(owned.list);

  // What was loaded must fit in what the file holds.
  uint64_t files = 0;
  uint64_t dirs = 0;
  for (const DirRecord* d = owned.list.head; d != nullptr; d = d->next) {
    ++dirs;
    if (std::memchr(d->path, '\0', sizeof d->path) == nullptr) std::abort();
    uint32_t chained = 0;
    for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) {
      ++chained;
      if (std::memchr(f->name, '\0', sizeof f->name) == nullptr) std::abort();
    }
    if (chained != d->file_count) std::abort();
    files += chained;
  }
  if (dirs != owned.list.count) std::abort();
  if (kCountSize + dirs * kDirImageSize + files * kFileImageSize > size && (dirs > 0 || result == 0)) {
    std::abort();
  }
  if (result == 0 && size < kCountSize) std::abort();
  std::remove(SnapshotPath);
  return 0;
}
