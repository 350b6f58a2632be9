#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/process_values.h"
#include "snapshot/snapshot.h"
#include "support/records.h"
#include "support/inventory_image.h"
#include "support/temp_tree.h"

namespace {

struct LoadSnapshotTest : ::testing::Test {
  TempDir folder;
  fs::path file = folder.path() / "Dravonel.Dat";
  void SetUp() override { ASSERT_EQ(JoinPath(SnapshotPath, file.string().c_str(), ""), 0); }
};

// Two blocks, three files: small enough to cut at every offset.
const SnapshotImage kSmall = {
    {"R", {{"a.lnk", 1, {2020, 2, 6, 29, 1, 2, 3, 4}}, {"b", 0, {}}}},
    {"R\\S", {{"c.lnk", 1, {1601, 1, 1, 1, 0, 0, 0, 0}}}},
};

std::string RandomBytes(std::mt19937& random, std::size_t max_length) {
  std::uniform_int_distribution<std::size_t> length(0, max_length);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string text(length(random), ' ');
  for (char& c : text) c = static_cast<char>(byte(random));
  return text;
}

// Paths and names of every length that fits and any bytes but NUL; times
// with any field values, valid or not; now and then a path seen before,
// never the one just before it (the reader would merge the two).
SnapshotImage RandomImage(std::mt19937& random, std::size_t max_dirs) {
  std::uniform_int_distribution<std::size_t> dirs(0, max_dirs);
  std::uniform_int_distribution<int> files(0, 8);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> field(0, 0xFFFF);
  SnapshotImage image(dirs(random));
  for (std::size_t d = 0; d < image.size(); ++d) {
    ImageDir& dir = image[d];
    do {
      dir.path = (d >= 2 && percent(random) < 10) ? image[d / 2].path : RandomBytes(random, kMaxPath - 1);
    } while (d > 0 && dir.path == image[d - 1].path);
    for (int f = files(random); f > 0; --f) {
      ImageFile file;
      file.name = RandomBytes(random, kMaxPath - 1);
      const int kind = percent(random);
      file.time_valid = static_cast<uint8_t>(kind < 20 ? 0 : kind < 90 ? 1 : kind);
      uint16_t t[8];
      for (uint16_t& value : t) value = static_cast<uint16_t>(field(random));
      file.time = ImageTime{t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7]};
      dir.files.push_back(file);
    }
  }
  return image;
}

TEST_F(LoadSnapshotTest, MissingFileFails) {
  DirList list{};
  EXPECT_EQ(LoadSnapshot(list), -1);
  EXPECT_EQ(list.count, 0u);
}

TEST_F(LoadSnapshotTest, RandomInventoriesComeBackIdenticalAndInOrder) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 40; ++round) {
    // Now and then one larger than the reader's and writer's buffers.
    const SnapshotImage image = RandomImage(random, round % 8 == 0 ? 400 : 12);
    {
      DirList saved{};
      saved = ListOfImage(image);
      ASSERT_EQ(SaveSnapshot(saved), 0);
    }
    const std::string bytes = ReadFile(file);
    ASSERT_EQ(bytes, EncodeSnapshotImage(image)) << "round " << round;

    DirList loaded{};
    ASSERT_EQ(LoadSnapshot(loaded), 0) << "round " << round;
    ASSERT_EQ(DescribeSnapshotImage(ImageOfList(loaded)), DescribeSnapshotImage(image)) << "round " << round;
    ASSERT_TRUE(CountsMatchLinks(loaded));
  }
}

TEST_F(LoadSnapshotTest, EveryTruncationFailsAndLeavesTheFileInPlace) {
  const std::string whole = EncodeSnapshotImage(kSmall);
  ASSERT_EQ(whole.size(), 4 + 2 * kDirImageSize + 3 * kFileImageSize);
  for (std::size_t length = 0; length < whole.size(); ++length) {
    const std::string cut = whole.substr(0, length);
    WriteFile(file, cut);
    DirList list{};
    ASSERT_EQ(LoadSnapshot(list), -1) << "cut at " << length;
    // What was read so far is still a consistent list.
    ASSERT_TRUE(CountsMatchLinks(list)) << "cut at " << length;
    ASSERT_EQ(ReadFile(file), cut) << "cut at " << length;
  }
  WriteFile(file, whole);
  DirList list{};
  EXPECT_EQ(LoadSnapshot(list), 0);
}

TEST_F(LoadSnapshotTest, BytesAfterTheLastBlockAreIgnored) {
  WriteFile(file, EncodeSnapshotImage(kSmall) + "trailing");
  DirList list{};
  ASSERT_EQ(LoadSnapshot(list), 0);
  EXPECT_EQ(DescribeSnapshotImage(ImageOfList(list)), DescribeSnapshotImage(kSmall));
}

TEST_F(LoadSnapshotTest, CountsTheFileCannotHoldFailBeforeAnythingIsAllocated) {
  DirList list{};
  // Twelve bytes claiming four billion blocks.
  WriteFile(file, std::string("\xFF\xFF\xFF\xFF", 4) + std::string(8, '\0'));
  EXPECT_EQ(LoadSnapshot(list), -1);
  EXPECT_EQ(list.count, 0u);

  // A whole first block, but a count one higher than the blocks present:
  // the first block is not even taken.
  std::string bytes = EncodeSnapshotImage({{"D", {}}});
  bytes[0] = 2;
  WriteFile(file, bytes);
  EXPECT_EQ(LoadSnapshot(list), -1);
  EXPECT_EQ(list.count, 0u);

  // A directory claiming four billion files, one of them present.
  bytes = EncodeSnapshotImage({{"D", {{"f", 1, {}}}}});
  bytes.replace(4, 4, std::string("\xFF\xFF\xFF\xFF", 4));
  WriteFile(file, bytes);
  EXPECT_EQ(LoadSnapshot(list), -1);
  EXPECT_EQ(list.count, 0u);

  // Files enough for this block but none left for the next one.
  bytes = EncodeSnapshotImage({{"D", {{"f", 1, {}}}}, {"E", {}}});
  bytes.replace(4, 4, std::string("\x02\x00\x00\x00", 4));
  bytes.resize(bytes.size() - kDirImageSize);
  WriteFile(file, bytes);
  EXPECT_EQ(LoadSnapshot(list), -1);
  EXPECT_EQ(list.count, 0u);
}

TEST_F(LoadSnapshotTest, PathOrNameWithoutATerminatorFails) {
  const std::string longest(kMaxPath - 1, 'n');
  const std::string unterminated(kMaxPath, 'n');
  DirList list{};
  WriteFile(file, EncodeSnapshotImage({{longest, {{longest, 1, {}}}}}));
  ASSERT_EQ(LoadSnapshot(list), 0);
  EXPECT_EQ(DescribeSnapshotImage(ImageOfList(list)),
            DescribeSnapshotImage({{longest, {{longest, 1, {}}}}}));

  for (const SnapshotImage& bad : {SnapshotImage{{unterminated, {}}},
                                   SnapshotImage{{"D", {{"ok", 1, {}}, {unterminated, 1, {}}}}}}) {
    const std::string bytes = EncodeSnapshotImage(bad);
    WriteFile(file, bytes);
    DirList rejected{};
    EXPECT_EQ(LoadSnapshot(rejected), -1);
    EXPECT_EQ(ReadFile(file), bytes);
  }
}

}  // namespace
