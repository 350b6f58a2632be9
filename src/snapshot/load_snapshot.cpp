#include <cstdint>
#include <cstring>

#include "platform/console.h"
#include "platform/held_file.h"
#include "platform/messages.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/process_values.h"
#include "snapshot/snapshot.h"

namespace {

// The file is read a buffer at a time and handed out image by image.
constexpr std::size_t kReadBufferSize = 64 * 1024;

struct SnapshotReader {
  HANDLE file;
  uint64_t unread;  // bytes of the file, by its size, not yet handed out
  std::size_t begin;
  std::size_t end;
  unsigned char buffer[kReadBufferSize];
};

// Hands out the next count bytes; false when the file ends first.
bool Take(SnapshotReader& reader, unsigned char* out, std::size_t count) {
  if (count > reader.unread) return false;
  reader.unread -= count;
  while (count > 0) {
    if (reader.begin == reader.end) {
      DWORD got = 0;
      if (!ReadFile(reader.file, reader.buffer, static_cast<DWORD>(kReadBufferSize), &got, nullptr) ||
          got == 0) {
        return false;
      }
      reader.begin = 0;
      reader.end = got;
    }
    std::size_t step = reader.end - reader.begin;
    if (step > count) step = count;
    std::memcpy(out, reader.buffer + reader.begin, step);
    reader.begin += step;
    out += step;
    count -= step;
  }
  return true;
}

// The next count bytes, where they lie in the buffer when they lie there
// whole (mostly), otherwise gathered into scratch; null when the file ends
// first.
const unsigned char* TakeImage(SnapshotReader& reader, unsigned char* scratch, std::size_t count) {
  if (count <= reader.unread && count <= reader.end - reader.begin) {
    const unsigned char* image = reader.buffer + reader.begin;
    reader.begin += count;
    reader.unread -= count;
    return image;
  }
  return Take(reader, scratch, count) ? scratch : nullptr;
}

uint32_t Load32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

WORD Load16(const unsigned char* at) {
  return static_cast<WORD>(at[0] | at[1] << 8);
}

// Copies a string field into a PathBuffer; false when it has no terminator
// within its 260 bytes.
bool LoadString(PathBuffer out, const unsigned char* at) {
  const char* text = reinterpret_cast<const char*>(at);
  const std::size_t length = BoundedLength(text);
  if (length >= kMaxPath) return false;
  std::memcpy(out, text, length + 1);
  return true;
}

// The counts are checked against the bytes left before anything is
// allocated for them: a damaged count can never make the reader allocate
// more records than the file holds images.
bool CanHold(const SnapshotReader& reader, uint64_t files, uint64_t dirs) {
  return files * kFileImageSize + dirs * kDirImageSize <= reader.unread;
}

bool ReadFileImage(SnapshotReader& reader, DirRecord& dir) {
  unsigned char scratch[kFileImageSize];
  const unsigned char* image = TakeImage(reader, scratch, sizeof scratch);
  if (image == nullptr) return false;
  // A name with no terminator in its field fails the load, as does a
  // record that cannot be allocated.
  PathBuffer name;
  if (!LoadString(name, image + 4)) return false;
  FileRecord* record = NewFileRecord(name);
  if (record == nullptr) return false;
  record->time_valid = image[264];
  SYSTEMTIME& t = record->last_write;
  t.wYear = Load16(image + 266);
  t.wMonth = Load16(image + 268);
  t.wDayOfWeek = Load16(image + 270);
  t.wDay = Load16(image + 272);
  t.wHour = Load16(image + 274);
  t.wMinute = Load16(image + 276);
  t.wSecond = Load16(image + 278);
  t.wMilliseconds = Load16(image + 280);
  AppendFile(dir, *record);
  return true;
}

bool ReadBlocks(SnapshotReader& reader, DirList& list) {
  unsigned char count_bytes[kCountSize];
  if (!Take(reader, count_bytes, sizeof count_bytes)) return false;
  const uint32_t dir_count = Load32(count_bytes);
  if (!CanHold(reader, 0, dir_count)) return false;

  for (uint32_t d = 0; d < dir_count; ++d) {
    unsigned char scratch[kDirImageSize];
    const unsigned char* image = TakeImage(reader, scratch, sizeof scratch);
    if (image == nullptr) return false;
    const uint32_t file_count = Load32(image);
    PathBuffer path;
    if (!LoadString(path, image + 16)) return false;
    if (!CanHold(reader, file_count, dir_count - d - 1)) return false;

    // Adjacent blocks never share a path in a saved list, so this is a new
    // record, and the tail while its files are appended.
    DirRecord* dir = FindOrAppendDir(list, path);
    if (dir == nullptr) return false;
    for (uint32_t f = 0; f < file_count; ++f) {
      if (!ReadFileImage(reader, *dir)) return false;
    }
  }
  // Bytes after the last block are never looked at.
  return true;
}

}  // namespace

int LoadAndHoldSnapshot(DirList& list, SnapshotHold& hold) {
  hold.file = INVALID_HANDLE_VALUE;
  // Share mode 0: a snapshot another run is still writing or carrying over
  // cannot be read, and none can take this one while it is held. DELETE:
  // it is deleted through this handle. Never through a link: only a file
  // of the user's own is a snapshot.
  const HANDLE file = CreateFileA(SnapshotPath, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // The one failure worth a line: the file is there and whole, but this
    // run must leave it to the one that has it.
    if (GetLastError() == ERROR_SHARING_VIOLATION) {
      PrintWithReason(kCannotReadLine, SnapshotPath, ERROR_SHARING_VIOLATION);
    }
    return -1;
  }

  DWORD size_high = 0;
  const DWORD size_low = IsRegularFile(file) ? GetFileSize(file, &size_high) : INVALID_FILE_SIZE;
  // INVALID_FILE_SIZE may also be the low half of a real size, but a
  // snapshot of 4 GiB is no snapshot at all.
  if (size_low == INVALID_FILE_SIZE) {
    CloseHandle(file);
    return -1;
  }

  SnapshotReader reader;
  reader.file = file;
  reader.unread = static_cast<uint64_t>(size_high) << 32 | size_low;
  reader.begin = 0;
  reader.end = 0;
  if (!ReadBlocks(reader, list)) {
    CloseHandle(file);
    return -1;
  }
  hold.file = file;
  return 0;
}

int DeleteHeldSnapshot(SnapshotHold& hold) {
  const HANDLE file = hold.file;
  hold.file = INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return -1;
  return DeleteHeldFile(file, SnapshotPath) ? 0 : -1;
}

void ReleaseSnapshot(SnapshotHold& hold) {
  if (hold.file != INVALID_HANDLE_VALUE) CloseHandle(hold.file);
  hold.file = INVALID_HANDLE_VALUE;
}

int LoadSnapshot(DirList& list) {
  SnapshotHold hold;
  const int loaded = LoadAndHoldSnapshot(list, hold);
  ReleaseSnapshot(hold);
  return loaded;
}
