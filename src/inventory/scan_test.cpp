#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/inventory.h"
#include "support/records.h"
#include "support/start_menus.h"
#include "support/file_time.h"
#include "support/inventory_image.h"
#include "support/temp_tree.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// The scan's result with the root cut off each path: one line per
// directory, "<dir>: name name ...", the root's as ".".
std::string Outline(const DirList& list, const std::string& root) {
  std::string text;
  for (const DirRecord* d = list.head; d != nullptr; d = d->next) {
    std::string path = d->path;
    if (path.compare(0, root.size(), root) != 0) return "path outside the root: " + path;
    path = path.size() == root.size() ? "." : path.substr(root.size() + 1);
    text += path + ":";
    for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) text += std::string(" ") + f->name;
    text += "\n";
  }
  if (!CountsMatchLinks(list)) text += "counts disagree with links\n";
  return text;
}

std::string ScanOutline(const std::string& root) {
  DirList list{};
  const HeldMenu menu(root);
  ScanDirectory(list, menu.root);
  return Outline(list, root);
}

WIN32_FIND_DATAA Entry(const char* name, DWORD attributes) {
  WIN32_FIND_DATAA entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwFileAttributes = attributes;
  std::strcpy(entry.cFileName, name);
  return entry;
}

TEST(ScanDirectory, EmptyOrMissingRootLeavesTheListEmpty) {
  TempDir root;
  EXPECT_EQ(ScanOutline(root.str()), "");
  EXPECT_EQ(ScanOutline(root.str() + Sep() + "missing"), "");
  // A file where the root should be cannot be entered either.
  WriteFile(root.path() / "plain", "x");
  EXPECT_EQ(ScanOutline(root.str() + Sep() + "plain"), "");
}

TEST(ScanDirectory, RootWithOnlySubdirectoriesStartsWithTheFirstOne) {
  TempDir root;
  fs::create_directories(root.path() / "A");
  WriteFile(root.path() / "B" / "f.lnk", "");
  EXPECT_EQ(ScanOutline(root.str()), "A:\nB: f.lnk\n");
}

TEST(ScanDirectory, DepthFirstPreOrderEachDirectoryWithOnlyItsOwnFiles) {
  TempDir root;
  const fs::path& r = root.path();
  WriteFile(r / "A" / "a.lnk", "");
  WriteFile(r / "A" / "B" / "README", "");  // no dot: "*.*" still lists it
  fs::create_directories(r / "A" / "B" / "C");
  WriteFile(r / "A" / "d" / "x.lnk", "");
  WriteFile(r / "E" / "e.lnk", "");
  const std::string s = Sep();
  const std::string tree = "A: a.lnk\nA" + s + "B: README\nA" + s + "B" + s + "C:\nA" + s + "d: x.lnk\nE: e.lnk\n";
  // Without a file of its own the root has no record.
  EXPECT_EQ(ScanOutline(root.str()), tree);

  // Siblings come in listing order: by name with ASCII case folded.
  WriteFile(r / "b.lnk", "");
  WriteFile(r / "A.lnk", "");
  EXPECT_EQ(ScanOutline(root.str()), ".: A.lnk b.lnk\n" + tree);
}

TEST(ScanDirectory, RecordsTheUtcWriteTimeWithDayOfWeekAndMilliseconds) {
  TempDir root;
  WriteFile(root.path() / "t.lnk", "");
  ASSERT_TRUE(SetExactWriteTime(root.str() + Sep() + "t.lnk", UtcSeconds(2021, 3, 4, 5, 6, 7), 890'000'000));
  WriteFile(root.path() / "u.lnk", "");
  ASSERT_TRUE(SetExactWriteTime(root.str() + Sep() + "u.lnk", UtcSeconds(1950, 6, 15, 23, 59, 59), 999'999'900));
  DirList list{};
  const HeldMenu menu(root.str());
  ScanDirectory(list, menu.root);
  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(DescribeSnapshotImage(ImageOfList(list)),
            "dir " + root.str() + "\n" +
                "  file t.lnk valid 1: 2021-03-04 (day 4) 05:06:07.890\n"
                "  file u.lnk valid 1: 1950-06-15 (day 4) 23:59:59.999\n");
}

