// The POSIX Cacls companion, run as dravonel runs it, on real trees.

#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_tree.h"

namespace {

RunResult Cacls(const std::vector<std::string>& arguments, const std::string& working_directory = "") {
  std::vector<std::string> argv{"Cacls"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunProgram(BuiltProgram("Cacls"), argv, BaseEnvironment(), working_directory);
}

fs::path MakeDir(const fs::path& path, unsigned mode) {
  fs::create_directories(path);
  SetMode(path, mode);
  return path;
}

fs::path MakeFile(const fs::path& path, unsigned mode) {
  WriteFile(path, "x");
  SetMode(path, mode);
  return path;
}

void ExpectQuietSuccess(const RunResult& run) {
  EXPECT_EQ(run.exit_status, 0u);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST(Cacls, GrantOnAFileAddsReadForEveryone) {
  TempDir temp;
  const fs::path file = MakeFile(temp.path() / "a.lnk", 0600);
  ExpectQuietSuccess(Cacls({file.string(), "/T", "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(Mode(file), 0644u);
  const fs::path unreadable = MakeFile(temp.path() / "b.lnk", 0200);  // to anyone but root
  ExpectQuietSuccess(Cacls({unreadable.string(), "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(Mode(unreadable), 0644u);
}

TEST(Cacls, TreeSwitchReachesEverythingBelowAndDirectoriesBecomeSearchable) {
  TempDir temp;
  SetMode(temp.path(), 0700);
  const fs::path top = MakeDir(temp.path() / "Program", 0700);
  const fs::path inner = MakeDir(top / "Sub" / "Inner", 0700);
  SetMode(top / "Sub", 0700);
  const fs::path deep_file = MakeFile(inner / "deep.lnk", 0600);
  const fs::path top_file = MakeFile(top / "top.lnk", 0640);

  // Without /T only the path itself changes.
  ExpectQuietSuccess(Cacls({top.string(), "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(Mode(top), 0755u);
  EXPECT_EQ(Mode(top / "Sub"), 0700u);
  EXPECT_EQ(Mode(top_file), 0640u);

  ExpectQuietSuccess(Cacls({top.string(), "/T", "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(Mode(top / "Sub"), 0755u);
  EXPECT_EQ(Mode(inner), 0755u);
  EXPECT_EQ(Mode(deep_file), 0644u);
  EXPECT_EQ(Mode(top_file), 0644u);
  EXPECT_EQ(Mode(temp.path()), 0700u) << "nothing above the path changes";
}

TEST(Cacls, ReplaceSetsExactlyTheGrantWhileEditAdds) {
  TempDir temp;
  const fs::path dir = MakeDir(temp.path() / "d", 0770);
  const fs::path file = MakeFile(dir / "f", 0720);
  const fs::path program = MakeFile(dir / "setid", 0755);
  SetMode(program, 06755);

  ExpectQuietSuccess(Cacls({dir.string(), "/T", "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(Mode(dir), 0775u);
  EXPECT_EQ(Mode(file), 0764u);
  EXPECT_EQ(Mode(program), 06755u) << "an edit that grants no write keeps set-id bits";

  ExpectQuietSuccess(Cacls({dir.string(), "/t", "/g", "everyone:r"}));
  EXPECT_EQ(Mode(dir), 0555u);
  EXPECT_EQ(Mode(file), 0444u);
  EXPECT_EQ(Mode(program), 0444u);

  SetMode(program, 06755);
  ExpectQuietSuccess(Cacls({program.string(), "/E", "/G", "Everyone:C"}));
  EXPECT_EQ(Mode(program), 0777u) << "a set-id program never becomes writable by all";
  SetMode(dir, 01700);
  ExpectQuietSuccess(Cacls({dir.string(), "/E", "/G", "Everyone:W"}));
  EXPECT_EQ(Mode(dir), 01722u) << "the sticky bit stays on an edit";
  ExpectQuietSuccess(Cacls({file.string(), "/G", "Everyone:F"}));
  EXPECT_EQ(Mode(file), 0777u);
}

TEST(Cacls, ALinkToAFileOutsideLeavesTheTargetAlone) {
  TempDir temp;
  const fs::path secret = MakeFile(temp.path() / "secret", 0600);
  const fs::path menu = MakeDir(temp.path() / "Menu", 0700);
  const fs::path link = menu / "link.lnk";
  fs::create_symlink(secret, link);

  ExpectQuietSuccess(Cacls({link.string(), "/T", "/E", "/G", "Everyone:R"}));
  ExpectQuietSuccess(Cacls({link.string() + "/", "/T", "/E", "/G", "Everyone:R"}));
  ExpectQuietSuccess(Cacls({menu.string(), "/T", "/G", "Everyone:F"}));
  EXPECT_EQ(Mode(secret), 0600u);
  EXPECT_EQ(fs::read_symlink(link), secret);
  EXPECT_EQ(Mode(menu), 0777u);
}

TEST(Cacls, ALinkToADirectoryOutsideIsNeverEntered) {
  TempDir temp;
  const fs::path outside = MakeDir(temp.path() / "outside", 0700);
  const fs::path inside_file = MakeFile(outside / "private", 0600);
  const fs::path menu = MakeDir(temp.path() / "Menu", 0700);
  const fs::path link = menu / "Folder";
  fs::create_directory_symlink(outside, link);

  // Given directly, with a trailing slash, and met during the walk.
  for (const std::string& path : {link.string(), link.string() + "/", link.string() + "//", menu.string()}) {
    ExpectQuietSuccess(Cacls({path, "/T", "/E", "/G", "Everyone:R"}));
    EXPECT_EQ(Mode(outside), 0700u) << path;
    EXPECT_EQ(Mode(inside_file), 0600u) << path;
  }
  EXPECT_EQ(fs::read_symlink(link), outside);
  EXPECT_EQ(Mode(menu), 0755u);
}

// As dravonel runs it: from the All Users Start Menu, with the item's path
// relative to it, walked a folder at a time and never through a link.
TEST(Cacls, ARelativePathIsWalkedFromTheCurrentFolderNeverThroughALink) {
  TempDir temp;
  const fs::path menu = MakeDir(temp.path() / "Menu", 0755);
  const fs::path tool = MakeDir(menu / "Programs" / "Tool", 0700);
  const fs::path file = MakeFile(tool / "x.lnk", 0600);
  ExpectQuietSuccess(Cacls({"Programs/Tool/x.lnk", "/T", "/E", "/G", "Everyone:R"}, menu.string()));
  EXPECT_EQ(Mode(file), 0644u);
  ExpectQuietSuccess(Cacls({"Programs//Tool/", "/T", "/E", "/G", "Everyone:R"}, menu.string()));
  EXPECT_EQ(Mode(tool), 0755u);

  // The folder swapped for a link to one outside: nothing there changes.
  const fs::path outside = MakeDir(temp.path() / "outside", 0700);
  const fs::path secret = MakeFile(outside / "x.lnk", 0600);
  fs::rename(tool, temp.path() / "moved-away");
  fs::create_directory_symlink(outside, tool);
  for (const char* path : {"Programs/Tool/x.lnk", "Programs/Tool/."}) {
    const RunResult run = Cacls({path, "/T", "/E", "/G", "Everyone:R"}, menu.string());
    EXPECT_EQ(run.exit_status, 2u) << path;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Cacls: Programs/Tool: a symbolic link, not followed\n");
  }
  const RunResult gone = Cacls({"Programs/Gone/x.lnk", "/T", "/E", "/G", "Everyone:R"}, menu.string());
  EXPECT_EQ(gone.exit_status, 2u);
  EXPECT_EQ(gone.err, "Cacls: Programs/Gone: No such file or directory\n");
  // The link as the last name is left alone, as any link given is.
  ExpectQuietSuccess(Cacls({"Programs/Tool", "/T", "/E", "/G", "Everyone:R"}, menu.string()));
  EXPECT_EQ(Mode(outside), 0700u);
  EXPECT_EQ(Mode(secret), 0600u);

  // A path a person types in full still goes through the links on its way.
  ExpectQuietSuccess(Cacls({(tool / "x.lnk").string(), "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(Mode(secret), 0644u);
}

TEST(Cacls, NamesAreNeverInterpreted) {
  TempDir temp;
  const fs::path menu = MakeDir(temp.path() / "Menu", 0700);
  const std::string hostile = "a\"$(touch pwned1)`touch pwned2`;x\n* 'b'.lnk";
  const fs::path file = MakeFile(menu / hostile, 0600);
  const fs::path dir = MakeDir(menu / ("-G Everyone:F \\ " + hostile), 0700);
  const fs::path inner = MakeFile(dir / hostile, 0600);

  ExpectQuietSuccess(Cacls({file.string(), "/T", "/E", "/G", "Everyone:R"}, temp.str()));
  EXPECT_EQ(Mode(file), 0644u);
  ExpectQuietSuccess(Cacls({menu.string(), "/T", "/E", "/G", "Everyone:R"}, temp.str()));
  EXPECT_EQ(Mode(dir), 0755u);
  EXPECT_EQ(Mode(inner), 0644u);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(temp.path())) {
    EXPECT_NE(entry.path().filename(), "pwned1");
    EXPECT_NE(entry.path().filename(), "pwned2");
  }
}

// A file with another name may be anyone's, lent a name in the tree by a
// hard link; a FIFO or a socket is no Start Menu item.
TEST(Cacls, OnlyFoldersAndFilesWithOneNameChangeTheRestIsReportedWithoutBlocking) {
  TempDir temp;
  const fs::path menu = MakeDir(temp.path() / "Menu", 0700);
  const fs::path pipe = menu / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  sockaddr_un address{AF_UNIX, {}};
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (menu / "socket").c_str());
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(listener);
  const fs::path outside = MakeFile(temp.path() / "outside", 0660);
  fs::create_hard_link(outside, menu / "linked.lnk");
  const fs::path file = MakeFile(menu / "z.lnk", 0600);

  const RunResult run = Cacls({menu.string(), "/T", "/E", "/G", "Everyone:R"});
  EXPECT_EQ(run.exit_status, 2u);
  for (const char* line : {"linked.lnk: It has other names (hard links)\n", "pipe: It is a FIFO\n",
                           "socket: It is a socket\n"}) {
    EXPECT_NE(run.err.find("Cacls: " + menu.string() + "/" + line), std::string::npos) << run.err;
  }
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
  const RunResult alone = Cacls({pipe.string(), "/G", "Everyone:R"});
  EXPECT_EQ(alone.exit_status, 2u);
  EXPECT_EQ(alone.err, "Cacls: " + pipe.string() + ": It is a FIFO\n");
  EXPECT_EQ(Mode(pipe), 0600u);
  EXPECT_EQ(Mode(outside), 0660u);
  EXPECT_EQ(Mode(file), 0644u);
}

TEST(Cacls, UnsupportedCommandLinesChangeNothing) {
  TempDir temp;
  const fs::path dir = MakeDir(temp.path() / "d", 0700);
  const fs::path file = MakeFile(dir / "f", 0600);
  const std::string path = dir.string();
  // The parser's cases are in its unit tests; these show the whole program
  // refusing before it touches anything.
  const std::vector<std::vector<std::string>> refused{
      {},
      {path},
      {path, "/T", "/E", "/G", "root:R"},
      {path, "/T", "/E", "/G", "Everyone:R", "/D", "Everyone"},
      {path, "/T", "/E", "Everyone:R"},
      {"/T", "/E", "/G", "Everyone:R"},
  };
  for (const std::vector<std::string>& arguments : refused) {
    const RunResult run = Cacls(arguments);
    EXPECT_EQ(run.exit_status, 1u) << arguments.size();
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Usage: Cacls <path>"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Mode(dir), 0700u);
  EXPECT_EQ(Mode(file), 0600u);
}

TEST(Cacls, AMissingPathFailsWithStatusTwo) {
  TempDir temp;
  const RunResult run = Cacls({(temp.path() / "gone").string(), "/T", "/E", "/G", "Everyone:R"});
  EXPECT_EQ(run.exit_status, 2u);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("gone"), std::string::npos) << run.err;
}

TEST(Cacls, UnreadableDirectoriesBelowAreReportedAndTheRestIsDone) {
  if (geteuid() == 0) GTEST_SKIP() << "nothing is unreadable to root";
  TempDir temp;
  const fs::path top = MakeDir(temp.path() / "top", 0700);
  const fs::path closed = MakeDir(top / "a-closed", 0700);
  MakeFile(closed / "inside", 0600);
  SetMode(closed, 0300);
  const fs::path later = MakeFile(top / "z-later", 0600);
  // Granting write alone adds no read permission: a-closed cannot be listed.
  const RunResult run = Cacls({top.string(), "/T", "/E", "/G", "Everyone:W"});
  EXPECT_EQ(run.exit_status, 2u);
  EXPECT_NE(run.err.find("a-closed"), std::string::npos) << run.err;
  EXPECT_EQ(Mode(closed), 0322u);
  EXPECT_EQ(Mode(later), 0622u);
}

// A chain of directories far deeper than any path may be long: made, read
// and removed one level at a time through descriptors.
constexpr int kDeepLevels = 10000;

void MakeChain(const fs::path& top, int levels) {
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < levels; ++level) {
    ASSERT_EQ(mkdirat(fd, "d", 0700), 0) << level;
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    ASSERT_GE(fd, 0) << level;
  }
  const int file = openat(fd, "bottom.lnk", O_WRONLY | O_CREAT, 0600);
  EXPECT_GE(file, 0);
  close(file);
  close(fd);
}

// The modes of every level's directory that is not 0755, and of the file.
std::string ChainModesOtherThan(const fs::path& top, int levels, unsigned directory_mode) {
  std::string odd;
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    struct stat status;
    if (fstatat(fd, "d", &status, AT_SYMLINK_NOFOLLOW) != 0 || (status.st_mode & 07777u) != directory_mode) {
      odd += "level " + std::to_string(level) + "; ";
    }
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  struct stat status;
  if (fd < 0 || fstatat(fd, "bottom.lnk", &status, 0) != 0) return odd + "bottom missing";
  odd += "file " + std::to_string(status.st_mode & 07777u);
  close(fd);
  return odd;
}

void RemoveChain(const fs::path& top, int levels) {
  // Down to the bottom, then back up removing one level at a time.
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  unlinkat(fd, "bottom.lnk", 0);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    const int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = parent;
    unlinkat(fd, "d", AT_REMOVEDIR);
  }
  if (fd >= 0) close(fd);
}

TEST(Cacls, ATreeDeeperThanAnyPathIsWalkedToTheBottom) {
  TempDir temp;
  const fs::path top = MakeDir(temp.path() / "top", 0700);
  MakeChain(top, kDeepLevels);
  ExpectQuietSuccess(Cacls({top.string(), "/T", "/E", "/G", "Everyone:R"}));
  EXPECT_EQ(ChainModesOtherThan(top, kDeepLevels, 0755), "file 420");  // 0644
  RemoveChain(top, kDeepLevels);
}

}  // namespace

#endif  // _WIN32
