// Every platform call that can fail, made to fail at a chosen call of a
// whole run, in process: the documented outcome, and nothing lost.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "faults/switchboard.h"
#include "snapshot/snapshot.h"
#include "support/owned_list.h"
#include "support/run_program.h"
#include "support/temp_tree.h"

namespace {

void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  ASSERT_EQ(_putenv((name + "=" + value).c_str()), 0);
#else
  ASSERT_EQ(setenv(name.c_str(), value.c_str(), 1), 0);
#endif
}

class RunFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    profile = dir.path() / "profile";
    user_menu = profile / "Start Menu";
    system = dir.path() / "system";
    all_users = system / "Profiles" / "All Users" / "Start Menu";
    snapshot = profile / "Dravonel.Dat";
    fs::create_directories(user_menu);
    fs::create_directories(all_users / "Programs");
    SetVariable("UserProfile", profile.string());
    SetVariable("SystemRoot", system.string());
#ifndef _WIN32
    // The grant finds the Cacls built beside the tests.
    SetVariable("PATH", BuiltProgramFolder() + ":/usr/bin:/bin");
#endif
    DisarmFaults();
  }

  void TearDown() override {
    DisarmFaults();
    FreeInventory(SnapshotList);
    FreeInventory(CurrentList);
  }

  // One whole run in process; returns its exit status, its output in out.
  int Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> strings{"dravonel"};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    FreeInventory(SnapshotList);
    FreeInventory(CurrentList);
    ::testing::internal::CaptureStdout();
    const int status = RunDravonel(static_cast<int>(strings.size()), argv.data());
    out = ::testing::internal::GetCapturedStdout();
    return status;
  }

  // A tree with a few directories and files, some of them nested.
  void MakeTree() {
    WriteFile(user_menu / "Help.lnk", "help");
    WriteFile(user_menu / "Programs" / "Tool" / "Tool.lnk", "tool");
    WriteFile(user_menu / "Programs" / "Tool" / "Readme.lnk", "readme");
    WriteFile(user_menu / "Programs" / "Other" / "Other.lnk", "other");
    fs::create_directories(user_menu / "Programs" / "Empty");
  }

  TempDir dir;
  fs::path profile, user_menu, system, all_users, snapshot;
  std::string out;
};

TEST_F(RunFaults, AFailedCreateWriteOrCloseOfTheSnapshotLeavesNoSnapshot) {
  MakeTree();
  ASSERT_EQ(Run({}), 0);
  const std::string good = ReadFile(snapshot);
  const int creates = CallCount(Operation::kCreateFile);
  const int writes = CallCount(Operation::kWriteFile);
  const int closes = CallCount(Operation::kCloseHandle);
  ASSERT_GE(writes, 1);

  struct Fault {
    Operation operation;
    int count;
  };
  for (const Fault fault : {Fault{Operation::kCreateFile, creates}, Fault{Operation::kWriteFile, writes},
                            Fault{Operation::kCloseHandle, closes}}) {
    for (int nth = 1; nth <= fault.count; ++nth) {
      // An earlier snapshot is there; a failed save must not leave it to be
      // mistaken for this one, nor leave half of the new one.
      WriteFile(snapshot, good);
      DisarmFaults();
      ArmFault(fault.operation, nth);
      EXPECT_EQ(Run({}), 0);
      EXPECT_EQ(out, "");
      EXPECT_FALSE(fs::exists(snapshot)) << static_cast<int>(fault.operation) << " call " << nth;
    }
  }
  // The user's tree is as it was.
  EXPECT_EQ(ReadFile(user_menu / "Help.lnk"), "help");
  EXPECT_EQ(ReadFile(user_menu / "Programs" / "Tool" / "Tool.lnk"), "tool");
}

TEST_F(RunFaults, AFailedReadOfTheSnapshotEndsTheCopyRunAndKeepsTheFile) {
  MakeTree();
  ASSERT_EQ(Run({}), 0);
  const std::string good = ReadFile(snapshot);
  WriteFile(user_menu / "Programs" / "Tool" / "New.lnk", "new");

  struct Fault {
    Operation operation;
    int nth;
  };
  for (const Fault fault : {Fault{Operation::kCreateFile, 1}, Fault{Operation::kReadFile, 1},
                            Fault{Operation::kGetFileSize, 1}}) {
    DisarmFaults();
    ArmFault(fault.operation, fault.nth);
    const int status = Run({"/c"});
    EXPECT_EQ(status, -1) << static_cast<int>(fault.operation) << " call " << fault.nth;
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadFile(snapshot), good);
    EXPECT_EQ(ReadFile(user_menu / "Programs" / "Tool" / "New.lnk"), "new");
    EXPECT_TRUE(fs::is_empty(all_users / "Programs"));
  }
}

