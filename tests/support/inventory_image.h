#pragma once
// An inventory in memory as a snapshot image, and back, for tests that
// compare what the program holds with what a file says.

#include <cstring>

#include "inventory/inventory.h"
#include "support/records.h"
#include "support/snapshot_image.h"

// Every record in list order, each directory with its chain; the counts
// are taken from the links, not from count and file_count.
inline SnapshotImage ImageOfList(const DirList& list) {
  SnapshotImage image;
  for (const DirRecord* d = list.head; d != nullptr; d = d->next) {
    ImageDir dir{d->path, {}};
    for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) {
      const SYSTEMTIME& t = f->last_write;
      dir.files.push_back(ImageFile{f->name, f->time_valid,
                                    ImageTime{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute,
                                              t.wSecond, t.wMilliseconds}});
    }
    image.push_back(dir);
  }
  return image;
}

// Builds the inventory an image describes with the inventory's own
// operations, as the scan and the reader do. Every path and name must fit
// a PathBuffer.
inline DirList ListOfImage(const SnapshotImage& image) {
  DirList list{};
  for (const ImageDir& dir : image) {
    FindOrAppendDir(list, dir.path.c_str());
    for (const ImageFile& file : dir.files) {
      FileRecord* record = NewFileRecord(file.name.c_str());
      record->time_valid = file.time_valid;
      const ImageTime& t = file.time;
      record->last_write = SYSTEMTIME{t.year, t.month, t.day_of_week, t.day, t.hour, t.minute, t.second,
                                      t.milliseconds};
      AddFile(list, dir.path.c_str(), record);
    }
  }
  return list;
}

// Counts agree with the links: count with the records, each file_count
// with its chain, tail with the last record.
inline bool CountsMatchLinks(const DirList& list) {
  uint32_t dirs = 0;
  const DirRecord* last = nullptr;
  for (const DirRecord* d = list.head; d != nullptr; last = d, d = d->next) {
    ++dirs;
    uint32_t files = 0;
    const FileRecord* last_file = nullptr;
    for (const FileRecord* f = d->first_file; f != nullptr; last_file = f, f = f->next) ++files;
    if (files != d->file_count || last_file != d->last_file) return false;
  }
  return dirs == list.count && last == list.tail;
}
