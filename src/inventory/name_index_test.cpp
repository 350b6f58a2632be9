#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "inventory/inventory.h"
#include "support/records.h"

namespace {

DirRecord Probe(const char* path) {
  DirRecord probe{};
  probe.path = path;
  return probe;
}

FileRecord FileProbe(const char* name) {
  FileRecord probe{};
  probe.name = name;
  return probe;
}

TEST(NameIndex, ADirectoryKeyLeadsToItsFirstRecordWhateverTheCase) {
  DirList list{};
  // A, B, A: the revisited path has a record of its own, never found.
  AddFile(list, "C:\\Menu\\Programs", MakeFile("first"));
  AddFile(list, "C:\\Menu\\Other", MakeFile("x"));
  AddFile(list, "C:\\MENU\\programs", MakeFile("second"));
  AddFile(list, "C:\\Menu\\Programs", MakeFile("third"));
  DirIndex index;
  ASSERT_EQ(BuildDirIndex(index, list), 0);

  for (const char* path : {"C:\\Menu\\Programs", "c:\\menu\\PROGRAMS", "C:\\MENU\\programs"}) {
    const DirRecord probe = Probe(path);
    EXPECT_EQ(LookUpDir(index, probe), list.head) << path;
    EXPECT_EQ(LookUpDir(index, probe), FindDirByPath(list, probe));
  }
  EXPECT_EQ(LookUpDir(index, Probe("C:\\Menu\\Program")), nullptr);
  EXPECT_EQ(LookUpDir(index, Probe("C:\\Menu\\Programs ")), nullptr);
  // Only ASCII letters fold.
  EXPECT_EQ(LookUpDir(index, Probe("C:\\Menu\\Othe\xD2")), nullptr);
}

TEST(NameIndex, AFileKeyLeadsToTheFirstOfItsNamesakesInChainOrder) {
  DirList list{};
  for (const char* name : {"Tool.lnk", "Help.lnk", "TOOL.LNK", "tool.lnk"}) {
    AddFile(list, "C:\\Menu", MakeFile(name));
  }
  FileIndex index;
  ASSERT_EQ(BuildFileIndex(index, *list.head), 0);
  EXPECT_EQ(LookUpFile(index, FileProbe("tool.LNK")), list.head->first_file);
  EXPECT_EQ(LookUpFile(index, FileProbe("HELP.lnk")), list.head->first_file->next);
  EXPECT_EQ(LookUpFile(index, FileProbe("Tool.ln")), nullptr);

  // Rebuilt for another chain, it forgets the first one.
  DirList other{};
  AddFile(other, "C:\\Other", MakeFile("Readme.txt"));
  ASSERT_EQ(BuildFileIndex(index, *other.head), 0);
  EXPECT_EQ(LookUpFile(index, FileProbe("Tool.lnk")), nullptr);
  EXPECT_EQ(LookUpFile(index, FileProbe("README.TXT")), other.head->first_file);

  // An empty chain answers nothing.
  DirList empty{};
  ASSERT_NE(FindOrAppendDir(empty, "C:\\Empty"), nullptr);
  ASSERT_EQ(BuildFileIndex(index, *empty.head), 0);
  EXPECT_EQ(LookUpFile(index, FileProbe("Readme.txt")), nullptr);
}

// Runs work in a thread of its own and ends the test program with a line
// when it has not ended within seconds: a table that filled up would
// probe for ever, and a hung suite tells nothing.
template <typename Work>
void WithinSeconds(const char* what, Work work) {
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    std::fprintf(stderr, "%s has not ended within 5 seconds: the index probes for ever\n", what);
    std::fflush(stderr);
    std::_Exit(1);
  }
  worker.join();
}

// At 16 and 32 records, where slots sized for the records alone would all
// be taken, a key that is not there is still answered: half the slots stay
// empty, and a probe ends at one.
TEST(NameIndex, AnAbsentKeyIsAnsweredAtTheSizesWhereATableForTheRecordsAloneIsFull) {
  for (const int records : {16, 32}) {
    SCOPED_TRACE(records);
    DirList list{};
    DirList one{};
    for (int i = 0; i < records; ++i) {
      const std::string name = std::to_string(i);
      AddFile(list, ("C:\\Menu\\" + name).c_str(), MakeFile(name.c_str()));
      AddFile(one, "C:\\Menu", MakeFile(name.c_str()));
    }
    int built = -1;
    const DirRecord* dir = list.head;
    const FileRecord* file = one.head->first_file;
    WithinSeconds("Building the index and looking up an absent key", [&] {
      DirIndex dirs;
      FileIndex files;
      built = BuildDirIndex(dirs, list) + BuildFileIndex(files, *one.head);
      dir = LookUpDir(dirs, Probe("C:\\Menu\\absent"));
      file = LookUpFile(files, FileProbe("absent"));
    });
    EXPECT_EQ(built, 0);
    EXPECT_EQ(dir, nullptr);
    EXPECT_EQ(file, nullptr);
  }
}

// Many records and names that differ only in case or in one byte, so that
// hashes collide and probes wrap: the index always answers as the plain
// lookups do.
TEST(NameIndex, AnswersAsThePlainLookupsOnManyRecordsWithNamesakes) {
  std::mt19937 random(7);
  const char letters[] = "aAbBcC_.";
  DirList list{};
  std::vector<std::string> keys;
  for (int i = 0; i < 3000; ++i) {
    std::string name = "C:\\Start Menu\\";
    const std::size_t length = 1 + random() % 4;
    for (std::size_t c = 0; c < length; ++c) name += letters[random() % (sizeof letters - 1)];
    keys.push_back(name);
    AddFile(list, name.c_str(), MakeFile(name.c_str() + 14));
    AddFile(list, keys[random() % keys.size()].c_str(), MakeFile(name.c_str() + 14));
  }
  DirIndex dirs;
  ASSERT_EQ(BuildDirIndex(dirs, list), 0);
  FileIndex files;
  ASSERT_EQ(BuildFileIndex(files, *list.head->next), 0);
  for (const std::string& key : keys) {
    std::string variant = key + (random() % 8 == 0 ? "x" : "");
    for (char& c : variant) {
      if (random() % 2 == 0) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const DirRecord probe = Probe(variant.c_str());
    ASSERT_EQ(LookUpDir(dirs, probe), FindDirByPath(list, probe)) << variant;
    const FileRecord file = FileProbe(variant.c_str() + 14);
    ASSERT_EQ(LookUpFile(files, file), FindFileByName(*list.head->next, file)) << variant;
  }
}

}  // namespace
