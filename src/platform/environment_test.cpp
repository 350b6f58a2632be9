// The environment and full paths, as Windows has them.
#include "platform/environment.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

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
#endif

}  // namespace
