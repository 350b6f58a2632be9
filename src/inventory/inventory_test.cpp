#include "inventory/inventory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/records.h"

namespace {

std::vector<std::string> Paths(const DirList& list) {
  std::vector<std::string> paths;
  for (const DirRecord* d = list.head; d != nullptr; d = d->next) paths.emplace_back(d->path);
  return paths;
}

std::vector<std::string> Names(const DirRecord& dir) {
  std::vector<std::string> names;
  for (const FileRecord* f = dir.first_file; f != nullptr; f = f->next) names.emplace_back(f->name);
  return names;
}

TEST(FindOrAppendDir, ComparesOnlyTheTailSoARevisitedPathGetsASecondRecord) {
  DirList list{};
  AddFile(list, "A", MakeFile("1"));
  AddFile(list, "B", MakeFile("2"));
  AddFile(list, "A", MakeFile("3"));
  EXPECT_EQ(list.count, 3u);
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"A", "B", "A"}));
  EXPECT_EQ(Names(*list.head), std::vector<std::string>{"1"});
  EXPECT_EQ(Names(*list.tail), std::vector<std::string>{"3"});
}

TEST(FindOrAppendDir, TailMatchIsExactSoCaseVariantsAreDistinct) {
  DirList list{};
  DirRecord* lower = FindOrAppendDir(list, "x/start menu");
  DirRecord* same = FindOrAppendDir(list, "x/start menu");
  DirRecord* upper = FindOrAppendDir(list, "x/Start Menu");
  EXPECT_EQ(lower, same);
  EXPECT_NE(lower, upper);
  EXPECT_EQ(list.count, 2u);
  EXPECT_EQ(list.head, lower);
  EXPECT_EQ(list.tail, upper);
  EXPECT_EQ(lower->next, upper);
  EXPECT_EQ(upper->file_count, 0u);
  EXPECT_EQ(upper->first_file, nullptr);
}

TEST(FindOrAppendDir, RefusesAPathThatDoesNotFitAndLeavesTheListAlone) {
  DirList list{};
  const std::string too_long(kMaxPath, 'a');
  EXPECT_EQ(FindOrAppendDir(list, too_long.c_str()), nullptr);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);

  const std::string longest(kMaxPath - 1, 'b');
  ASSERT_NE(FindOrAppendDir(list, longest.c_str()), nullptr);
  EXPECT_EQ(std::string(list.tail->path), longest);
}

TEST(AppendFile, KeepsChainOrderCountAndResetsNext) {
  DirList list{};
  DirRecord* dir = FindOrAppendDir(list, "D");
  ASSERT_NE(dir, nullptr);
  FileRecord* first = MakeFile("b.lnk");
  FileRecord* second = MakeFile("a.lnk");
  second->next = first;  // stale link from elsewhere must not survive
  AppendFile(*dir, *first);
  AppendFile(*dir, *second);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(dir->file_count, 2u);
  EXPECT_EQ(Names(*dir), (std::vector<std::string>{"b.lnk", "a.lnk"}));
  EXPECT_EQ(dir->last_file, second);
  EXPECT_EQ(second->next, nullptr);
}

TEST(Lookups, MatchFirstRecordIgnoringAsciiCaseOnly) {
  DirList list{};
  AddFile(list, "C:\\Start Menu\\Programs", MakeFile("Tool.LNK"));
  AddFile(list, "C:\\Start Menu\\Other", MakeFile("x"));
  AddFile(list, "C:\\START MENU\\programs", MakeFile("second"));

  DirRecord probe{};
  probe.path = "c:\\start menu\\PROGRAMS";
  EXPECT_EQ(FindDirByPath(list, probe), list.head);

  probe.path = "c:\\start menu\\PROGRAM";
  EXPECT_EQ(FindDirByPath(list, probe), nullptr);

  FileRecord file{};
  file.name = "tool.lnk";
  EXPECT_EQ(FindFileByName(*list.head, file), list.head->first_file);
  file.name = "tool.lnk ";
  EXPECT_EQ(FindFileByName(*list.head, file), nullptr);
}

TEST(Lookups, FoldOnlyAsciiLettersNeverOtherBytes) {
  EXPECT_TRUE(NamesEqualIgnoringCase("ABCXYZ", "abcxyz"));
  // '@' and '[' sit beside 'A' and 'Z'; 0xC4/0xE4 differ by the case bit in
  // Latin-1 but are not ASCII letters.
  EXPECT_FALSE(NamesEqualIgnoringCase("@", "`"));
  EXPECT_FALSE(NamesEqualIgnoringCase("[", "{"));
  EXPECT_FALSE(NamesEqualIgnoringCase("\xC4", "\xE4"));
  EXPECT_FALSE(NamesEqualIgnoringCase("abc", "ab"));
  EXPECT_TRUE(NamesEqualExactly("Ab", "Ab"));
  EXPECT_FALSE(NamesEqualExactly("Ab", "ab"));
}

}  // namespace
