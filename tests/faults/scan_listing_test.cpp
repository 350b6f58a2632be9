// The scan lists each directory once for both of its passes, and lists
// again only when the first listing did not open, which it reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "faults/switchboard.h"
#include "inventory/inventory.h"
#include "platform/process_values.h"
#include "support/records.h"
#include "support/temp_tree.h"

namespace {

// One line a directory, "<path below root>: name ...", in sorted order:
// under Wine siblings come in the host's order.
std::string Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string Outline(const DirList& list, const std::string& root) {
  std::vector<std::string> lines;
  for (const DirRecord* d = list.head; d != nullptr; d = d->next) {
    std::string line = std::string(d->path).substr(root.size()) + ":";
    for (const FileRecord* f = d->first_file; f != nullptr; f = f->next) line += std::string(" ") + f->name;
    lines.push_back(line);
  }
  return Sorted(lines);
}

// The root is the user's Start Menu, as in a run: on POSIX each folder is
// then opened from the one above it.
struct ScanListing : ::testing::Test {
  void SetUp() override {
    DisarmFaults();
    std::snprintf(UserStartMenu, sizeof UserStartMenu, "%s", root.str().c_str());
    WriteFile(root.path() / "Help.lnk", "");
    WriteFile(root.path() / "Programs" / "Tool" / "Tool.lnk", "");
    WriteFile(root.path() / "Programs" / "Zed.lnk", "");
    fs::create_directories(root.path() / "Programs" / "Empty");
  }
  void TearDown() override {
    DisarmFaults();
    UserStartMenu[0] = '\0';
  }

  TempDir root;
};

TEST_F(ScanListing, EachDirectoryIsListedOnceForBothPasses) {
  DirList owned{};
  EXPECT_EQ(ScanDirectory(owned, root.str().c_str()), 0);
  const std::string s = Sep();
  EXPECT_EQ(Outline(owned, root.str()), Sorted({": Help.lnk", s + "Programs: Zed.lnk", s + "Programs" + s + "Empty:",
                                                     s + "Programs" + s + "Tool: Tool.lnk"}));
  EXPECT_EQ(CallCount(Operation::kFindFirstFile), 4);
}

TEST_F(ScanListing, AListingThatDoesNotOpenIsTriedAgainForTheSubdirectories) {
  // The root's listing fails: its own file is lost, never the directories
  // below it, and the scan says so.
  ArmFault(Operation::kFindFirstFile, 1, ERROR_IO_DEVICE);
  DirList owned{};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ScanDirectory(owned, root.str().c_str()), -1);
  std::string out;
  for (char c : ::testing::internal::GetCapturedStdout()) {
    if (c != '\r') out += c;
  }
  EXPECT_EQ(out, "Cannot read " + root.str() + ": " + ErrorText(ERROR_IO_DEVICE) + "\n");
  const std::string s = Sep();
  EXPECT_EQ(Outline(owned, root.str()), Sorted({s + "Programs: Zed.lnk", s + "Programs" + s + "Empty:",
                                                     s + "Programs" + s + "Tool: Tool.lnk"}));
  EXPECT_EQ(CallCount(Operation::kFindFirstFile), 5);
}

TEST_F(ScanListing, UnderARelativeRootAStartThatCannotBeGivenBackStopsTheScan) {
  // Each child path then resolves from the start only: nothing more is read.
  const fs::path start = fs::current_path();
  fs::current_path(root.path().parent_path());
  const std::string scan_start = fs::current_path().string();
  ArmFault(Operation::kSetCurrentDirectory, 2);  // giving it back after the root's listing
  DirList owned{};
  ::testing::internal::CaptureStdout();
  const int scanned = ScanDirectory(owned, root.path().filename().string().c_str());
  std::string out = ::testing::internal::GetCapturedStdout();
  fs::current_path(start);
  out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
  EXPECT_EQ(scanned, -1);
  EXPECT_EQ(out, "Cannot read " + scan_start + ": " + ErrorText(ERROR_ACCESS_DENIED) + "\n");
  EXPECT_EQ(owned.count, 0u);
  EXPECT_EQ(CallCount(Operation::kSetCurrentDirectory), 2);
}

}  // namespace
