// Moves: never overwriting, replacing in one step, and across devices
// ending in exactly one place.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_tree.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#endif

namespace {

// The system's text for an error, as a "Cannot move" line gives it: a
// preview foresees a move's failure by these codes.
std::string Text(DWORD error) {
  char text[kErrorTextSize];
  DescribeError(error, text, sizeof text);
  return text;
}

TEST(MoveFileA, NeverOverwritesAFileOrADirectory) {
  TempDir dir;
  const fs::path source = dir.path() / "source.lnk";
  const fs::path file_there = dir.path() / "file.lnk";
  const fs::path dir_there = dir.path() / "dir";
  WriteFile(source, "new");
  WriteFile(file_there, "old");
  fs::create_directory(dir_there);

  EXPECT_FALSE(MoveFileA(source.string().c_str(), file_there.string().c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(MoveFileA(source.string().c_str(), dir_there.string().c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadFile(source), "new");
  EXPECT_EQ(ReadFile(file_there), "old");
  EXPECT_TRUE(fs::is_empty(dir_there));

  const fs::path source_dir = dir.path() / "source_dir";
  WriteFile(source_dir / "inside", "kept");
  EXPECT_FALSE(MoveFileA(source_dir.string().c_str(), dir_there.string().c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadFile(source_dir / "inside"), "kept");

  const fs::path moved = dir.path() / "moved";
  EXPECT_TRUE(MoveFileA(source_dir.string().c_str(), moved.string().c_str()));
  EXPECT_EQ(ReadFile(moved / "inside"), "kept");
  EXPECT_FALSE(fs::exists(source_dir));
}

TEST(MoveFileA, FailsWithoutCreatingAMissingParent) {
  TempDir dir;
  WriteFile(dir.path() / "a", "data");
  const fs::path destination = dir.path() / "missing" / "a";
  EXPECT_FALSE(MoveFileA((dir.path() / "a").string().c_str(), destination.string().c_str()));
  EXPECT_EQ(Text(GetLastError()), Text(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(MoveFileExA((dir.path() / "a").string().c_str(), destination.string().c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(Text(GetLastError()), Text(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(ReadFile(dir.path() / "a"), "data");
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

TEST(MoveFileExA, ReplacesAFileInOneStepButNeverADirectory) {
  TempDir dir;
  const fs::path source = dir.path() / "new.lnk";
  const fs::path target = dir.path() / "target.lnk";
  WriteFile(source, "new");
  WriteFile(target, "old");
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  EXPECT_TRUE(MoveFileExA(source.string().c_str(), target.string().c_str(), flags));
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_FALSE(fs::exists(source));
  char leftover[2 * MAX_PATH];
  DWORD error = ERROR_SUCCESS;
  EXPECT_FALSE(TakeLeftoverName(leftover, sizeof leftover, &error));

  WriteFile(source, "again");
  fs::create_directory(dir.path() / "dir");
  EXPECT_FALSE(MoveFileExA(source.string().c_str(), (dir.path() / "dir").string().c_str(), flags));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadFile(source), "again");
  EXPECT_TRUE(fs::is_directory(dir.path() / "dir"));
}

#ifndef _WIN32
// True when check, run in a child process as a user whom mode bits bind
// (ourselves, or nobody when we are root), returned true.
bool TrueForAnUnprivilegedUser(const std::function<bool()>& check) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// /dev/shm is a tmpfs, the temporary folder usually not.
bool OnAnotherDeviceThanShm(const TempDir& dir) {
  struct stat shm;
  struct stat temp;
  return stat("/dev/shm", &shm) == 0 && stat(dir.str().c_str(), &temp) == 0 && shm.st_dev != temp.st_dev;
}

// A folder of a test's own outside its TempDir, removed however the test
// ends, so that an assertion that stops it leaves nothing in /dev/shm.
struct RemovedAtEnd {
  fs::path path;
  ~RemovedAtEnd() {
    std::error_code error;
    if (fs::exists(path, error)) {
      for (const auto& entry : fs::recursive_directory_iterator(path, error)) {
        if (entry.is_directory(error)) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
      }
      fs::remove_all(path, error);
    }
  }
};

void HandOverToNobody(const fs::path& root) {
  if (geteuid() != 0) return;
  ASSERT_EQ(lchown(root.c_str(), 65534, 65534), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
}

TEST(MoveFileExA, AcrossDevicesASourceThatCannotBeRemovedFailsAndKeepsTheNamesake) {
  TempDir dir;
  if (!OnAnotherDeviceThanShm(dir)) GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  const fs::path other = fs::path("/dev/shm") / ("dravonel-locked-" + std::to_string(::getpid()));
  const RemovedAtEnd removed{other};
  WriteFile(other / "locked" / "Tool.lnk", "new");
  WriteFile(other / "locked" / "Fresh.lnk", "fresh");
  WriteFile(dir.path() / "Tool.lnk", "shared");
  HandOverToNobody(dir.path());
  HandOverToNobody(other);
  SetMode(other / "locked", 0555);  // its files cannot be removed
  const std::string tool = (other / "locked" / "Tool.lnk").string();
  const std::string fresh = (other / "locked" / "Fresh.lnk").string();
  const std::string tool_there = (dir.path() / "Tool.lnk").string();
  const std::string fresh_there = (dir.path() / "Fresh.lnk").string();
  EXPECT_FALSE(TrueForAnUnprivilegedUser([&] {
    return MoveFileExA(tool.c_str(), tool_there.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
  }));
  EXPECT_FALSE(TrueForAnUnprivilegedUser([&] { return MoveFileA(fresh.c_str(), fresh_there.c_str()); }));
  // Each file in one place only, the namesake as it was, nothing beside it.
  EXPECT_EQ(ReadFile(tool), "new");
  EXPECT_EQ(ReadFile(fresh), "fresh");
  EXPECT_EQ(ReadFile(tool_there), "shared");
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\n");
}

TEST(MoveFileExA, AcrossDevicesCopiesWholeAndNeverBlocksOnAnEarlierRunsCopy) {
  TempDir dir;
  if (!OnAnotherDeviceThanShm(dir)) GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  const fs::path other = fs::path("/dev/shm") / ("dravonel-move-" + std::to_string(::getpid()));
  const RemovedAtEnd removed{other};
  fs::create_directories(other);
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  const fs::path source = other / "Tool.lnk";
  WriteFile(source, "tool");
  SetMode(source, 0664);
  SetWriteTime(source, UtcSeconds(2001, 2, 3, 4, 5, 6), 700'000'000);
  const fs::path target = dir.path() / "Tool.lnk";
  // The bits and the time a rename would keep, whatever the umask.
  const mode_t umask_before = umask(022);
  EXPECT_TRUE(MoveFileExA(source.string().c_str(), target.string().c_str(), flags));
  umask(umask_before);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFile(target), "tool");
  EXPECT_EQ(Mode(target), 0664u);
  struct stat moved;
  ASSERT_EQ(stat(target.c_str(), &moved), 0);
  EXPECT_EQ(moved.st_mtim.tv_sec, UtcSeconds(2001, 2, 3, 4, 5, 6));
  EXPECT_EQ(moved.st_mtim.tv_nsec, 700'000'000);
  // A link keeps its own time too.
  fs::create_symlink("Tool.lnk", other / "Link.lnk");
  SetWriteTime(other / "Link.lnk", UtcSeconds(2002, 3, 4), 0);
  EXPECT_TRUE(MoveFileA((other / "Link.lnk").string().c_str(), (dir.path() / "Link.lnk").string().c_str()));
  ASSERT_EQ(lstat((dir.path() / "Link.lnk").c_str(), &moved), 0);
  EXPECT_TRUE(S_ISLNK(moved.st_mode));
  EXPECT_EQ(moved.st_mtim.tv_sec, UtcSeconds(2002, 3, 4));
  fs::remove(dir.path() / "Link.lnk");

  // MoveFileA refuses a namesake; MoveFileExA replaces it, past a whole
  // copy that a run killed half way through a replacement left beside it.
  WriteFile(source, "tool 2");
  EXPECT_FALSE(MoveFileA(source.string().c_str(), target.string().c_str()));
  EXPECT_EQ(ReadFile(target), "tool");
  WriteFile(dir.path() / "Tool.lnk.dravonel-move", "tool");
  WriteFile(dir.path() / "Tool.lnk.dravonel-move-1", "tool");
  EXPECT_TRUE(MoveFileExA(source.string().c_str(), target.string().c_str(), flags));
  EXPECT_EQ(ReadFile(target), "tool 2");
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\nTool.lnk.dravonel-move\nTool.lnk.dravonel-move-1\n");

  // A directory does not move across devices at all.
  WriteFile(other / "Folder" / "inside", "kept");
  EXPECT_FALSE(MoveFileA((other / "Folder").string().c_str(), (dir.path() / "Folder").string().c_str()));
  EXPECT_EQ(ReadFile(other / "Folder" / "inside"), "kept");
  EXPECT_FALSE(fs::exists(dir.path() / "Folder"));
}
#endif

}  // namespace
