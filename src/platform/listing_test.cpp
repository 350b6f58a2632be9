// The walk: every entry of an open folder, in the order NTFS gives, each
// with what the scan relies on; folders opened from the one above, never
// through a link; the Start Menu held whatever its name becomes.
#include "platform/walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/start_menus.h"
#include "support/temp_tree.h"

namespace {

// What the listing reports for each entry of an open folder.
struct Listed {
  std::string name;
  bool directory;
};

std::vector<Listed> List(const MenuFolder& folder) {
  std::vector<Listed> listed;
  WIN32_FIND_DATAA entry;
  HANDLE search = ListFolder(folder, &entry);
  if (search == INVALID_HANDLE_VALUE) return listed;
  do {
    listed.push_back({entry.cFileName, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (NextFolderEntry(search, &entry));
  CloseFolderListing(search);
  return listed;
}

// Every entry of the folder at path, held as a root.
std::vector<Listed> ListRoot(const std::string& path) {
  const HeldMenu menu(path);
  MenuFolder folder;
  if (OpenMenuRoot(menu.root, folder) != 0) return {};
  std::vector<Listed> listed = List(folder);
  CloseFolder(folder);
  return listed;
}

TEST(ListFolder, ListsEveryEntryWithDotsInCaseFoldedOrder) {
  TempDir dir;
  WriteFile(dir.path() / "b.lnk", "");
  WriteFile(dir.path() / "README", "");  // no dot in the name
  WriteFile(dir.path() / "a_b", "");
  fs::create_directory(dir.path() / "Apps");
  fs::create_directory(dir.path() / "c");
#ifndef _WIN32
  WriteFile(dir.path() / "APPS", "");  // the same name folded: plain bytes decide
#endif
  const std::vector<Listed> listed = ListRoot(dir.str());
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

// The names a listing of folder gives, "." and ".." left out, sorted (Wine
// lists in the host's order).
std::string Names(const MenuFolder& folder) {
  std::vector<std::string> names;
  for (const Listed& item : List(folder)) {
    if (item.name != "." && item.name != "..") names.push_back(item.name);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + " ";
  return text;
}

// Held, the user's Start Menu cannot be renamed away on Windows; on POSIX
// it can, and the folder held is the one listed from then on. Each folder
// below is opened from the one above, listed as often as asked, and one
// gone or become a link since is not there.
TEST(ListFolder, TheFoldersHeldAreTheOnesListedWhateverTheirNamesBecome) {
  StartMenus menus;
  WriteFile(menus.User("Held.lnk"), "");
  WriteFile(menus.User("A/B/b.lnk"), "");
  WriteFile(menus.User("A/C/c.lnk"), "");
  MenuFolder root;
  ASSERT_EQ(OpenMenuRoot(menus.user_root, root), 0);
  MenuFolder a;
  const std::string a_path = menus.User("A");
  ASSERT_EQ(OpenSubfolder(root, "A", a_path.c_str(), a), 0);
  EXPECT_EQ(Names(a), "B C ");
  EXPECT_EQ(Names(a), "B C ");
  MenuFolder b;
  const std::string b_path = menus.User("A/B");
  ASSERT_EQ(OpenSubfolder(a, "B", b_path.c_str(), b), 0);
  EXPECT_EQ(Names(b), "b.lnk ");
  CloseFolder(b);
  MenuFolder gone;
  fs::remove_all(menus.User("A/C"));
  EXPECT_NE(OpenSubfolder(a, "C", menus.User("A/C").c_str(), gone), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  CloseFolder(a);
  CloseFolder(root);

  const fs::path aside = menus.root.path() / "aside";
  std::error_code error;
  fs::rename(menus.user, aside, error);
#ifdef _WIN32
  EXPECT_TRUE(error) << "renamed while held";
#else
  ASSERT_FALSE(error);
  // A link where the folder was: the walk goes on in the folder held.
  fs::create_directory_symlink(aside / "A", menus.user);
  ASSERT_EQ(OpenMenuRoot(menus.user_root, root), 0);
  EXPECT_EQ(Names(root), "A Held.lnk ");
  // A folder below swapped for a link is not entered.
  fs::rename(aside / "A" / "B", aside / "B", error);
  fs::create_directory_symlink(aside / "B", aside / "A" / "B");
  ASSERT_EQ(OpenSubfolder(root, "A", a_path.c_str(), a), 0);
  EXPECT_NE(OpenSubfolder(a, "B", b_path.c_str(), b), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  CloseFolder(a);
  CloseFolder(root);
#endif
}

#ifndef _WIN32
TEST(ListFolder, ReportsALinkAsItselfNeverAsItsTarget) {
  TempDir dir;
  fs::create_directory(dir.path() / "target_dir");
  WriteFile(dir.path() / "target_file", "");
  SetWriteTime(dir.path() / "target_file", UtcSeconds(2001, 1, 1));
  fs::create_directory_symlink(dir.path() / "target_dir", dir.path() / "link_dir");
  fs::create_symlink(dir.path() / "target_file", dir.path() / "link_file");
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
  for (const Listed& item : ListRoot(dir.str())) {
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
