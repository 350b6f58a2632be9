// File times as the listing reports them and FileTimeToSystemTime converts
// them: the POSIX layer natively, the system's own calls under Wine.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/start_menus.h"
#include "support/temp_tree.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#endif

namespace {

// The last-write time a listing of folder gives the entry name; false when
// it lists no such entry.
bool ListedWriteTime(const std::string& folder, const std::string& name, FILETIME& time) {
  const HeldMenu menu(folder);
  MenuFolder open;
  if (OpenMenuRoot(menu.root, open) != 0) return false;
  WIN32_FIND_DATAA entry;
  HANDLE search = ListFolder(open, &entry);
  bool found = false;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (std::string(entry.cFileName) == name) {
        found = true;
        time = entry.ftLastWriteTime;
      }
    } while (NextFolderEntry(search, &entry));
    CloseFolderListing(search);
  }
  CloseFolder(open);
  return found;
}

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

TEST(ListFolder, ReportsTheLastWriteTimeOfEachFile) {
  TempDir dir;
  WriteFile(dir.path() / "f", "x");
  SetWriteTime(dir.path() / "f", UtcSeconds(2024, 2, 29, 13, 14, 15), 678900000);
  FILETIME time{};
  ASSERT_TRUE(ListedWriteTime(dir.str(), "f", time));
  SYSTEMTIME t{};
  ASSERT_TRUE(FileTimeToSystemTime(&time, &t));
  EXPECT_EQ(ToCalendar(t), (Calendar{2024, 2, 4, 29, 13, 14, 15, 678}));
}

#ifndef _WIN32
TEST(ListFolder, ATimeBefore1601FailsToConvert) {
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
  FILETIME time{};
  const bool found = ListedWriteTime(folder, "old", time);
  SYSTEMTIME t{};
  EXPECT_FALSE(found && FileTimeToSystemTime(&time, &t));
  fs::remove_all(folder);
  EXPECT_TRUE(found);
}
#endif

}  // namespace
