// The Win32 behaviour the program relies on, checked against whichever
// backend this build has: the POSIX layer natively, the system's own calls
// under Wine.

#include "driver/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_tree.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#endif

namespace {

FILETIME MakeFileTime(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

struct Calendar {
  int year, month, day_of_week, day, hour, minute, second, milliseconds;
  bool operator==(const Calendar&) const = default;
};

Calendar ToCalendar(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

constexpr uint64_t kTicksPerDay = 864000000000ull;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

TEST(FileTimeToSystemTime, ConvertsExactlyWithWeekdayAndMilliseconds) {
  SYSTEMTIME t{};
  FILETIME ft = MakeFileTime(0);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{1601, 1, 1, 1, 0, 0, 0, 0}));  // a Monday

  ft = MakeFileTime(kUnixEpochTicks);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{1970, 1, 4, 1, 0, 0, 0, 0}));  // a Thursday

  // 2000-02-29 23:59:59.999 plus 9999 ticks: milliseconds truncate.
  const uint64_t leap_day = kUnixEpochTicks + 11016ull * kTicksPerDay;
  ft = MakeFileTime(leap_day + 86399999ull * 10000 + 9999);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{2000, 2, 2, 29, 23, 59, 59, 999}));

  ft = MakeFileTime(leap_day + kTicksPerDay);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{2000, 3, 3, 1, 0, 0, 0, 0}));

  // 1900 is no leap year: 1900-02-28 is followed by March 1.
  const uint64_t feb28_1900 = kUnixEpochTicks - 25509ull * kTicksPerDay;
  ft = MakeFileTime(feb28_1900);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{1900, 2, 3, 28, 0, 0, 0, 0}));
  ft = MakeFileTime(feb28_1900 + kTicksPerDay);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{1900, 3, 4, 1, 0, 0, 0, 0}));
}

TEST(FileTimeToSystemTime, RefusesTheTopBitAndAcceptsJustBelowIt) {
  SYSTEMTIME t{};
  FILETIME ft = MakeFileTime(0x8000000000000000ull);
  EXPECT_FALSE(FileTimeToSystemTime(&ft, &t));
  ft = MakeFileTime(0xFFFFFFFFFFFFFFFFull);
  EXPECT_FALSE(FileTimeToSystemTime(&ft, &t));
  ft = MakeFileTime(0x7FFFFFFFFFFFFFFFull);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{30828, 9, 4, 14, 2, 48, 5, 477}));
}

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

// Enters a directory for the length of a test and gives the old one back.
struct InDirectory {
  explicit InDirectory(const fs::path& path) : previous(fs::current_path()) {
    EXPECT_TRUE(SetCurrentDirectoryA(path.string().c_str()));
  }
  ~InDirectory() { fs::current_path(previous); }
  fs::path previous;
};

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

// The reason a "Cannot" line gives: the system's text on one line, without
// its full stop, or the code when the system has no text for it.
TEST(DescribeError, GivesTheSystemsTextOnOneLine) {
  char text[kErrorTextSize];
  DescribeError(ERROR_ACCESS_DENIED, text, sizeof text);
  const std::string reason = text;
#ifndef _WIN32
  EXPECT_EQ(reason, "Permission denied");
  DescribeError(kErrnoErrorBit | ELOOP, text, sizeof text);
  EXPECT_STREQ(text, "Too many levels of symbolic links");
#endif
  ASSERT_FALSE(reason.empty());
  EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << reason;
  EXPECT_NE(reason.back(), '.') << reason;
  DescribeError(0x1FFFFFFFu, text, sizeof text);
  EXPECT_STREQ(text, "error 536870911");
}