TEST_F(RunFaults, AFailedMoveLeavesTheSourceAndTheNamesake) {
  fs::create_directories(user_menu / "Programs");
  WriteFile(user_menu / "Help.lnk", "old help");
  SetWriteTime(user_menu / "Help.lnk", UtcSeconds(2020, 1, 1));
  ASSERT_EQ(Run({}), 0);

  WriteFile(user_menu / "Help.lnk", "new help");
  SetWriteTime(user_menu / "Help.lnk", UtcSeconds(2021, 1, 1));
  WriteFile(all_users / "Help.lnk", "shared help");
  WriteFile(user_menu / "Programs" / "Tool" / "Tool.lnk", "tool");

  ArmFault(Operation::kMoveFileEx, 1);
  ArmFault(Operation::kMoveFile, 1);
  EXPECT_EQ(Run({"/c"}), 0);
  // Each item got its line; no grant followed a failed move.
  EXPECT_NE(out.find("Moving File"), std::string::npos);
  EXPECT_NE(out.find("Moving Dir"), std::string::npos);
  EXPECT_EQ(out.find("Exec"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(user_menu / "Help.lnk"), "new help");
  EXPECT_EQ(ReadFile(all_users / "Help.lnk"), "shared help");
  EXPECT_EQ(ReadFile(user_menu / "Programs" / "Tool" / "Tool.lnk"), "tool");
  EXPECT_FALSE(fs::exists(all_users / "Programs" / "Tool"));
  EXPECT_FALSE(fs::exists(snapshot));
}

TEST_F(RunFaults, AFailedGrantGoesOnWithTheNextItem) {
  ASSERT_EQ(Run({}), 0);
  WriteFile(user_menu / "A.lnk", "a");
  WriteFile(user_menu / "B.lnk", "b");
  ArmFault(Operation::kRunGrantCommand, 1);
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(CallCount(Operation::kRunGrantCommand), 2);
  EXPECT_EQ(ReadFile(all_users / "A.lnk"), "a");
  EXPECT_EQ(ReadFile(all_users / "B.lnk"), "b");
  EXPECT_FALSE(fs::exists(user_menu / "A.lnk"));
  EXPECT_FALSE(fs::exists(user_menu / "B.lnk"));
}

// Records in a snapshot file: directories and files.
int RecordsIn(const DirList& list) {
  int records = 0;
  for (const DirRecord* d = list.head; d != nullptr; d = d->next) records += 1 + static_cast<int>(d->file_count);
  return records;
}

TEST_F(RunFaults, AFailedAllocationDropsOnlyTheRecordConcerned) {
  MakeTree();
  ASSERT_EQ(Run({}), 0);
  const int records = RecordsIn(SnapshotList);
  const int allocations = CallCount(Operation::kAllocate);
  ASSERT_GE(allocations, records);

  for (int nth = 1; nth <= allocations; ++nth) {
    DisarmFaults();
    ArmFault(Operation::kAllocate, nth);
    ASSERT_EQ(Run({}), 0);
    EXPECT_EQ(out, "");
    // The snapshot is whole and readable, with one record missing: a file,
    // or a directory. A directory's record missing takes the file being
    // added with it, and the root, whose record its first file makes, goes
    // with that file.
    DisarmFaults();
    OwnedList loaded;
    ASSERT_EQ(LoadSnapshot(loaded.list), 0) << "allocation " << nth;
    EXPECT_GE(RecordsIn(loaded.list), records - 2) << "allocation " << nth;
    EXPECT_LE(RecordsIn(loaded.list), records);
  }

  // In a copy run, a record the reader cannot allocate ends the run.
  DisarmFaults();
  ASSERT_EQ(Run({}), 0);
  const std::string good = ReadFile(snapshot);
  DisarmFaults();
  ArmFault(Operation::kAllocate, 1);
  EXPECT_EQ(Run({"/c"}), -1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadFile(snapshot), good);
}

TEST_F(RunFaults, AListingOrDirectoryChangeThatFailsSkipsOnlyThatDirectory) {
  MakeTree();
  ASSERT_EQ(Run({}), 0);
  const int listings = CallCount(Operation::kFindFirstFile);
  const int entries = CallCount(Operation::kSetCurrentDirectory);
  for (const Operation operation : {Operation::kFindFirstFile, Operation::kSetCurrentDirectory,
                                    Operation::kFindNextFile, Operation::kGetCurrentDirectory}) {
    const int count = operation == Operation::kFindFirstFile ? listings : entries;
    for (int nth = 1; nth <= count; ++nth) {
      DisarmFaults();
      ArmFault(operation, nth);
      ASSERT_EQ(Run({}), 0);
      EXPECT_EQ(out, "");
      DisarmFaults();
      OwnedList loaded;
      EXPECT_EQ(LoadSnapshot(loaded.list), 0);
    }
  }
  // Nothing was moved or lost.
  EXPECT_EQ(ReadFile(user_menu / "Programs" / "Other" / "Other.lnk"), "other");
  EXPECT_TRUE(fs::is_directory(user_menu / "Programs" / "Empty"));
}

}  // namespace