TEST(ScanDirectory, HiddenAndSystemEntriesAreTaken) {
  TempDir root;
#ifdef _WIN32
  WriteFile(root.path() / "H" / "s.lnk", "");
  WriteFile(root.path() / "h.lnk", "");
  ASSERT_TRUE(SetFileAttributesA((root.str() + "\\H").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA((root.str() + "\\H\\s.lnk").c_str(), FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA((root.str() + "\\h.lnk").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(ScanOutline(root.str()), ".: h.lnk\nH: s.lnk\n");
#else
  WriteFile(root.path() / ".H" / ".s", "");
  WriteFile(root.path() / ".h", "");
  EXPECT_EQ(ScanOutline(root.str()), ".: .h\n.H: .s\n");
#endif
}

TEST(ScanDirectory, NeverChangesTheCurrentDirectoryAndLetsGoOfEveryFolder) {
  TempDir elsewhere;
  TempDir root;
  const InDirectory in(elsewhere.path());
  WriteFile(root.path() / "menu" / "A" / "B" / "b.lnk", "");
  const std::string menu = root.str() + Sep() + "menu";
  const std::string s = Sep();
  EXPECT_EQ(ScanOutline(menu), "A:\nA" + s + "B: b.lnk\n");
  EXPECT_EQ(fs::current_path(), elsewhere.path());

  // B was the last directory scanned. Windows refuses to move a directory
  // that a process holds open, or that is its current directory.
  const std::string b = menu + s + "A" + s + "B";
  std::error_code error;
  fs::rename(b, root.str() + s + "B moved", error);
  EXPECT_FALSE(error) << error.message();
  fs::rename(menu, root.str() + s + "menu moved", error);
  EXPECT_FALSE(error) << error.message();
}

TEST(ScanDirectory, RelativeRootResolvesFromTheCurrentDirectoryAtEveryDepth) {
  TempDir root;
  const InDirectory in(root.path());
  WriteFile(root.path() / "menu" / "r.lnk", "");
  WriteFile(root.path() / "menu" / "A" / "B" / "b.lnk", "");
  const std::string s = Sep();
  EXPECT_EQ(ScanOutline("menu"), ".: r.lnk\nA:\nA" + s + "B: b.lnk\n");
  EXPECT_EQ(fs::current_path(), root.path());
}

#ifndef _WIN32
TEST(ScanDirectory, SymbolicLinkIsRecordedAsItselfAndNeverFollowed) {
  TempDir root;
  WriteFile(root.path() / "A" / "a.lnk", "");
  ASSERT_EQ(symlink(root.str().c_str(), (root.str() + "/A/loop").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere", (root.str() + "/dangling").c_str()), 0);
  EXPECT_EQ(ScanOutline(root.str()), ".: dangling\nA: a.lnk loop\n");
}
#endif

TEST(AddFileEntry, TakesFilesOnlyAndKeepsATimeThatCannotBeConvertedAsNotValid) {
  DirList list{};
  AddFileEntry(list, Entry("sub", FILE_ATTRIBUTE_DIRECTORY), "D");
  EXPECT_EQ(list.count, 0u);

  // A write time before 1601 comes as a value with the top bit set.
  WIN32_FIND_DATAA old = Entry("old.lnk", FILE_ATTRIBUTE_NORMAL);
  old.ftLastWriteTime = FILETIME{0, 0x80000000u};
  AddFileEntry(list, old, "D");
  // 1601-01-01 00:00:00.000 itself is a Monday.
  AddFileEntry(list, Entry("first.lnk", FILE_ATTRIBUTE_NORMAL), "D");
  EXPECT_EQ(DescribeSnapshotImage(ImageOfList(list)),
            "dir D\n"
            "  file old.lnk valid 0: 0000-00-00 (day 0) 00:00:00.000\n"
            "  file first.lnk valid 1: 1601-01-01 (day 1) 00:00:00.000\n");
}

#ifndef _WIN32
// Windows has no "..." folder: it drops trailing dots from a name.
TEST(ScanDirectory, PassesOverDotAndDotDotExactlyButNotNamesThatBeginLikeThem) {
  TempDir root;
  fs::create_directories(root.path() / "..." / ".x");
  WriteFile(root.path() / "..." / "in.lnk", "");
  EXPECT_EQ(ScanOutline(root.str()), "...: in.lnk\n.../.x:\n");
}
#endif

TEST(ScanDirectory, RecordsADirectoryLinkButNeverEntersIt) {
  TempDir root;
  WriteFile(root.path() / "L" / "inside.lnk", "");
  const std::string s = Sep();
  // A real link back up the tree, where the system lets the test make one.
  const std::string up = root.str() + s + "L" + s + "up";
#ifdef _WIN32
  // Wine answers success without making one.
  if (!CreateSymbolicLinkA(up.c_str(), root.str().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
      GetFileAttributesA(up.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "cannot make a directory link here";
  }
  const std::string expected = "L: inside.lnk\nL" + s + "up:\n";  // a directory, recorded, not entered
#else
  ASSERT_EQ(symlink(root.str().c_str(), up.c_str()), 0);
  const std::string expected = "L: inside.lnk up\n";  // listed as what it is: not a directory
#endif
  EXPECT_EQ(ScanOutline(root.str()), expected);
}

TEST(ScanDirectory, SkipsAChildPathThatDoesNotFitAPathBuffer) {
  TempDir root;
  // A parent of 250 bytes: with the separator, a child of 9 bytes makes
  // 260, no room for the terminator; one of 8 bytes fits.
  const std::size_t padding = 250 - root.str().size() - 1;
  const fs::path parent = root.path() / std::string(padding, 'p');
  std::error_code error;
  fs::create_directories(parent / "123456789", error);
  fs::create_directories(parent / "12345678", error);
  if (error || !fs::is_directory(parent / "123456789")) GTEST_SKIP() << "cannot make a path that long here";
  DirList list{};
  // Left out with a line; the scan is whole all the same.
  testing::internal::CaptureStdout();
  const HeldMenu menu(parent.string());
  EXPECT_EQ(ScanDirectory(list, menu.root), 1);
  std::string line = testing::internal::GetCapturedStdout();
  std::erase(line, '\r');
  EXPECT_EQ(line, "Skipping Dir " + (parent / "123456789").string() + ": path too long\n");
  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(std::strlen(list.head->path), kMaxPath - 1);
  EXPECT_EQ(Outline(list, parent.string()), "12345678:\n");
}

}  // namespace
