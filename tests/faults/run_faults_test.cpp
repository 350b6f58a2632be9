// Every platform call that can fail, made to fail at a chosen call of a
// whole run, in process: the documented outcome, and nothing lost.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "faults/switchboard.h"
#include "snapshot/snapshot.h"
#include "support/menu_lines.h"
#include "support/records.h"
#include "support/run_program.h"
#include "support/temp_tree.h"
#include "support/tree_state.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cerrno>
#endif

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
    SnapshotList = DirList{};
    CurrentList = DirList{};
    ReleaseAllRecords();
  }

  // One whole run in process; returns its exit status, its output in out.
  int Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> strings{"dravonel"};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    // Every run starts with no records, as a process of its own would: the
    // allocations it makes are then the same from one run to the next.
    SnapshotList = DirList{};
    CurrentList = DirList{};
    ReleaseAllRecords();
    ::testing::internal::CaptureStdout();
    // A failed change of directory can leave the run's process inside the
    // tree, where Windows cannot remove it; a process of its own would end.
    const fs::path current = fs::current_path();
    WatchAllocations(true);
    const int status = RunDravonel(static_cast<int>(strings.size()), argv.data());
    WatchAllocations(false);
    fs::current_path(current);
    out.clear();
    for (char c : ::testing::internal::GetCapturedStdout()) {
      if (c != '\r') out += c;  // a text stream on Windows
    }
    return status;
  }

  // Both Start Menus emptied, the All Users one left with its Programs.
  void ResetTrees() {
    fs::remove_all(user_menu);
    fs::remove_all(all_users);
    fs::create_directories(user_menu);
    fs::create_directories(all_users / "Programs");
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

TEST_F(RunFaults, AFailedCreateWriteOrCloseOfTheSnapshotIsReportedAndLeavesNoSnapshot) {
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
  for (const Fault fault : {Fault{Operation::kCreateFile, creates}, Fault{Operation::kSetEndOfFile, 1},
                            Fault{Operation::kWriteFile, writes}, Fault{Operation::kCloseHandle, closes}}) {
    for (int nth = 1; nth <= fault.count; ++nth) {
      // An earlier snapshot is there; a failed save must not leave it to be
      // mistaken for this one, nor leave half of the new one.
      WriteFile(snapshot, good);
      DisarmFaults();
      ArmFault(fault.operation, nth);
      EXPECT_EQ(Run({}), -1);
      EXPECT_EQ(out, "Cannot save " + snapshot.string() + ": " + ErrorText(ERROR_ACCESS_DENIED) + "\n");
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
    DWORD error;
    std::string out;
  };
  // Only a snapshot another run holds is worth a line: it is whole, and
  // this run stops to leave it to the other.
  const std::string held = "Cannot read " + snapshot.string() + ": " + ErrorText(ERROR_SHARING_VIOLATION) + "\n";
  for (const Fault& fault : {Fault{Operation::kCreateFile, ERROR_ACCESS_DENIED, ""},
                             Fault{Operation::kCreateFile, ERROR_SHARING_VIOLATION, held},
                             Fault{Operation::kReadFile, ERROR_ACCESS_DENIED, ""},
                             Fault{Operation::kGetFileSize, ERROR_ACCESS_DENIED, ""}}) {
    SCOPED_TRACE("operation " + std::to_string(static_cast<int>(fault.operation)));
    DisarmFaults();
    ArmFault(fault.operation, 1, fault.error);
    EXPECT_EQ(Run({"/c"}), -1);
    EXPECT_EQ(out, fault.out);
    EXPECT_EQ(ReadFile(snapshot), good);
    EXPECT_EQ(ReadFile(user_menu / "Programs" / "Tool" / "New.lnk"), "new");
    EXPECT_TRUE(fs::is_empty(all_users / "Programs"));
  }
}

// The copy run holds the snapshot from its load to its delete, and deletes
// the file it holds, nothing else: on Windows no one can replace it
// meanwhile; on POSIX a file put in its place is not the run's to delete.
TEST_F(RunFaults, TheCopyRunDeletesTheSnapshotItHoldsAndNothingPutInItsPlace) {
  ASSERT_EQ(Run({}), 0);
  WriteFile(user_menu / "A.lnk", "a");
  ArmTreeChange(Operation::kRunGrantCommand, 1, TreeChange::kMakeFile, snapshot.string());
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(ReadFile(all_users / "A.lnk"), "a");
#ifdef _WIN32
  EXPECT_FALSE(fs::exists(snapshot));
#else
  EXPECT_EQ(ReadFile(snapshot), "changed");
#endif
}

TEST_F(RunFaults, AFailedMoveIsNamedLeavesTheSourceAndTheNamesakeAndARerunFinishes) {
  fs::create_directories(user_menu / "Programs");
  WriteFile(user_menu / "Help.lnk", "old help");
  SetWriteTime(user_menu / "Help.lnk", UtcSeconds(2020, 1, 1));
  ASSERT_EQ(Run({}), 0);

  WriteFile(user_menu / "Help.lnk", "new help");
  SetWriteTime(user_menu / "Help.lnk", UtcSeconds(2021, 1, 1));
  WriteFile(all_users / "Help.lnk", "shared help");
  WriteFile(user_menu / "Programs" / "Tool" / "Tool.lnk", "tool");
  const std::string saved = ReadFile(snapshot);

  ArmFault(Operation::kMoveFile, 1);
  ArmFault(Operation::kMoveFolder, 1, ERROR_IO_DEVICE);
  // A look that fails after a failed move must not make its source seem
  // gone: the move's own answer says it failed.
  ArmFault(Operation::kGetFileAttributes, 1, ERROR_IO_DEVICE);
  EXPECT_EQ(Run({"/c"}), -1);
  // Each item's line, and the move's own reason; no grant.
  const std::string help = user_menu.string() + Sep() + "Help.lnk";
  const std::string tool = PathBelow(user_menu.string(), "Programs/Tool");
  EXPECT_EQ(out, MovingFileLine(help, PathBelow(all_users.string(), "Help.lnk")) + "Cannot move " + help + ": " +
                     ErrorText(ERROR_ACCESS_DENIED) + "\n" +
                     MovingDirLine(tool, PathBelow(all_users.string(), "Programs/Tool")) + "Cannot move " + tool +
                     ": " + ErrorText(ERROR_IO_DEVICE) + "\n");
  EXPECT_EQ(ReadFile(user_menu / "Help.lnk"), "new help");
  EXPECT_EQ(ReadFile(all_users / "Help.lnk"), "shared help");
  EXPECT_EQ(ReadFile(user_menu / "Programs" / "Tool" / "Tool.lnk"), "tool");
  EXPECT_FALSE(fs::exists(all_users / "Programs" / "Tool"));
  EXPECT_EQ(ReadFile(snapshot), saved);

  DisarmFaults();
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(ReadFile(all_users / "Help.lnk"), "new help");
  EXPECT_EQ(ReadFile(all_users / "Programs" / "Tool" / "Tool.lnk"), "tool");
  EXPECT_FALSE(fs::exists(snapshot));
}

// What arrived but was not finished: a grant that failed, a name a move
// left behind, a snapshot that would not go. Each is named, the run goes
// on and ends with -1; a rerun would find nothing to carry over.
TEST_F(RunFaults, AFailedGrantOrCleanupIsNamedAndTheRunGoesOn) {
  struct Row {
    Operation operation;
    bool snapshot_stays;
  };
  for (const Row row : {Row{Operation::kRunGrantCommand, false}, Row{Operation::kLeftover, false},
                        Row{Operation::kDeleteHeldFile, true}}) {
    SCOPED_TRACE(static_cast<int>(row.operation));
    DisarmFaults();
    ResetTrees();
    ASSERT_EQ(Run({}), 0);
    WriteFile(user_menu / "A.lnk", "a");
    WriteFile(user_menu / "B.lnk", "b");
    ArmFault(row.operation, 1);
    EXPECT_EQ(Run({"/c"}), -1);
    const std::string a = PathBelow(all_users.string(), "A.lnk");
    const std::string b = PathBelow(all_users.string(), "B.lnk");
    const std::string reason = ": " + ErrorText(ERROR_ACCESS_DENIED) + "\n";
    std::string lines = MovingFileLine(PathBelow(user_menu.string(), "A.lnk"), a);
    if (row.operation == Operation::kLeftover) lines += "Cannot delete " + a + ".dravonel-keep-test" + reason;
    lines += ExecLine(a);
    if (row.operation == Operation::kRunGrantCommand) lines += "Cannot grant " + a + reason;
    lines += MovingFileLine(PathBelow(user_menu.string(), "B.lnk"), b) + ExecLine(b);
    if (row.operation == Operation::kDeleteHeldFile) lines += "Cannot delete " + snapshot.string() + reason;
    EXPECT_EQ(out, lines);
    EXPECT_EQ(CallCount(Operation::kRunGrantCommand), 2);
    EXPECT_EQ(ReadFile(all_users / "A.lnk"), "a");
    EXPECT_EQ(ReadFile(all_users / "B.lnk"), "b");
    EXPECT_FALSE(fs::exists(user_menu / "A.lnk"));
    EXPECT_FALSE(fs::exists(user_menu / "B.lnk"));
    EXPECT_EQ(fs::exists(snapshot), row.snapshot_stays);
  }
}

TEST_F(RunFaults, AFailedAllocationOfTheScanIsReportedAndLeavesNoSnapshot) {
  MakeTree();
  // Records enough for more than one block of them: a block the heap
  // refuses then strikes in the middle of the scan, and of the load.
  for (int i = 0; i < 400; ++i) WriteFile(user_menu / "Programs" / "Many" / ("Item " + std::to_string(i)), "");
  ASSERT_EQ(Run({}), 0);
  const std::string good = ReadFile(snapshot);
  const int allocations = CallCount(Operation::kAllocate);
  ASSERT_GE(allocations, 2);

  // Records, and on POSIX a listing's own memory: one line names what was
  // not read, and no picture short of it is kept.
  const std::string unread = "Cannot read " + user_menu.string();
  const std::string reason = ": " + ErrorText(ERROR_NOT_ENOUGH_MEMORY) + "\n";
  for (int nth = 1; nth <= allocations; ++nth) {
    WriteFile(snapshot, good);
    DisarmFaults();
    ArmFault(Operation::kAllocate, nth);
    ASSERT_EQ(Run({}), -1) << "allocation " << nth;
    EXPECT_EQ(out.rfind(unread, 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    EXPECT_EQ(out.substr(out.size() - reason.size()), reason);
    EXPECT_FALSE(fs::exists(snapshot));
  }

  // In a copy run, a record the reader cannot allocate ends the run: the
  // load's records take two blocks, so the second fails in its middle.
  for (int nth = 1; nth <= 2; ++nth) {
    WriteFile(snapshot, good);
    DisarmFaults();
    ArmFault(Operation::kAllocate, nth);
    EXPECT_EQ(Run({"/c"}), -1) << "allocation " << nth;
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadFile(snapshot), good);
  }
}

// Each way of failing to read the tree, in both runs: the line naming
// what could not be read, -1, and no snapshot taken, or the snapshot kept
// while what was found is carried over, so that a rerun finishes the job.
TEST_F(RunFaults, AScanThatCannotReadEverythingIsReportedAndNeverTrusted) {
  const std::string programs = PathBelow(user_menu.string(), "Programs");
  struct Row {
    Operation operation;
    int nth;
    DWORD error;
    std::string unread;
  };
  const std::vector<Row> rows = {
      // The scan opens the root, lists it, then opens Programs from it.
      {Operation::kOpenFolder, 1, ERROR_ACCESS_DENIED, user_menu.string()},
      {Operation::kOpenFolder, 2, ERROR_IO_DEVICE, programs},
      {Operation::kListFolder, 1, ERROR_IO_DEVICE, user_menu.string()},
      {Operation::kListFolder, 2, ERROR_ACCESS_DENIED, programs},
      {Operation::kNextFolderEntry, 1, ERROR_IO_DEVICE, user_menu.string()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.unread + " " + std::to_string(row.nth));
    const std::string line = "Cannot read " + row.unread + ": " + ErrorText(row.error) + "\n";
    DisarmFaults();
    ResetTrees();
    MakeTree();
    ASSERT_EQ(Run({}), 0);
    const std::string good = ReadFile(snapshot);
    ArmFault(row.operation, row.nth, row.error);
    EXPECT_EQ(Run({}), -1);
    EXPECT_EQ(out, line);
    EXPECT_FALSE(fs::exists(snapshot));

    WriteFile(snapshot, good);
    fs::create_directories(all_users / "Programs" / "Tool");
    WriteFile(user_menu / "New.lnk", "new");
    WriteFile(user_menu / "Programs" / "Tool" / "New.lnk", "tool new");
    const TreeContents user_before = ReadTreeContents(user_menu);
    const TreeContents all_users_before = ReadTreeContents(all_users);
    // A preview of it fails as the copy run does, and changes nothing.
    DisarmFaults();
    ArmFault(row.operation, row.nth, row.error);
    EXPECT_EQ(Run({"/l"}), -1);
    EXPECT_EQ(out.rfind(line, 0), 0u) << out;
    EXPECT_EQ(ReadTreeContents(user_menu), user_before);
    EXPECT_EQ(ReadFile(snapshot), good);
    DisarmFaults();
    ArmFault(row.operation, row.nth, row.error);
    EXPECT_EQ(Run({"/c"}), -1);
    EXPECT_EQ(out.rfind(line, 0), 0u) << out;
    EXPECT_EQ(ReadFile(snapshot), good);
    EXPECT_EQ(FindLostOrDuplicated(user_before, all_users_before, ReadTreeContents(user_menu),
                                   ReadTreeContents(all_users)), "");
    DisarmFaults();
    EXPECT_EQ(Run({"/c"}), 0);
    EXPECT_FALSE(fs::exists(snapshot));
    EXPECT_EQ(ReadFile(all_users / "New.lnk"), "new");
    EXPECT_EQ(ReadFile(all_users / "Programs" / "Tool" / "New.lnk"), "tool new");
  }

  // A folder gone, or become a file, after its listing is not there: no
  // error. Nor is one that became a link: the scan never follows it out
  // of the tree, and records nothing of what lies there.
  const fs::path outside = dir.path() / "outside";
  WriteFile(outside / "Outside.lnk", "outside");
  for (const TreeChange change : {TreeChange::kRemove, TreeChange::kMakeFile, TreeChange::kMakeLink}) {
#ifdef _WIN32
    if (change == TreeChange::kMakeLink) continue;  // no links for an ordinary user under Wine
#endif
    DisarmFaults();
    ResetTrees();
    MakeTree();
    ArmTreeChange(Operation::kOpenFolder, 2, change, programs, outside.string());
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(fs::exists(snapshot));
    EXPECT_EQ(ReadFile(snapshot).find("Outside.lnk"), std::string::npos);
  }
}

// Entries that vanish or change kind between the scan and their move, as
// another process could make them: each is left to the move, which fails
// or moves what is there now, and nothing else is disturbed.
class TreeChanges : public RunFaults {
 protected:
  // After a snapshot of an empty Programs: three new files in it and two
  // new folders. The first file is the first MoveFileExA, the first
  // folder the first MoveFileA.
  void MakeNewItems() {
    ResetTrees();
    fs::create_directories(user_menu / "Programs");
    ASSERT_EQ(Run({}), 0);
    for (const char* name : {"A.lnk", "B.lnk", "C.lnk"}) WriteFile(user_menu / "Programs" / name, name);
    WriteFile(user_menu / "Programs" / "D" / "d.lnk", "d");
    WriteFile(user_menu / "Programs" / "E" / "e.lnk", "e");
  }

  std::string User(const std::string& relative) const { return PathBelow(user_menu.string(), relative); }
  std::string AllUsers(const std::string& relative) const { return PathBelow(all_users.string(), relative); }

  // The lines of an item whose move failed, or succeeded and was granted.
  std::string Unmoved(const std::string& relative, bool folder) const {
    return folder ? MovingDirLine(User(relative), AllUsers(relative))
                  : MovingFileLine(User(relative), AllUsers(relative));
  }
  std::string Moved(const std::string& relative, bool folder) const {
    return Unmoved(relative, folder) + ExecLine(AllUsers(relative));
  }

  // B, C and E always go; A and D as the case says.
  std::string Lines(const std::string& a, const std::string& d) const {
    return a + Moved("Programs/B.lnk", false) + Moved("Programs/C.lnk", false) + d + Moved("Programs/E", true);
  }
  void ExpectTheOthersMoved(bool snapshot_kept = false) const {
    EXPECT_EQ(ReadFile(AllUsers("Programs/B.lnk")), "B.lnk");
    EXPECT_EQ(ReadFile(AllUsers("Programs/C.lnk")), "C.lnk");
    EXPECT_EQ(ReadFile(AllUsers("Programs/E/e.lnk")), "e");
    EXPECT_EQ(fs::exists(snapshot), snapshot_kept);
  }
};

TEST_F(TreeChanges, AFileOrFolderGoneBeforeItsMoveIsTriedAndTheRestGoes) {
  struct Row {
    Operation move;
    std::string gone;
  };
  for (const Row& row : {Row{Operation::kMoveFile, "Programs/A.lnk"}, Row{Operation::kMoveFolder, "Programs/D"}}) {
    SCOPED_TRACE(row.gone);
    DisarmFaults();
    MakeNewItems();
    ArmTreeChange(row.move, 1, TreeChange::kRemove, User(row.gone));
    EXPECT_EQ(Run({"/c"}), 0);
    const auto lines = [&](const std::string& item, bool folder) {
      return item == row.gone ? Unmoved(item, folder) : Moved(item, folder);
    };
    EXPECT_EQ(out, Lines(lines("Programs/A.lnk", false), lines("Programs/D", true)));
    EXPECT_FALSE(fs::exists(AllUsers(row.gone)));
    ExpectTheOthersMoved();
  }
}

TEST_F(TreeChanges, ItemsThatChangedKindAreMovedAsWhatTheyAreNowOrLeftAlone) {
  MakeNewItems();
  ArmTreeChange(Operation::kMoveFolder, 1, TreeChange::kMakeFile, User("Programs/D"));
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(out, Lines(Moved("Programs/A.lnk", false), Moved("Programs/D", true)));
  EXPECT_EQ(ReadFile(AllUsers("Programs/D")), "changed");
  EXPECT_FALSE(fs::exists(User("Programs/D")));
  ExpectTheOthersMoved();

  DisarmFaults();
  MakeNewItems();
  ArmTreeChange(Operation::kMoveFile, 1, TreeChange::kMakeFolder, User("Programs/A.lnk"));
  const int status = Run({"/c"});
#ifdef _WIN32
  // Windows moves a folder that replaces nothing, whatever the flag says.
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, Lines(Moved("Programs/A.lnk", false), Moved("Programs/D", true)));
  EXPECT_TRUE(fs::is_directory(AllUsers("Programs/A.lnk")));
  EXPECT_FALSE(fs::exists(User("Programs/A.lnk")));
  ExpectTheOthersMoved();
#else
  // The POSIX layer never moves a folder in a file's place: it stays,
  // named, for a rerun.
  EXPECT_EQ(status, -1);
  EXPECT_EQ(out, Lines(Unmoved("Programs/A.lnk", false) + "Cannot move " + User("Programs/A.lnk") + ": " +
                           ErrorText(kErrnoErrorBit | EISDIR) + "\n",
                       Moved("Programs/D", true)));
  EXPECT_TRUE(fs::is_directory(User("Programs/A.lnk")));
  EXPECT_FALSE(fs::exists(AllUsers("Programs/A.lnk")));
  ExpectTheOthersMoved(true);
#endif
}

#ifndef _WIN32
TEST_F(TreeChanges, ItemsSwappedForLinksOutOfTheTreeMoveAsLinksAndLendNothingTheGrant) {
  const fs::path outside = dir.path() / "outside";
  WriteFile(outside / "secret", "secret");
  WriteFile(outside / "folder" / "inner", "inner");
  fs::permissions(outside / "secret", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(outside / "folder", fs::perms::owner_all);
  fs::permissions(outside / "folder" / "inner", fs::perms::owner_read | fs::perms::owner_write);
  MakeNewItems();
  ArmTreeChange(Operation::kMoveFile, 1, TreeChange::kMakeLink, User("Programs/A.lnk"), (outside / "secret").string());
  ArmTreeChange(Operation::kMoveFolder, 1, TreeChange::kMakeLink, User("Programs/D"), (outside / "folder").string());
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(out, Lines(Moved("Programs/A.lnk", false), Moved("Programs/D", true)));
  EXPECT_TRUE(fs::is_symlink(AllUsers("Programs/A.lnk")));
  EXPECT_TRUE(fs::is_symlink(AllUsers("Programs/D")));
  EXPECT_EQ(Mode(outside / "secret"), 0600u);
  EXPECT_EQ(Mode(outside / "folder"), 0700u);
  EXPECT_EQ(Mode(outside / "folder" / "inner"), 0600u);
  EXPECT_EQ(ReadFile(outside / "secret"), "secret");
  ExpectTheOthersMoved();
}

TEST_F(TreeChanges, AFolderSwappedForALinkOutOfTheTreeLetsNothingOut) {
  // Outside: files and folders named as the new items, one readable by
  // its owner alone.
  const fs::path outside = dir.path() / "outside";
  for (const char* name : {"A.lnk", "B.lnk", "C.lnk"}) WriteFile(outside / name, std::string("outside ") + name);
  WriteFile(outside / "D" / "d.lnk", "outside d");
  WriteFile(outside / "E" / "e.lnk", "outside e");
  fs::permissions(outside / "A.lnk", fs::perms::owner_read | fs::perms::owner_write);
  const TreeContents before = ReadTreeContents(outside);
  MakeNewItems();
  // After the scan, before the first move: Programs is a link out.
  ArmTreeChange(Operation::kMoveFile, 1, TreeChange::kMakeLink, User("Programs"), outside.string());
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(out, Unmoved("Programs/A.lnk", false) + Unmoved("Programs/B.lnk", false) +
                     Unmoved("Programs/C.lnk", false) + Unmoved("Programs/D", true) + Unmoved("Programs/E", true));
  EXPECT_EQ(ReadTreeContents(outside), before);
  EXPECT_EQ(ListTree(all_users), "Programs/\n");
  EXPECT_EQ(Mode(outside / "A.lnk"), 0600u);

  // The Start Menu itself swapped for a link out, between the scan and the
  // first move: the run goes on in the folder it holds.
  DisarmFaults();
  MakeNewItems();
  ArmTreeChange(Operation::kMoveFile, 1, TreeChange::kMoveAsideForLink, user_menu.string(), outside.string());
  EXPECT_EQ(Run({"/c"}), 0);
  EXPECT_EQ(out, Lines(Moved("Programs/A.lnk", false), Moved("Programs/D", true)));
  ExpectTheOthersMoved();
  EXPECT_EQ(ReadFile(AllUsers("Programs/A.lnk")), "A.lnk");
  EXPECT_EQ(ReadFile(AllUsers("Programs/D/d.lnk")), "d");
  EXPECT_EQ(ListTree(user_menu.string() + " (aside)"), "Programs/\n");
  EXPECT_EQ(ReadTreeContents(outside), before);
  EXPECT_EQ(Mode(outside / "A.lnk"), 0600u);
}
#endif

// Every call of every platform operation in a whole round, made to fail
// one at a time: nothing is lost, and what is left undone ends the run
// with -1.
class FaultSweep : public RunFaults {
 protected:
  // After a snapshot: a newer file with a namesake under All Users, a new
  // file, a new folder and a new file in the root.
  void PrepareRound() {
    ResetTrees();
    WriteFile(user_menu / "Help.lnk", "help");
    WriteFile(user_menu / "Programs" / "Tool" / "Tool.lnk", "tool 1");
    SetWriteTime(user_menu / "Programs" / "Tool" / "Tool.lnk", UtcSeconds(2020, 1, 1));
    WriteFile(user_menu / "Programs" / "Other" / "Other.lnk", "other");
    WriteFile(all_users / "Programs" / "Tool" / "Tool.lnk", "shared tool");
    ASSERT_EQ(Run({}), 0);
    WriteFile(user_menu / "Programs" / "Tool" / "Tool.lnk", "tool 2");
    SetWriteTime(user_menu / "Programs" / "Tool" / "Tool.lnk", UtcSeconds(2021, 1, 1));
    WriteFile(user_menu / "Programs" / "Tool" / "New.lnk", "new");
    WriteFile(user_menu / "Programs" / "Fresh" / "Fresh.lnk", "fresh");
    WriteFile(user_menu / "Root.lnk", "root");
  }

  // Calls of each operation in a fault-free copy run.
  std::vector<int> CountCalls() {
    PrepareRound();
    DisarmFaults();
    SkipGrantCommands(true);
    EXPECT_EQ(Run({"/c"}), 0);
    return CallsSoFar();
  }

  static std::vector<int> CallsSoFar() {
    std::vector<int> calls;
    for (int op = 0; op < static_cast<int>(Operation::kCount); ++op) calls.push_back(CallCount(static_cast<Operation>(op)));
    return calls;
  }
};

// The line a failure of each operation must leave, when it is one a copy
// run's output names; null for the others.
const char* LineOfAFailed(Operation operation) {
  switch (operation) {
    case Operation::kMoveFolder:
    case Operation::kMoveFile: return "Cannot move ";
    case Operation::kRunGrantCommand: return "Cannot grant ";
    case Operation::kLeftover:
    case Operation::kDeleteHeldFile: return "Cannot delete ";
    default: return nullptr;
  }
}

TEST_F(FaultSweep, EveryCallOfACopyRunMadeToFailLosesNothing) {
  const std::vector<int> calls = CountCalls();
  // The undisturbed outcome.
  const TreeContents user_after = ReadTreeContents(user_menu);
  const TreeContents all_users_after = ReadTreeContents(all_users);
  const int grants = calls[static_cast<std::size_t>(Operation::kRunGrantCommand)];
  int tried = 0;
  int losing = 0;
  int reruns = 0;
  for (int op = 0; op < static_cast<int>(Operation::kCount); ++op) {
    const Operation operation = static_cast<Operation>(op);
    for (int nth = 1; nth <= calls[static_cast<std::size_t>(op)]; ++nth) {
      SCOPED_TRACE("operation " + std::to_string(op) + " call " + std::to_string(nth));
      DisarmFaults();
      PrepareRound();
      const TreeContents user_before = ReadTreeContents(user_menu);
      const TreeContents all_users_before = ReadTreeContents(all_users);
      const std::string saved = ReadFile(snapshot);
      DisarmFaults();
      SkipGrantCommands(true);
      ArmFault(operation, nth);
      const int status = Run({"/c"});
      ++tried;
      // Every failed move, grant or cleanup is on a line of its own.
      if (const char* line = LineOfAFailed(operation)) {
        EXPECT_EQ(status, -1);
        EXPECT_NE(out.find(line), std::string::npos) << out;
      }
      const std::string problems = FindLostOrDuplicated(user_before, all_users_before, ReadTreeContents(user_menu),
                                                        ReadTreeContents(all_users));
      EXPECT_EQ(problems, "");
      if (!problems.empty()) ++losing;
      // A time that could not be converted is a decision (such a file is
      // not taken for newer), not a failure: the run did what it set out to.
      if (operation == Operation::kFileTimeToSystemTime) continue;
      // 0: everything arrived and was granted, and nothing was left behind.
      if (status == 0) {
        EXPECT_EQ(ReadTreeContents(user_menu), user_after);
        EXPECT_EQ(ReadTreeContents(all_users), all_users_after);
        EXPECT_EQ(CallCount(Operation::kRunGrantCommand), grants);
        EXPECT_FALSE(fs::exists(snapshot));
      }
      // Something left to carry over keeps the snapshot, and a rerun
      // carries over exactly that.
      if (ReadTreeContents(user_menu) != user_after) {
        EXPECT_EQ(status, -1);
        EXPECT_EQ(ReadFile(snapshot), saved);
        DisarmFaults();
        SkipGrantCommands(true);
        EXPECT_EQ(Run({"/c"}), 0) << out;
        EXPECT_EQ(ReadTreeContents(user_menu), user_after);
        EXPECT_EQ(ReadTreeContents(all_users), all_users_after);
        EXPECT_FALSE(fs::exists(snapshot));
        ++reruns;
      }
    }
  }
  std::printf("[ figures  ] %d faults tried, one per call of each operation in a copy run; %d lost an item; "
              "%d left items for a rerun, which finished\n",
              tried, losing, reruns);
}

TEST_F(FaultSweep, EveryCallOfASnapshotRunMadeToFailLeavesTheWholeSnapshotOrNone) {
  MakeTree();
  DisarmFaults();
  ASSERT_EQ(Run({}), 0);
  const std::string good = ReadFile(snapshot);
  const std::vector<int> calls = CallsSoFar();
  const TreeContents tree = ReadTreeContents(user_menu);
  int tried = 0;
  int whole = 0;
  for (int op = 0; op < static_cast<int>(Operation::kCount); ++op) {
    for (int nth = 1; nth <= calls[static_cast<std::size_t>(op)]; ++nth) {
      SCOPED_TRACE("operation " + std::to_string(op) + " call " + std::to_string(nth));
      DisarmFaults();
      ArmFault(static_cast<Operation>(op), nth);
      const int status = Run({});
      ++tried;
      DisarmFaults();
      // A snapshot left is the one an undisturbed run takes, but for a time
      // that failed to convert, which is kept as not valid.
      if (fs::exists(snapshot)) {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, "");
        if (op != static_cast<int>(Operation::kFileTimeToSystemTime)) {
          EXPECT_EQ(ReadFile(snapshot), good);
        }
        ++whole;
      } else {
        EXPECT_EQ(status, -1);
        EXPECT_NE(out, "");
      }
      EXPECT_EQ(ReadTreeContents(user_menu), tree);
    }
  }
  std::printf("[ figures  ] %d faults tried, one per call of each operation in a snapshot run: %d whole, %d none\n",
              tried, whole, tried - whole);
}

}  // namespace
