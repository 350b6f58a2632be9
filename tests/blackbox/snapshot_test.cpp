// The snapshot run on real trees, and the copy run's load of what it wrote
// (or of a damaged file).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/file_time.h"
#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/snapshot_image.h"
#include "support/temp_tree.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

// The snapshot file's bytes decoded; an empty image with the reason in
// *error when they are not exactly one whole snapshot.
SnapshotImage ReadSnapshot(const std::string& path, std::string* error) {
  SnapshotImage image;
  if (!fs::exists(path)) {
    *error = "no snapshot file";
    return image;
  }
  *error = DecodeSnapshotImage(ReadFile(path), image);
  return image;
}

std::string DescribeSnapshot(const std::string& path) {
  std::string error;
  const SnapshotImage image = ReadSnapshot(path, &error);
  return error.empty() ? DescribeSnapshotImage(image) : "undecodable: " + error;
}

void ExpectSilentSuccess(const RunResult& run) {
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0u);
}

void ExpectSilentFailure(const RunResult& run) {
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, kFailureStatus);
}

// A failed save: one line with the system's reason (compared where the
// text is known, POSIX's), and -1.
void ExpectFailedSave(const RunResult& run, const std::string& snapshot, const std::string& posix_reason) {
  const std::string head = "Cannot save " + snapshot + ": ";
#ifdef _WIN32
  static_cast<void>(posix_reason);
  EXPECT_EQ(run.out.rfind(head, 0), 0u) << run.out;
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
  EXPECT_GT(run.out.size(), head.size() + 2) << run.out;
#else
  EXPECT_EQ(run.out, head + posix_reason + "\n");
#endif
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, kFailureStatus);
}

ImageFile At(const char* name, ImageTime time) { return ImageFile{name, 1, time}; }

void Touch(const std::string& path, int64_t seconds, int64_t nanoseconds) {
  WriteFile(path, "");
  ASSERT_TRUE(SetExactWriteTime(path, seconds, nanoseconds)) << path;
}

