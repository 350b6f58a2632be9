#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/process_values.h"
#include "snapshot/snapshot.h"
#include "support/records.h"
#include "support/inventory_image.h"
#include "support/temp_tree.h"

namespace {

// A snapshot path of the test's own in a fresh directory.
struct SaveSnapshotTest : ::testing::Test {
  TempDir folder;
  fs::path file = folder.path() / "Dravonel.Dat";
  void SetUp() override { ASSERT_EQ(JoinPath(SnapshotPath, file.string().c_str(), ""), 0); }
};

// The golden inventory: the same on every system, paths included.
SnapshotImage GoldenImage() {
  return {
      {"C:\\Start Menu", {{"Help.lnk", 1, {2021, 3, 4, 4, 5, 6, 7, 890}}}},
      {"C:\\Start Menu\\Programs", {}},
      {"C:\\Start Menu\\Programs\\Tools",
       {// Not valid: the time fields mean nothing but are stored all the same.
        {"Tool.lnk", 0, {0xFFFF, 0x1234, 1, 2, 3, 4, 5, 6}},
        {"Readme", 1, {1999, 12, 5, 31, 23, 59, 59, 999}}}},
  };
}

// The golden file, byte by byte: 4 + 3 * 276 + 3 * 284 bytes, zero
// wherever nothing below is set. Both builds must write exactly this.
std::string GoldenBytes() {
  std::string bytes(1684, '\0');
  const struct {
    std::size_t offset;
    std::string value;
  } fields[] = {
      {0, std::string("\x03\x00\x00\x00", 4)},  // three blocks
      // Block 0 at 4: one file.
      {4, std::string("\x01\x00\x00\x00", 4)},
      {20, "C:\\Start Menu"},
      {284, "Help.lnk"},  // its file image at 280
      {544, "\x01"},
      {546, std::string("\xE5\x07\x03\x00\x04\x00\x04\x00\x05\x00\x06\x00\x07\x00\x7A\x03", 16)},
      // Block 1 at 564: no files.
      {580, "C:\\Start Menu\\Programs"},
      // Block 2 at 840: two files.
      {840, std::string("\x02\x00\x00\x00", 4)},
      {856, "C:\\Start Menu\\Programs\\Tools"},
      {1120, "Tool.lnk"},  // its file image at 1116; time_valid 0 at 1380
      {1382, std::string("\xFF\xFF\x34\x12\x01\x00\x02\x00\x03\x00\x04\x00\x05\x00\x06\x00", 16)},
      {1404, "Readme"},  // its file image at 1400
      {1664, "\x01"},
      {1666, std::string("\xCF\x07\x0C\x00\x05\x00\x1F\x00\x17\x00\x3B\x00\x3B\x00\xE7\x03", 16)},
  };
  for (const auto& field : fields) bytes.replace(field.offset, field.value.size(), field.value);
  return bytes;
}

TEST_F(SaveSnapshotTest, GoldenFileIsWrittenExactlyAndReadsBack) {
  // The tests' own encoder agrees with the hand-made bytes.
  ASSERT_EQ(EncodeSnapshotImage(GoldenImage()), GoldenBytes());

  {

    DirList saved{};

    saved = ListOfImage(GoldenImage());

    ASSERT_EQ(SaveSnapshot(saved), 0);

  }
  EXPECT_EQ(ReadFile(file), GoldenBytes());

  WriteFile(file, GoldenBytes());
  DirList loaded{};
  ASSERT_EQ(LoadSnapshot(loaded), 0);
  EXPECT_EQ(DescribeSnapshotImage(ImageOfList(loaded)), DescribeSnapshotImage(GoldenImage()));
  EXPECT_TRUE(CountsMatchLinks(loaded));
  EXPECT_EQ(loaded.count, 3u);
  EXPECT_EQ(ReadFile(file), GoldenBytes());  // reading leaves it as it was
}

TEST_F(SaveSnapshotTest, EmptyInventoryIsACountOfZeroAndADirectoryAloneIsItsImage) {
  ASSERT_EQ(SaveSnapshot(DirList{}), 0);
  EXPECT_EQ(ReadFile(file), std::string(4, '\0'));
  DirList loaded{};
  ASSERT_EQ(LoadSnapshot(loaded), 0);
  EXPECT_EQ(loaded.count, 0u);
  EXPECT_EQ(loaded.head, nullptr);

  DirList one{};
  FindOrAppendDir(one, "M");
  ASSERT_EQ(SaveSnapshot(one), 0);
  std::string expected(4 + kDirImageSize, '\0');
  expected[0] = 1;
  expected[20] = 'M';
  EXPECT_EQ(ReadFile(file), expected);
}

TEST_F(SaveSnapshotTest, WritesZerosAfterTerminatorsWhateverMemoryHolds) {
  const SnapshotImage image = {{"D", {{"f", 1, {2000, 1, 6, 1, 0, 0, 0, 0}}}}};
  DirList list{};
  list = ListOfImage(image);
  // The strings with anything but zeros after their terminators.
  PathBuffer path;
  PathBuffer name;
  std::memset(path, 'x', kMaxPath);
  std::memset(name, 'y', kMaxPath);
  std::memcpy(path, "D", 2);
  std::memcpy(name, "f", 2);
  list.head->path = path;
  list.head->first_file->name = name;
  ASSERT_EQ(SaveSnapshot(list), 0);
  EXPECT_EQ(ReadFile(file), EncodeSnapshotImage(image));
}

TEST_F(SaveSnapshotTest, ReplacesALongerEarlierSnapshot) {
  WriteFile(file, std::string(5000, '\x7F'));
  ASSERT_EQ(SaveSnapshot(DirList{}), 0);
  EXPECT_EQ(ReadFile(file), std::string(4, '\0'));
}

TEST_F(SaveSnapshotTest, RefusesAListWhoseCountsDisagreeWithItsLinks) {
  // The file would not read back as this list.
  DirList list{};
  list = ListOfImage({{"D", {{"f", 1, {}}}}});
  list.count = 2;
  EXPECT_EQ(SaveSnapshot(list), -1);
  list.count = 1;
  list.head->file_count = 2;
  EXPECT_EQ(SaveSnapshot(list), -1);
  list.head->file_count = 1;
  list.head->next = list.head;  // more records than counted
  EXPECT_EQ(SaveSnapshot(list), -1);
  list.head->next = nullptr;
}

}  // namespace
