// The scan lists each directory once for both of its passes; a listing
// that does not open is reported, and nothing below it is read.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "faults/switchboard.h"
#include "inventory/inventory.h"
#include "platform/process_values.h"
#include "support/records.h"
#include "support/start_menus.h"
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

// The root is held as a run holds the user's Start Menu, and each folder
// is opened from the one above it.
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
  const HeldMenu menu(root.str());
  EXPECT_EQ(ScanDirectory(owned, menu.root), 0);
  const std::string s = Sep();
  EXPECT_EQ(Outline(owned, root.str()), Sorted({": Help.lnk", s + "Programs: Zed.lnk", s + "Programs" + s + "Empty:",
                                                     s + "Programs" + s + "Tool: Tool.lnk"}));
  EXPECT_EQ(CallCount(Operation::kListFolder), 4);
}

TEST_F(ScanListing, AListingThatDoesNotOpenIsReported) {
  // The root's listing fails: nothing of it is recorded, and the scan
  // says so.
  ArmFault(Operation::kListFolder, 1, ERROR_IO_DEVICE);
  DirList owned{};
  const HeldMenu menu(root.str());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ScanDirectory(owned, menu.root), -1);
  std::string out;
  for (char c : ::testing::internal::GetCapturedStdout()) {
    if (c != '\r') out += c;
  }
  EXPECT_EQ(out, "Cannot read " + root.str() + ": " + ErrorText(ERROR_IO_DEVICE) + "\n");
  EXPECT_EQ(owned.count, 0u);
  EXPECT_EQ(CallCount(Operation::kListFolder), 1);
}

}  // namespace
