#pragma once
// The snapshot file: one inventory carried from the snapshot run to the
// later copy run, at SnapshotPath ("Dravonel.Dat" in the user's profile).
//
// Layout, all integers little-endian, no header, version or checksum:
//   offset 0, 4 bytes   number of directory blocks (DirList.count)
//   then that many blocks, each a 276-byte directory image followed by
//   file_count 284-byte file images, in list order.
// Directory image: file_count u32 @0, link slots @4 @8 @12, path[260] @16.
// File image: link slot @0, name[260] @4, time_valid u8 @264, fill @265,
//   wYear @266, wMonth @268, wDayOfWeek @270, wDay @272, wHour @274,
//   wMinute @276, wSecond @278, wMilliseconds @280 (u16 each), fill @282.
// So N blocks with F files in all make exactly 4 + 276 N + 284 F bytes.
// Link slots, fill and the bytes after each string's terminator are
// written as zero and ignored when read. Records are encoded and decoded
// field by field; nothing depends on the in-memory layout.

#include <cstddef>

#include "inventory/inventory.h"
#include "platform/win32.h"

constexpr std::size_t kCountSize = 4;
constexpr std::size_t kDirImageSize = 276;
constexpr std::size_t kFileImageSize = 284;

// Writes list to SnapshotPath, replacing any earlier snapshot; the file is
// held with share mode 0 while it is written. Only a regular file with one
// name is ever written: a link, FIFO, device or socket at SnapshotPath is
// neither followed nor opened for long (never waited on), and is refused
// before anything is truncated or written. Returns 0, or -1 when the file
// cannot be created, is another run's or not a regular file, or a write
// fails; the last error then says why, and the caller deletes whatever is
// left at SnapshotPath (DeleteFileA takes away a link itself and a file
// no other run holds, nothing else).
int SaveSnapshot(const DirList& list);

// A snapshot a copy run holds open, exclusively (share mode 0, with DELETE
// access), from its load until it deletes it or lets it go: no other run
// can read, replace or delete it meanwhile. A run that ends, killed or
// not, lets go of it with the file in place.
struct SnapshotHold {
  HANDLE file;  // INVALID_HANDLE_VALUE when nothing is held
};

// Appends the records of SnapshotPath to the empty list, in file order,
// and on success holds the file in hold. Returns 0, or -1 (nothing held)
// when the file cannot be opened (missing, unreadable, or not a regular
// file with one name: a link, FIFO or device is never followed nor waited
// on) or is not a whole snapshot: a short read, a count the remaining
// bytes cannot hold, or a path or name with no terminator within its 260
// bytes. A file another run holds is -1 too, after a "Cannot read" line
// saying so (the only one the load prints). Never allocates more than the
// file can describe. After -1 the list may hold the records read so far;
// the file is left in place.
int LoadAndHoldSnapshot(DirList& list, SnapshotHold& hold);

// Deletes the held snapshot through its handle and lets it go. Returns 0,
// or -1 when it stays (the last error says why); let go either way.
int DeleteHeldSnapshot(SnapshotHold& hold);

// Lets go of the held snapshot, leaving the file in place.
void ReleaseSnapshot(SnapshotHold& hold);

// LoadAndHoldSnapshot, letting go of the file at once.
int LoadSnapshot(DirList& list);