TEST(FindFirstFileA, ReportsTheLastWriteTimeOfEachFile) {
  TempDir dir;
  WriteFile(dir.path() / "f", "x");
  SetWriteTime(dir.path() / "f", UtcSeconds(2024, 2, 29, 13, 14, 15), 678900000);
  InDirectory inside(dir.path());
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("*.*", &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  bool found = false;
  do {
    if (std::string(entry.cFileName) != "f") continue;
    found = true;
    SYSTEMTIME t{};
    ASSERT_TRUE(FileTimeToSystemTime(&entry.ftLastWriteTime, &t));
    EXPECT_EQ(ToCalendar(t), (Calendar{2024, 2, 4, 29, 13, 14, 15, 678}));
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  EXPECT_TRUE(found);
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
  EXPECT_FALSE(MoveFileA(source.string().c_str(), dir_there.string().c_str()));
  EXPECT_EQ(ReadFile(source), "new");
  EXPECT_EQ(ReadFile(file_there), "old");
  EXPECT_TRUE(fs::is_empty(dir_there));

  const fs::path source_dir = dir.path() / "source_dir";
  WriteFile(source_dir / "inside", "kept");
  EXPECT_FALSE(MoveFileA(source_dir.string().c_str(), dir_there.string().c_str()));
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

  WriteFile(source, "again");
  fs::create_directory(dir.path() / "dir");
  EXPECT_FALSE(MoveFileExA(source.string().c_str(), (dir.path() / "dir").string().c_str(), flags));
  EXPECT_EQ(ReadFile(source), "again");
  EXPECT_TRUE(fs::is_directory(dir.path() / "dir"));
}

TEST(GetFileAttributesA, AnswersInvalidOnlyWhenNothingIsThere) {
  TempDir dir;
  WriteFile(dir.path() / "f", "");
  fs::create_directory(dir.path() / "d");
  EXPECT_EQ(GetFileAttributesA((dir.path() / "nothing").string().c_str()), INVALID_FILE_ATTRIBUTES);
  const DWORD file = GetFileAttributesA((dir.path() / "f").string().c_str());
  ASSERT_NE(file, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(file & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(GetFileAttributesA((dir.path() / "d").string().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

HANDLE OpenExclusive(const fs::path& path, DWORD access, DWORD disposition) {
  return CreateFileA(path.string().c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(CreateFileA, ShareModeZeroRefusesASecondOpenerWithoutTruncating) {
  TempDir dir;
  const fs::path snapshot = dir.path() / "Dravonel.Dat";
  HANDLE writer = OpenExclusive(snapshot, GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer, "half", 4, &written, nullptr));

  EXPECT_EQ(OpenExclusive(snapshot, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenExclusive(snapshot, GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  // Nor can another run delete it while it is being written.
  EXPECT_FALSE(DeleteFileA(snapshot.string().c_str()));
  ASSERT_TRUE(WriteFile(writer, " done", 5, &written, nullptr));
  CloseHandle(writer);
  EXPECT_EQ(ReadFile(snapshot), "half done");

  HANDLE reader = OpenExclusive(snapshot, GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  char buffer[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 9u);  // a read that meets the end succeeds, short
  DWORD high = 0;
  EXPECT_EQ(GetFileSize(reader, &high), 9u);
  EXPECT_EQ(high, 0u);
  CloseHandle(reader);

  EXPECT_TRUE(DeleteFileA(snapshot.string().c_str()));
  EXPECT_FALSE(fs::exists(snapshot));
  EXPECT_EQ(OpenExclusive(snapshot, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
}

TEST(DeleteFileA, NeverRemovesADirectory) {
  TempDir dir;
  fs::create_directory(dir.path() / "d");
  EXPECT_FALSE(DeleteFileA((dir.path() / "d").string().c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() / "d"));
  EXPECT_FALSE(DeleteFileA((dir.path() / "nothing").string().c_str()));
}

TEST(LookupEnvironment, FindsANameWhateverItsCase) {
#ifdef _WIN32
  ASSERT_EQ(_putenv("DravonelProbe=value"), 0);
#else
  ASSERT_EQ(setenv("DravonelProbe", "value", 1), 0);
#endif
  ASSERT_NE(LookupEnvironment("DRAVONELPROBE"), nullptr);
  EXPECT_STREQ(LookupEnvironment("dravonelprobe"), "value");
  EXPECT_EQ(LookupEnvironment("DravonelProb"), nullptr);
  EXPECT_EQ(LookupEnvironment("DravonelProbeX"), nullptr);
}

// Only a full path may be resolved from wherever the scan happens to be.
TEST(IsFullPath, OnlyAPathThatNeedsNoCurrentDriveOrDirectory) {
  struct Row {
    const char* path;
    bool full;
  };
#ifdef _WIN32
  const Row rows[] = {{"C:\\Menu", true}, {"c:/Menu", true}, {"\\\\server\\share", true}, {"\\Menu", false},
                      {"C:Menu", false},  {"Menu", false},   {"C:", false},                 {"", false}};
#else
  const Row rows[] = {{"/Menu", true}, {"/", true}, {"Menu", false}, {"./Menu", false}, {"", false}};
#endif
  for (const Row& row : rows) EXPECT_EQ(IsFullPath(row.path), row.full) << row.path;
}

#ifndef _WIN32
TEST(LookupEnvironment, AnExactMatchWinsOverCaseVariants) {
  ASSERT_EQ(setenv("DRAVONELTWIN", "upper", 1), 0);
  ASSERT_EQ(setenv("DravonelTwin", "mixed", 1), 0);
  EXPECT_STREQ(LookupEnvironment("DravonelTwin"), "mixed");
  EXPECT_STREQ(LookupEnvironment("DRAVONELTWIN"), "upper");
  unsetenv("DRAVONELTWIN");
  unsetenv("DravonelTwin");
}

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

TEST(FindFirstFileA, ATimeBefore1601FailsToConvert) {
  // ext4 cannot hold such a time; tmpfs can. The listing is of a folder of
  // our own: /dev/shm itself changes under whatever else runs.
  char folder[] = "/dev/shm/dravonel-old-XXXXXX";
  if (mkdtemp(folder) == nullptr) GTEST_SKIP() << "no tmpfs at /dev/shm";
  const fs::path file = fs::path(folder) / "old";
  WriteFile(file, "");
  // std::filesystem's clock cannot reach 1600; set the time directly.
  const struct timespec times[2] = {{0, UTIME_OMIT}, {UtcSeconds(1600, 12, 31, 23, 59, 59), 0}};
  struct stat status {};
  if (utimensat(AT_FDCWD, file.c_str(), times, 0) != 0 || stat(file.c_str(), &status) != 0 ||
      status.st_mtim.tv_sec != times[1].tv_sec) {
    fs::remove_all(folder);
    GTEST_SKIP() << "this file system cannot hold a time before 1601";
  }
  InDirectory inside(file.parent_path());
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("*.*", &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  bool found = false;
  do {
    if (std::string(entry.cFileName) != file.filename().string()) continue;
    found = true;
    SYSTEMTIME t{};
    EXPECT_FALSE(FileTimeToSystemTime(&entry.ftLastWriteTime, &t));
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  fs::remove_all(folder);
  EXPECT_TRUE(found);
}
#endif

}  // namespace
