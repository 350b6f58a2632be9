// A fuzzed snapshot against a fixed fresh scan: whatever the snapshot says,
// every item chosen for a move is a record of the fresh scan, lies under
// UserStartMenu, is never the Start Menu root itself, and is chosen at most
// once, never as a file of a directory already chosen whole.
//
// Only the decisions are taken, so nothing on disk moves; the change
// detection and the snapshot reader are the program's own.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include <unistd.h>

#include "platform/process_values.h"
#include "propagate/propagate.h"
#include "snapshot/snapshot.h"
#include "support/records.h"

PathBuffer SnapshotPath;
PathBuffer UserStartMenu;
PathBuffer AllUsersStartMenu;
int32_t UserStartMenuLength = 0;

namespace {

DirList Current;
std::set<const DirRecord*> CurrentDirs;
std::set<const FileRecord*> CurrentFiles;
// What one input chose.
std::set<const DirRecord*> ChosenDirs;
std::set<const FileRecord*> ChosenFiles;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool UnderUserStartMenu(const char* path) {
  return std::strncmp(path, UserStartMenu, static_cast<std::size_t>(UserStartMenuLength)) == 0;
}

void AddCurrentFile(const char* dir, const char* name, uint16_t year, uint16_t second, uint8_t valid) {
  FileRecord* record = NewFileRecord(name);
  record->time_valid = valid;
  record->last_write = SYSTEMTIME{year, 5, 3, 7, 12, 30, second, 250};
  AddFile(Current, dir, record);
}

bool SetUpOnce() {
  std::snprintf(SnapshotPath, sizeof SnapshotPath, "/tmp/dravonel-fuzz-copy-%d.dat", static_cast<int>(getpid()));
  std::snprintf(UserStartMenu, sizeof UserStartMenu, "/home/u/Start Menu");
  std::snprintf(AllUsersStartMenu, sizeof AllUsersStartMenu, "/sys/Profiles/All Users/Start Menu");
  UserStartMenuLength = static_cast<int32_t>(std::strlen(UserStartMenu));
  return true;
}

// A fresh scan as the scan builds it: pre-order, files right after their
// directory's record. Made again for every input, since every input ends
// by giving all records back.
void MakeCurrentScan() {
  Current = DirList{};
  CurrentDirs.clear();
  CurrentFiles.clear();
  AddCurrentFile("/home/u/Start Menu", "Help.lnk", 2026, 1, 1);
  AddCurrentFile("/home/u/Start Menu", "Old.lnk", 1999, 0, 0);
  FindOrAppendDir(Current, "/home/u/Start Menu/Programs");
  AddCurrentFile("/home/u/Start Menu/Programs/Tool", "Tool.lnk", 2026, 5, 1);
  AddCurrentFile("/home/u/Start Menu/Programs/Tool", "tool.lnk", 2026, 6, 1);
  FindOrAppendDir(Current, "/home/u/Start Menu/Programs/Tool/Sub");
  AddCurrentFile("/home/u/Start Menu/Programs/Other", "a", 2025, 59, 1);
  for (const DirRecord* d = Current.head; d != nullptr; d = d->next) {
    CurrentDirs.insert(d);
    for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) CurrentFiles.insert(f);
  }
}

void CheckDir(const DirRecord& d) {
  Check(CurrentDirs.count(&d) == 1);
  Check(UnderUserStartMenu(d.path));
  Check(std::strcmp(d.path, UserStartMenu) != 0);
  Check(ChosenDirs.insert(&d).second);
}

void CheckFile(const DirRecord& d, const FileRecord& f) {
  Check(CurrentDirs.count(&d) == 1);
  Check(CurrentFiles.count(&f) == 1);
  Check(UnderUserStartMenu(d.path));
  bool in_chain = false;
  for (const FileRecord* candidate = d.first_file; candidate != nullptr; candidate = candidate->next) {
    in_chain = in_chain || candidate == &f;
  }
  Check(in_chain);
  Check(ChosenFiles.insert(&f).second);
  Check(ChosenDirs.count(&d) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool ready = SetUpOnce();
  (void)ready;
  FILE* file = std::fopen(SnapshotPath, "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  MakeCurrentScan();
  ChosenDirs.clear();
  ChosenFiles.clear();
  DirList snapshot{};
  MoveDecisions decisions;
  if (LoadSnapshot(snapshot) == 0 && DecideChanges(snapshot, Current, decisions) == 0) {
    for (const MoveDecision& d : decisions) {
      if (d.file == nullptr) {
        CheckDir(*d.dir);
      } else {
        CheckFile(*d.dir, *d.file);
      }
    }
  }
  std::remove(SnapshotPath);
  ReleaseAllRecords();
  return 0;
}
