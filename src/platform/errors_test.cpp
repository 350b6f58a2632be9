// The reason a "Cannot" line gives, on both systems.
#include "platform/errors.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <cerrno>
#endif

namespace {

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

// Codes the system has no text for on one build or either: the same
// words on both.
TEST(DescribeError, SaysAFileIsHeldOrNotARegularFileInTheSameWordsOnBothSystems) {
  char text[kErrorTextSize];
  DescribeError(kErrorNotRegularFile, text, sizeof text);
  EXPECT_STREQ(text, "Not a regular file");
  DescribeError(ERROR_SHARING_VIOLATION, text, sizeof text);
#ifndef _WIN32
  EXPECT_STREQ(text, "The process cannot access the file because it is being used by another process");
#else
  EXPECT_STRNE(text, "error 32");  // the system's own words
#endif
}

}  // namespace
