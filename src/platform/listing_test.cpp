// The listing: every entry of the current directory, in the order NTFS
// gives, each with what the scan relies on.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/start_menus.h"
#include "support/temp_tree.h"

namespace {

// What the listing reports for each entry of the current directory.
struct Listed {
  std::string name;
  bool directory;
};

std::vector<Listed> ListCurrentDirectory() {
  std::vector<Listed> listed;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("*.*", &entry);
  if (search == INVALID_HANDLE_VALUE) return listed;
  do {
    listed.push_back({entry.cFileName, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return listed;
}

TEST(FindFirstFileA, ListsEveryEntryWithDotsInCaseFoldedOrder) {
  TempDir dir;
  WriteFile(dir.path() / "b.lnk", "");
  WriteFile(dir.path() / "README", "");  // no dot in the name
  WriteFile(dir.path() / "a_b", "");
  fs::create_directory(dir.path() / "Apps");
  fs::create_directory(dir.path() / "c");
#ifndef _WIN32
  WriteFile(dir.path() / "APPS", "");  // the same name folded: plain bytes decide
#endif
  InDirectory inside(dir.path());

  const std::vector<Listed> listed = ListCurrentDirectory();
  std::vector<std::string> names;
  for (const Listed& item : listed) names.push_back(item.name);
  // NTFS order compares upper-cased letters, so '_' (0x5F) sorts after
  // 'P' (0x50). Wine hands over whatever order the host file system has.
#ifdef _WIN32
  std::vector<std::string> expected{".", "..", "Apps", "a_b", "b.lnk", "c", "README"};
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
#else
  const std::vector<std::string> expected{".", "..", "APPS", "Apps", "a_b", "b.lnk", "c", "README"};
#endif
  EXPECT_EQ(names, expected);
  for (const Listed& item : listed) {
    const bool expect_directory = item.name == "." || item.name == ".." || item.name == "Apps" || item.name == "c";
    EXPECT_EQ(item.directory, expect_directory) << item.name;
  }
}

// The names a listing of the current directory gives, "." and ".." left
// out, sorted (Wine lists in the host's order).
std::string Names() {
  std::vector<std::string> names;
  for (const Listed& item : ListCurrentDirectory()) {
    if (item.name != "." && item.name != "..") names.push_back(item.name);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + " ";
  return text;
}

// Held, the user's Start Menu cannot be renamed away on Windows; on POSIX
// it can, and the folder held is the one listed from then on.
TEST(HoldUserStartMenu, TheFolderHeldIsTheOneListedWhateverItsNameBecomes) {
  StartMenus menus;
  WriteFile(menus.User("Held.lnk"), "");
  InDirectory back(menus.root.path());
  ASSERT_EQ(HoldUserStartMenu(), 0);
  const fs::path aside = menus.root.path() / "aside";
  std::error_code error;
  fs::rename(menus.user, aside, error);
#ifdef _WIN32
  EXPECT_TRUE(error) << "renamed while held";
#else
  ASSERT_FALSE(error);
  WriteFile(menus.User("Other.lnk"), "");
  ASSERT_TRUE(SetCurrentDirectoryA(menus.user.c_str()));
  EXPECT_EQ(Names(), "Held.lnk ");
  ASSERT_TRUE(SetCurrentDirectoryA(menus.root.str().c_str()));
#endif
  LetGoOfUserStartMenu();
}

TEST(SetCurrentDirectoryA, BelowAStartMenuRootEveryFolderIsEnteredAndListedAgain) {
  StartMenus menus;
  WriteFile(menus.User("A/B/b.lnk"), "");
  WriteFile(menus.User("A/C/c.lnk"), "");
  WriteFile(menus.User("D/d.lnk"), "");
  InDirectory back(menus.root.path());
  // Down, across, up and down again, and the same folder twice: each
  // listed whole, as the scan's two passes and its siblings need.
  const std::vector<std::pair<std::string, std::string>> visits = {
      {"", "A D "},      {"A", "B C "},     {"A/B", "b.lnk "}, {"A/C", "c.lnk "}, {"A", "B C "},
      {"A", "B C "},     {"D", "d.lnk "},   {"A/B", "b.lnk "}, {"", "A D "},
  };
  for (const auto& [folder, names] : visits) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(SetCurrentDirectoryA(menus.User(folder).c_str()));
    EXPECT_EQ(fs::current_path(), fs::path(menus.User(folder)));
    EXPECT_EQ(Names(), names);
  }
  // Leaving the tree and coming back.
  ASSERT_TRUE(SetCurrentDirectoryA(menus.root.str().c_str()));
  ASSERT_TRUE(SetCurrentDirectoryA(menus.User("A/C").c_str()));
  EXPECT_EQ(Names(), "c.lnk ");
  // A folder gone since is not there.
  fs::remove_all(menus.User("D"));
  EXPECT_FALSE(SetCurrentDirectoryA(menus.User("D").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

#ifndef _WIN32
TEST(FindFirstFileA, ReportsALinkAsItselfNeverAsItsTarget) {
  TempDir dir;
  fs::create_directory(dir.path() / "target_dir");
  WriteFile(dir.path() / "target_file", "");
  SetWriteTime(dir.path() / "target_file", UtcSeconds(2001, 1, 1));
  fs::create_directory_symlink(dir.path() / "target_dir", dir.path() / "link_dir");
  fs::create_symlink(dir.path() / "target_file", dir.path() / "link_file");
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
  InDirectory inside(dir.path());
  for (const Listed& item : ListCurrentDirectory()) {
    if (item.name.rfind("link", 0) == 0 || item.name == "dangling") {
      EXPECT_FALSE(item.directory) << item.name;
    }
  }
  EXPECT_NE(GetFileAttributesA((dir.path() / "dangling").string().c_str()), INVALID_FILE_ATTRIBUTES);
  // Deleting a link removes the link, not what it points to.
  EXPECT_TRUE(DeleteFileA((dir.path() / "link_dir").string().c_str()));
  EXPECT_TRUE(DeleteFileA((dir.path() / "link_file").string().c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() / "target_dir"));
  EXPECT_TRUE(fs::exists(dir.path() / "target_file"));
}
#endif

}  // namespace
