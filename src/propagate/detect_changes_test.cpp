#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/inventory.h"
#include "propagate/propagate.h"
#include "support/records.h"
#include "support/start_menus.h"

namespace {

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second,
              WORD milliseconds = 0, WORD day_of_week = 0) {
  SYSTEMTIME time{};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  time.wMilliseconds = milliseconds;
  time.wDayOfWeek = day_of_week;
  return time;
}

FileRecord Record(const SYSTEMTIME& time, uint8_t time_valid = 1) {
  FileRecord f{};
  f.time_valid = time_valid;
  f.last_write = time;
  return f;
}

void Add(DirList& list, const std::string& dir, const char* name, const SYSTEMTIME& time,
         uint8_t time_valid = 1) {
  FileRecord* f = NewFileRecord(name);
  ASSERT_NE(f, nullptr);
  f->time_valid = time_valid;
  f->last_write = time;
  AddFile(list, dir.c_str(), f);
}

void AddDir(DirList& list, const std::string& dir) { ASSERT_NE(FindOrAppendDir(list, dir.c_str()), nullptr); }

std::string FileDecided(const StartMenus& menus, const std::string& relative) {
  return "file " + menus.User(relative) + "\n";
}

std::string DirDecided(const StartMenus& menus, const std::string& relative) {
  return "dir " + menus.User(relative) + "\n";
}

// The decisions, in order: "dir <path>" for a directory to move whole,
// "file <path>" for a file.
std::string Decided(const DirList& snapshot, const DirList& current) {
  MoveDecisions decisions;
  EXPECT_EQ(DecideChanges(snapshot, current, decisions), 0);
  std::string text;
  for (const MoveDecision& d : decisions) {
    text += d.file == nullptr ? "dir " + std::string(d.dir->path) + "\n"
                              : "file " + std::string(d.dir->path) + Sep() + d.file->name + "\n";
  }
  return text;
}

const SYSTEMTIME kNoon = At(2001, 6, 15, 12, 0, 0, 250, 5);

TEST(CompareWriteTimes, EachFieldDecidesInOrderOfSignificance) {
  const FileRecord base = Record(At(2001, 6, 15, 12, 30, 30));
  const SYSTEMTIME later[] = {At(2002, 1, 1, 0, 0, 0), At(2001, 7, 1, 0, 0, 0),
                              At(2001, 6, 16, 0, 0, 0), At(2001, 6, 15, 13, 0, 0),
                              At(2001, 6, 15, 12, 31, 0), At(2001, 6, 15, 12, 30, 31)};
  for (const SYSTEMTIME& time : later) {
    // Every less significant field of the later time is smaller.
    EXPECT_EQ(CompareWriteTimes(Record(time), base), 1) << time.wYear << "-" << time.wMonth << "-" << time.wDay;
    EXPECT_EQ(CompareWriteTimes(base, Record(time)), 2);
  }
  EXPECT_EQ(CompareWriteTimes(base, base), 0);
}

TEST(CompareWriteTimes, IgnoresMillisecondsAndDayOfWeek) {
  EXPECT_EQ(CompareWriteTimes(Record(At(2001, 6, 15, 12, 0, 0, 999, 6)), Record(At(2001, 6, 15, 12, 0, 0, 0, 1))), 0);
}

TEST(CompareWriteTimes, ComparesFieldsAsUnsigned16BitNumbers) {
  EXPECT_EQ(CompareWriteTimes(Record(At(0x8000, 1, 1, 0, 0, 0)), Record(At(0x7FFF, 1, 1, 0, 0, 0))), 1);
  EXPECT_EQ(CompareWriteTimes(Record(At(2001, 1, 1, 0, 0, 0xFFFF)), Record(At(2001, 1, 1, 0, 0, 1))), 1);
}

TEST(CompareWriteTimes, AnInvalidTimeOnEitherSideIsNeverComparable) {
  const FileRecord valid = Record(kNoon);
  EXPECT_EQ(CompareWriteTimes(Record(kNoon, 0), valid), -1);
  EXPECT_EQ(CompareWriteTimes(valid, Record(kNoon, 0)), -1);
  EXPECT_EQ(CompareWriteTimes(Record(kNoon, 0), Record(kNoon, 0)), -1);
  // Any nonzero byte means valid.
  EXPECT_EQ(CompareWriteTimes(Record(kNoon, 0x80), valid), 0);
}