TEST(SnapshotRun, RecordsTheTreeInDepthFirstPreOrderWithUtcTimes) {
  Sandbox sandbox;
  const std::string s = Sep();
  const std::string menu = sandbox.user_menu;
  fs::create_directories(menu + s + "Programs" + s + "Startup");
  Touch(menu + s + "Help.lnk", UtcSeconds(2021, 3, 4, 5, 6, 7), 890'000'000);
  Touch(menu + s + "Programs" + s + "Accessories" + s + "Calculator.lnk", UtcSeconds(1999, 12, 31, 23, 59, 59),
        999'000'000);
  Touch(menu + s + "Programs" + s + "Accessories" + s + "notes", UtcSeconds(2024, 2, 29, 12, 0, 0), 1'000'000);
  Touch(menu + s + "Programs" + s + "zz.lnk", 0, 0);
  Touch(menu + s + "b" + s + "c" + s + "d.lnk", UtcSeconds(2038, 1, 19, 3, 14, 8), 500'000'000);
  const ImageFile help = At("Help.lnk", {2021, 3, 4, 4, 5, 6, 7, 890});
#ifdef _WIN32
  Touch(menu + s + "hidden.lnk", UtcSeconds(1950, 6, 15, 8, 30, 45), 0);
  ASSERT_TRUE(SetFileAttributesA((menu + s + "hidden.lnk").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  const std::vector<ImageFile> root_files = {help, At("hidden.lnk", {1950, 6, 4, 15, 8, 30, 45, 0})};
#else
  Touch(menu + s + ".hidden.lnk", UtcSeconds(1950, 6, 15, 8, 30, 45), 0);
  const std::vector<ImageFile> root_files = {At(".hidden.lnk", {1950, 6, 4, 15, 8, 30, 45, 0}), help};
#endif
  const std::string tree_before = ListTree(sandbox.root.path());

  ExpectSilentSuccess(sandbox.Run({}));

  // Siblings by name with ASCII case folded ("b" before "Programs"); each
  // directory before its subdirectories, its whole subtree before its next
  // sibling; the root only because it holds files.
  const SnapshotImage expected = {
      {menu, root_files},
      {menu + s + "b", {}},
      {menu + s + "b" + s + "c", {At("d.lnk", {2038, 1, 2, 19, 3, 14, 8, 500})}},
      {menu + s + "Programs", {At("zz.lnk", {1970, 1, 4, 1, 0, 0, 0, 0})}},
      {menu + s + "Programs" + s + "Accessories",
       {At("Calculator.lnk", {1999, 12, 5, 31, 23, 59, 59, 999}), At("notes", {2024, 2, 4, 29, 12, 0, 0, 1})}},
      {menu + s + "Programs" + s + "Startup", {}},
  };
  EXPECT_EQ(DescribeSnapshot(sandbox.snapshot), DescribeSnapshotImage(expected));
  // The scan changed nothing: only the snapshot file is new.
  fs::remove(sandbox.snapshot);
  EXPECT_EQ(ListTree(sandbox.root.path()), tree_before);
}

TEST(SnapshotRun, EmptyOrMissingStartMenuSavesAnEmptyInventory) {
  Sandbox sandbox;
  ExpectSilentSuccess(sandbox.Run({}));
  EXPECT_EQ(ReadFile(sandbox.snapshot), std::string(4, '\0'));

  fs::create_directories(sandbox.user_menu);
  ExpectSilentSuccess(sandbox.Run({}));
  EXPECT_EQ(ReadFile(sandbox.snapshot), std::string(4, '\0'));
}

TEST(SnapshotRun, RelativeUserProfileKeepsTheSnapshotInTheProfile) {
  Sandbox sandbox;
  const std::string s = Sep();
  WriteFile(sandbox.user_menu + s + "r.lnk", "");
  WriteFile(sandbox.user_menu + s + "A" + s + "B" + s + "f.lnk", "");
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=profile");
  environment.push_back("SystemRoot=" + sandbox.system);
  const RunResult run = RunProgram(BuiltProgram("dravonel"), {"dravonel"}, environment, sandbox.root.str());
  ExpectSilentSuccess(run);

  // Every level resolved from the directory the run started in, and the
  // file landed there too, not in the last directory scanned.
  std::string error;
  const SnapshotImage image = ReadSnapshot(sandbox.snapshot, &error);
  ASSERT_EQ(error, "");
  std::vector<std::string> paths;
  for (const ImageDir& dir : image) paths.push_back(dir.path);
  const std::string menu = "profile" + s + "Start Menu";
  EXPECT_EQ(paths, (std::vector<std::string>{menu, menu + s + "A", menu + s + "A" + s + "B"}));
  EXPECT_FALSE(fs::exists(sandbox.user_menu + s + "A" + s + "B" + s + "Dravonel.Dat"));
}

TEST(SnapshotRun, FailedSaveIsReportedAndLeavesNoSnapshot) {
  Sandbox sandbox;
  WriteFile(sandbox.user_menu + Sep() + "a.lnk", "");
  // Something that is not a file where the snapshot goes: it cannot be
  // created, and the clean-up never removes a directory.
  fs::create_directories(sandbox.snapshot);
  ExpectFailedSave(sandbox.Run({}), sandbox.snapshot, "Is a directory");
  EXPECT_TRUE(fs::is_directory(sandbox.snapshot));
  EXPECT_TRUE(fs::is_empty(sandbox.snapshot));
  ExpectSilentFailure(sandbox.Run({"/c"}));

#ifndef _WIN32
  // A write that fails half way: the file size limit stops the second
  // block. Half a snapshot is deleted, never kept.
  fs::remove(sandbox.snapshot);
  WriteFile(sandbox.user_menu + Sep() + "D" + Sep() + "b.lnk", "");
  struct rlimit saved_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
  struct rlimit small_limit = saved_limit;
  small_limit.rlim_cur = 600;
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small_limit), 0);
  const RunResult run = sandbox.Run({});
  setrlimit(RLIMIT_FSIZE, &saved_limit);
  signal(SIGXFSZ, saved_handler);
  ExpectFailedSave(run, sandbox.snapshot, "File too large");
  EXPECT_FALSE(fs::exists(sandbox.snapshot));
#endif
}

// What another run meets while one holds the snapshot.
constexpr const char* kInUse = "The process cannot access the file because it is being used by another process";

