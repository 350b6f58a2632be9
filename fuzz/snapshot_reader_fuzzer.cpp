// Any bytes at SnapshotPath: the reader either loads a list that the file
// could describe or fails, and never crashes, hangs or over-allocates. A
// list it loads is saved again and reads back the same, record for record.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "platform/process_values.h"
#include "snapshot/snapshot.h"
#include "support/records.h"

namespace {

PathBuffer InputPath;
PathBuffer ResavedPath;

bool SetUpOnce() {
  // In memory where there is a tmpfs: on ext4, closing a file emptied by
  // the writer starts a flush to disk, which would slow the round trip a
  // hundredfold.
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const std::string base = std::string(folder) + "/dravonel-fuzz-reader-" + std::to_string(getpid());
  std::snprintf(InputPath, sizeof InputPath, "%s.dat", base.c_str());
  std::snprintf(ResavedPath, sizeof ResavedPath, "%s-resaved.dat", base.c_str());
  return true;
}

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek && a.wDay == b.wDay &&
         a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond &&
         a.wMilliseconds == b.wMilliseconds;
}

bool SameList(const DirList& a, const DirList& b) {
  if (a.count != b.count) return false;
  const DirRecord* d = a.head;
  const DirRecord* e = b.head;
  for (; d != nullptr && e != nullptr; d = d->next, e = e->next) {
    if (std::strcmp(d->path, e->path) != 0 || d->file_count != e->file_count) return false;
    const FileRecord* f = d->first_file;
    const FileRecord* g = e->first_file;
    for (; f != nullptr && g != nullptr; f = f->next, g = g->next) {
      if (std::strcmp(f->name, g->name) != 0 || f->time_valid != g->time_valid ||
          !SameTime(f->last_write, g->last_write)) {
        return false;
      }
    }
    if (f != nullptr || g != nullptr) return false;
  }
  return d == nullptr && e == nullptr;
}

// Saves list and loads it back; aborts unless the two agree.
void CheckRoundTrip(const DirList& list) {
  std::snprintf(SnapshotPath, sizeof SnapshotPath, "%s", ResavedPath);
  if (SaveSnapshot(list) != 0) std::abort();
  DirList reloaded{};
  if (LoadSnapshot(reloaded) != 0 || !SameList(list, reloaded)) std::abort();
  std::remove(ResavedPath);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool ready = SetUpOnce();
  (void)ready;
  std::snprintf(SnapshotPath, sizeof SnapshotPath, "%s", InputPath);
  FILE* file = std::fopen(SnapshotPath, "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  DirList owned{};
  const int result = LoadSnapshot(owned);

  // What was loaded must fit in what the file holds.
  uint64_t files = 0;
  uint64_t dirs = 0;
  for (const DirRecord* d = owned.head; d != nullptr; d = d->next) {
    ++dirs;
    if (strnlen(d->path, kMaxPath) >= kMaxPath) std::abort();
    uint32_t chained = 0;
    for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) {
      ++chained;
      if (strnlen(f->name, kMaxPath) >= kMaxPath) std::abort();
    }
    if (chained != d->file_count) std::abort();
    files += chained;
  }
  if (dirs != owned.count) std::abort();
  if (kCountSize + dirs * kDirImageSize + files * kFileImageSize > size && (dirs > 0 || result == 0)) {
    std::abort();
  }
  if (result == 0 && size < kCountSize) std::abort();
  std::remove(InputPath);
  if (result == 0) CheckRoundTrip(owned);
  // Records are never freed one by one: every input starts afresh.
  ReleaseAllRecords();
  return 0;
}
