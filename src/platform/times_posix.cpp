// Time conversion on POSIX: modification times as FILETIME ticks, and
// ticks as the calendar time FileTimeToSystemTime gives on Windows.

#include <cstdint>

#include "platform/posix.h"

namespace {

// FILETIME ticks (100 ns) between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000;
constexpr int64_t kTicksPerSecond = 10000000;

}  // namespace

FILETIME FileTimeFromTimespec(const struct timespec& when) {
  constexpr int64_t kFirstSecond = -kUnixEpochTicks / kTicksPerSecond;
  constexpr int64_t kLastSecond = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond - 1;
  uint64_t value = 0x8000000000000000ull;
  if (when.tv_sec >= kFirstSecond && when.tv_sec <= kLastSecond) {
    // Ticks rounded down: tv_nsec is never negative, so this also holds
    // before 1970.
    value = static_cast<uint64_t>(when.tv_sec * kTicksPerSecond + when.tv_nsec / 100 + kUnixEpochTicks);
  }
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  const uint64_t ticks = (static_cast<uint64_t>(file_time->dwHighDateTime) << 32) |
                         file_time->dwLowDateTime;
  if (ticks & 0x8000000000000000ull) return FALSE;

  const uint64_t total_ms = ticks / 10000;
  const uint64_t days = total_ms / 86400000;
  const uint64_t ms_of_day = total_ms % 86400000;

  // Days since 1601-01-01 to a civil date (proleptic Gregorian), counted
  // from 0000-03-01 so that leap days fall at the end of each year.
  constexpr int64_t kDaysFrom0000March1To1601 = 584694;
  const int64_t z = static_cast<int64_t>(days) + kDaysFrom0000March1To1601;
  const int64_t era = z / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 = March
  const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

  system_time->wYear = static_cast<WORD>(year);
  system_time->wMonth = static_cast<WORD>(month);
  system_time->wDay = static_cast<WORD>(day);
  // 1601-01-01 was a Monday; Sunday is 0.
  system_time->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  system_time->wHour = static_cast<WORD>(ms_of_day / 3600000);
  system_time->wMinute = static_cast<WORD>(ms_of_day / 60000 % 60);
  system_time->wSecond = static_cast<WORD>(ms_of_day / 1000 % 60);
  system_time->wMilliseconds = static_cast<WORD>(ms_of_day % 1000);
  return TRUE;
}