TEST(DecideChanges, MovesAFileOnlyWhenNewOrLater) {
  StartMenus menus;
  const std::string programs = menus.User("Programs");
  DirList snapshot{};
  Add(snapshot, programs, "Same.lnk", kNoon);
  Add(snapshot, programs, "Millis.lnk", kNoon);
  Add(snapshot, programs, "Backwards.lnk", kNoon);
  Add(snapshot, programs, "Later.lnk", kNoon);
  Add(snapshot, programs, "InvalidNow.lnk", kNoon);
  Add(snapshot, programs, "InvalidThen.lnk", At(1990, 1, 1, 0, 0, 0), 0);
  Add(snapshot, programs, "tool.lnk", kNoon);
  Add(snapshot, programs, "Deleted.lnk", kNoon);

  DirList current{};
  Add(current, programs, "Backwards.lnk", At(2001, 6, 15, 11, 59, 59));
  Add(current, programs, "New.lnk", kNoon);
  Add(current, programs, "Same.lnk", kNoon);
  Add(current, programs, "Millis.lnk", At(2001, 6, 15, 12, 0, 0, 999, 2));
  Add(current, programs, "Later.lnk", At(2001, 6, 15, 12, 0, 1));
  Add(current, programs, "InvalidNow.lnk", At(2030, 1, 1, 0, 0, 0), 0);
  Add(current, programs, "InvalidThen.lnk", At(2030, 1, 1, 0, 0, 0));
  Add(current, programs, "NewInvalid.lnk", kNoon, 0);
  Add(current, programs, "TOOL.LNK", kNoon);

  EXPECT_EQ(Decided(snapshot, current), FileDecided(menus, "Programs/New.lnk") +
                                               FileDecided(menus, "Programs/Later.lnk") +
                                               FileDecided(menus, "Programs/NewInvalid.lnk"));
}

TEST(DecideChanges, NewDirectoryGoesWholeAndItsNewSubdirectoryIsTriedAfter) {
  StartMenus menus;
  DirList snapshot{};
  AddDir(snapshot, menus.User("Programs"));

  DirList current{};
  AddDir(current, menus.User("Programs"));
  Add(current, menus.User("Programs/App"), "App.lnk", kNoon);
  Add(current, menus.User("Programs/App/Sub"), "Help.lnk", kNoon);
  AddDir(current, menus.User("Programs/Other"));

  EXPECT_EQ(Decided(snapshot, current), DirDecided(menus, "Programs/App") +
                                               DirDecided(menus, "Programs/App/Sub") +
                                               DirDecided(menus, "Programs/Other"));
}


TEST(DecideChanges, RootWithoutNamesakeHasItsFilesMovedOneByOne) {
  StartMenus menus;
  DirList snapshot{};
  Add(snapshot, menus.User("Programs"), "Tool.lnk", kNoon);
  DirList current{};
  Add(current, menus.user, "First.lnk", kNoon);
  Add(current, menus.user, "Second.lnk", kNoon, 0);
  Add(current, menus.User("Programs"), "Tool.lnk", kNoon);
  EXPECT_EQ(Decided(snapshot, current), FileDecided(menus, "First.lnk") + FileDecided(menus, "Second.lnk"));

  // However the root's record spells it.
  std::string shouted = menus.user;
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  DirList spelled{};
  Add(spelled, shouted, "First.lnk", kNoon);
  EXPECT_EQ(Decided(snapshot, spelled), "file " + shouted + Sep() + "First.lnk\n");
}



TEST(DecideChanges, OnlyTheFirstNamesakeInTheSnapshotCountsForADirectoryAndAFile) {
  StartMenus menus;
  // A short chain is searched in line, a long one through an index: with
  // unchanged files ahead of the namesakes or not, both find the first.
  for (const int unchanged : {0, 20}) {
    SCOPED_TRACE(unchanged);
    DirList snapshot{};
    DirList current{};
    const std::string programs = menus.User("Programs");
    for (int i = 0; i < unchanged; ++i) {
      const std::string name = "Unchanged " + std::to_string(i) + ".lnk";
      Add(snapshot, programs, name.c_str(), kNoon);
      Add(current, programs, name.c_str(), kNoon);
    }
    const SYSTEMTIME earlier = At(2000, 1, 1, 0, 0, 0);
    // The first record of Programs holds Tool.lnk at noon; a later one, with
    // the path in other letters, holds it earlier and also holds Extra.lnk.
    Add(snapshot, programs, "Tool.lnk", kNoon);
    Add(snapshot, programs, "TOOL.LNK", earlier);
    Add(snapshot, menus.User("Other"), "Other.lnk", kNoon);
    std::string shouted = menus.User("PROGRAMS");
    Add(snapshot, shouted, "Tool.lnk", earlier);
    Add(snapshot, shouted, "Extra.lnk", kNoon);

    Add(current, programs, "Tool.lnk", kNoon);
    Add(current, programs, "Extra.lnk", kNoon);
    EXPECT_EQ(Decided(snapshot, current), FileDecided(menus, "Programs/Extra.lnk"));
  }
}

TEST(DecideChanges, ItemsGoneSinceTheSnapshotAreLeftAlone) {
  StartMenus menus;
  DirList snapshot{};
  Add(snapshot, menus.user, "Gone.lnk", kNoon);
  Add(snapshot, menus.User("Programs"), "Gone.lnk", kNoon);
  Add(snapshot, menus.User("Programs/GoneDir"), "Gone.lnk", kNoon);
  DirList current{};
  AddDir(current, menus.User("Programs"));
  EXPECT_EQ(Decided(snapshot, current), "");
  EXPECT_EQ(Decided(snapshot, DirList{}), "");
}

}  // namespace
