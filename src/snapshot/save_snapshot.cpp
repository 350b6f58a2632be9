#include <cstdint>
#include <cstring>

#include "platform/held_file.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/process_values.h"
#include "snapshot/snapshot.h"

namespace {

// Images are gathered here and written a buffer at a time.
constexpr std::size_t kWriteBufferSize = 64 * 1024;

struct SnapshotWriter {
  HANDLE file;
  std::size_t used;
  bool failed;  // a write failed: nothing more is written
  unsigned char buffer[kWriteBufferSize];
};

void Flush(SnapshotWriter& writer) {
  if (writer.failed || writer.used == 0) return;
  DWORD written = 0;
  // A short count is a failure too: the file would be missing bytes.
  if (!WriteFile(writer.file, writer.buffer, static_cast<DWORD>(writer.used), &written, nullptr) ||
      written != writer.used) {
    writer.failed = true;
  }
  writer.used = 0;
}

// Room for the next count bytes of the file, in the buffer; the image is
// encoded there in place.
unsigned char* Reserve(SnapshotWriter& writer, std::size_t count) {
  if (writer.used + count > kWriteBufferSize) Flush(writer);
  unsigned char* room = writer.buffer + writer.used;
  writer.used += count;
  return room;
}

void Store32(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  at[2] = static_cast<unsigned char>(value >> 16);
  at[3] = static_cast<unsigned char>(value >> 24);
}

void Store16(unsigned char* at, WORD value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

// Copies a string into its field and zeroes the rest of the field, the
// terminator and the bytes after it. Returns false when the string would
// not fit the field: the reader would refuse it.
bool StoreString(unsigned char* at, const char* text) {
  const std::size_t length = strnlen(text, kMaxPath);
  if (length >= kMaxPath) return false;
  std::memcpy(at, text, length);
  std::memset(at + length, 0, kMaxPath - length);
  return true;
}

// The encoders write every byte of the image once: link slots and fill are
// zero, and so are the bytes after each terminator.
bool EncodeDir(unsigned char* image, const DirRecord& dir) {
  Store32(image + 0, dir.file_count);
  std::memset(image + 4, 0, 12);  // link slots
  return StoreString(image + 16, dir.path);
}

bool EncodeFile(unsigned char* image, const FileRecord& file) {
  std::memset(image, 0, 4);  // link slot
  if (!StoreString(image + 4, file.name)) return false;
  image[264] = file.time_valid;
  image[265] = 0;
  const SYSTEMTIME& t = file.last_write;
  Store16(image + 266, t.wYear);
  Store16(image + 268, t.wMonth);
  Store16(image + 270, t.wDayOfWeek);
  Store16(image + 272, t.wDay);
  Store16(image + 274, t.wHour);
  Store16(image + 276, t.wMinute);
  Store16(image + 278, t.wSecond);
  Store16(image + 280, t.wMilliseconds);
  Store16(image + 282, 0);
  return true;
}

// Writes every block; false when a record cannot be encoded or the counts
// disagree with the links (the file would not read back as this list).
bool WriteBlocks(SnapshotWriter& writer, const DirList& list) {
  Store32(Reserve(writer, kCountSize), list.count);

  const DirRecord* dir = list.head;
  for (uint32_t d = 0; d < list.count; ++d, dir = dir->next) {
    if (dir == nullptr) return false;
    if (!EncodeDir(Reserve(writer, kDirImageSize), *dir)) return false;

    const FileRecord* file = dir->first_file;
    for (uint32_t f = 0; f < dir->file_count; ++f, file = file->next) {
      if (file == nullptr) return false;
      if (!EncodeFile(Reserve(writer, kFileImageSize), *file)) return false;
    }
    if (writer.failed) return false;
  }
  return dir == nullptr;
}

}  // namespace

int SaveSnapshot(const DirList& list) {
  // Share mode 0: no other run can read or write the file while it is
  // half written, and this one cannot replace a file another run holds.
  // Opened as it is (OPEN_ALWAYS, never through a link) and emptied only
  // once known to be a regular file of one name: a link planted here must
  // not lead the write to its target, and CREATE_ALWAYS would empty a file
  // before anyone could look at what it is.
  const HANDLE file = CreateFileA(SnapshotPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  if (!IsRegularFile(file) || !SetEndOfFile(file)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return -1;
  }

  SnapshotWriter writer;
  writer.file = file;
  writer.used = 0;
  writer.failed = false;
  const bool encoded = WriteBlocks(writer, list);
  if (encoded) Flush(writer);
  const bool written = encoded && !writer.failed;
  // A close can report a write the system had deferred.
  const bool closed = CloseHandle(file) != 0;
  return written && closed ? 0 : -1;
}