TEST(SnapshotRun, SnapshotHeldByAnotherRunIsNeitherReplacedNorDeletedNorRead) {
  Sandbox sandbox;
  WriteFile(sandbox.user_menu + Sep() + "a.lnk", "");
  fs::create_directories(sandbox.all_users_menu);
  ExpectSilentSuccess(sandbox.Run({}));
  const std::string saved = ReadFile(sandbox.snapshot);

  // Share mode 0, as a run that is still writing, or carrying over, holds it.
  const HANDLE held = CreateFileA(sandbox.snapshot.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WriteFile(sandbox.user_menu + Sep() + "b.lnk", "");
  ExpectFailedSave(sandbox.Run({}), sandbox.snapshot, kInUse);
  // A second copy run says why it stops, and changes nothing: b.lnk, new
  // to the snapshot, stays where it is.
  const std::string tree = ListTree(sandbox.root.path());
  const RunResult second = sandbox.Run({"/c"});
  const std::string head = "Cannot read " + sandbox.snapshot + ": ";
#ifdef _WIN32
  EXPECT_EQ(second.out.rfind(head, 0), 0u) << second.out;
  EXPECT_EQ(second.out.find('\n'), second.out.size() - 1) << second.out;
#else
  EXPECT_EQ(second.out, head + kInUse + "\n");
#endif
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(second.exit_status, kFailureStatus);
  EXPECT_EQ(ListTree(sandbox.root.path()), tree);
  CloseHandle(held);
  EXPECT_EQ(ReadFile(sandbox.snapshot), saved);

  // The snapshot kept is the first one, which b.lnk is new to.
  ExpectCopyRun(sandbox, MovedFile(sandbox, "b.lnk"));
}

#ifndef _WIN32
// Something other than a regular file of one name where the snapshot goes,
// as an installer running as the user could plant it: neither run follows
// it, writes through it, waits on it or takes it away (but for a link or
// a second name, which are removed themselves), and the copy run refuses
// it without a word.
TEST(SnapshotRun, ALinkFifoOrDeviceAtTheSnapshotIsNeverFollowedWrittenOrWaitedOn) {
  Sandbox sandbox;
  WriteFile(sandbox.user_menu + Sep() + "a.lnk", "");
  fs::create_directories(sandbox.all_users_menu);
  ExpectSilentSuccess(sandbox.Run({}));
  // A whole snapshot outside: what following a link would write or load.
  const std::string outside = sandbox.root.str() + "/outside.dat";
  fs::rename(sandbox.snapshot, outside);
  const std::string whole = ReadFile(outside);
  WriteFile(sandbox.user_menu + Sep() + "b.lnk", "");
  const std::string nowhere = sandbox.root.str() + "/nowhere.dat";

  struct Planted {
    const char* kind;
    bool removed;  // by the failed save's clean-up
  };
  std::vector<Planted> planted = {{"link", true}, {"dangling link", true}, {"second name", true}, {"fifo", false}};
  if (geteuid() == 0) planted.push_back({"device", false});  // only root can make one
  for (const Planted& row : planted) {
    SCOPED_TRACE(row.kind);
    const std::string kind = row.kind;
    const auto plant = [&] {
      if (kind == "link") fs::create_symlink(outside, sandbox.snapshot);
      if (kind == "dangling link") fs::create_symlink(nowhere, sandbox.snapshot);
      if (kind == "second name") fs::create_hard_link(outside, sandbox.snapshot);
      if (kind == "fifo") {
        ASSERT_EQ(mkfifo(sandbox.snapshot.c_str(), 0600), 0);
      }
      if (kind == "device") {
        ASSERT_EQ(mknod(sandbox.snapshot.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
      }
    };
    plant();
    ExpectFailedSave(sandbox.Run({}), sandbox.snapshot, "Not a regular file");
    EXPECT_EQ(ReadFile(outside), whole);
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_EQ(fs::exists(fs::symlink_status(sandbox.snapshot)), !row.removed);

    if (row.removed) plant();
    const std::string tree = ListTree(sandbox.root.path());
    ExpectSilentFailure(sandbox.Run({"/c"}));
    EXPECT_EQ(ListTree(sandbox.root.path()), tree);
    EXPECT_EQ(ReadFile(outside), whole);
    fs::remove(sandbox.snapshot);
  }
}
#endif

// The lengths to cut a snapshot of one directory holding one file at:
// every length on POSIX; under Wine, where a start costs a tenth of a
// second, the first two and the last byte of each field and one in its
// middle (the reader's own tests and its fuzzer try every length).
std::vector<std::size_t> CutLengths([[maybe_unused]] std::size_t path_length,
                                    [[maybe_unused]] std::size_t name_length) {
  std::vector<std::size_t> lengths;
#ifdef _WIN32
  // Where each field begins: the count, the directory image (file count,
  // three link slots, the path and what follows its NUL), the file image
  // (link slot, the name and what follows its NUL, time flag, fill, the
  // eight time fields, fill), and the end.
  std::vector<std::size_t> starts = {0, 4, 8, 12, 16, 20, 20 + path_length, 280, 284, 284 + name_length, 544, 545};
  for (std::size_t field = 546; field <= 564; field += 2) starts.push_back(field);
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    for (const std::size_t length : {starts[i], starts[i] + 1, (starts[i] + starts[i + 1]) / 2, starts[i + 1] - 1}) {
      if (lengths.empty() || lengths.back() < length) lengths.push_back(length);
    }
  }
#else
  for (std::size_t length = 0; length < 564; ++length) lengths.push_back(length);
#endif
  return lengths;
}

TEST(CopyRun, EveryTruncationOfASnapshotFailsAndLeavesItInPlace) {
  Sandbox sandbox;
  WriteFile(sandbox.user_menu + Sep() + "a.lnk", "");
  ExpectSilentSuccess(sandbox.Run({}));
  const std::string whole = ReadFile(sandbox.snapshot);
  ASSERT_EQ(whole.size(), 4 + 276 + 284u);
  const std::string tree = ListTree(sandbox.root.path());
  for (const std::size_t length : CutLengths(sandbox.user_menu.size(), 5)) {
    const std::string cut = whole.substr(0, length);
    WriteFile(sandbox.snapshot, cut);
    const RunResult run = sandbox.Run({"/c"});
    ASSERT_EQ(run.exit_status, kFailureStatus) << "cut at " << length;
    ASSERT_EQ(run.out + run.err, "") << "cut at " << length;
    ASSERT_EQ(ReadFile(sandbox.snapshot), cut) << "cut at " << length;
  }
  EXPECT_EQ(ListTree(sandbox.root.path()), tree);
}

TEST(CopyRun, DamagedSnapshotsFailCleanly) {
  Sandbox sandbox;
  WriteFile(sandbox.user_menu + Sep() + "a.lnk", "");
  const std::string unterminated(300, 'u');
  std::string huge_files = EncodeSnapshotImage({{sandbox.user_menu, {{"a.lnk", 1, {}}}}});
  huge_files.replace(4, 4, std::string("\xFF\xFF\xFF\xFF", 4));
  const std::vector<std::string> damaged = {
      "",
      std::string("\xFF\xFF\xFF\xFF", 4) + std::string(8, '\0'),  // four billion blocks in 12 bytes
      huge_files,
      EncodeSnapshotImage({{unterminated, {}}}),
      EncodeSnapshotImage({{sandbox.user_menu, {{unterminated, 1, {}}}}}),
  };
  for (const std::string& bytes : damaged) {
    WriteFile(sandbox.snapshot, bytes);
    ExpectSilentFailure(sandbox.Run({"/c"}));
    EXPECT_EQ(ReadFile(sandbox.snapshot), bytes);
  }
}

TEST(SnapshotRun, WriteTimeBefore1601IsRecordedAsNotValid) {
  const ShmDir tmpfs;
  if (tmpfs.str().empty()) GTEST_SKIP() << "no tmpfs at /dev/shm: a time before 1601 cannot be stored";
  const std::string s = Sep();
  const std::string menu = tmpfs.str() + s + "Start Menu";
  WriteFile(menu + s + "new.lnk", "");
  ASSERT_TRUE(SetExactWriteTime(menu + s + "new.lnk", UtcSeconds(2001, 2, 3, 4, 5, 6), 0));
  WriteFile(menu + s + "old.lnk", "");
  if (!SetExactWriteTime(menu + s + "old.lnk", UtcSeconds(1500, 1, 1), 0)) {
    GTEST_SKIP() << tmpfs.str() << " does not hold a time before 1601";
  }
  Sandbox sandbox;  // for SystemRoot only
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + tmpfs.str());
  environment.push_back("SystemRoot=" + sandbox.system);
  ExpectSilentSuccess(RunProgram(BuiltProgram("dravonel"), {"dravonel"}, environment));

  std::string error;
  const SnapshotImage image = ReadSnapshot(tmpfs.str() + s + "Dravonel.Dat", &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(image.size(), 1u);
  ASSERT_EQ(image[0].files.size(), 2u);
  EXPECT_EQ(image[0].files[0].name, "new.lnk");
  EXPECT_EQ(image[0].files[0].time_valid, 1);
  EXPECT_EQ(image[0].files[1].name, "old.lnk");
  EXPECT_EQ(image[0].files[1].time_valid, 0);
}

}  // namespace
