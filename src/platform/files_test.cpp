// Files: attributes, share mode 0 and deletion, as Windows has them.
#include "platform/held_file.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/temp_tree.h"

#ifndef _WIN32
#include <dlfcn.h>

// This test program's own flock comes before the C library's: right after
// the first lock it takes once armed, AfterLock runs.
namespace {
std::function<void()> AfterLock;
}  // namespace

extern "C" int flock(int fd, int operation) noexcept {
  static const auto library = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "flock"));
  const int result = library(fd, operation);
  if (result == 0 && AfterLock) {
    const std::function<void()> after = std::move(AfterLock);
    AfterLock = nullptr;
    after();
  }
  return result;
}
#endif

namespace {

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
  HANDLE writer = OpenExclusive(snapshot, GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer, "half", 4, &written, nullptr));

  EXPECT_EQ(OpenExclusive(snapshot, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(OpenExclusive(snapshot, GENERIC_WRITE, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
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

#ifndef _WIN32
// Another file renamed over the name after the open, here at the last
// moment, right after the lock: the lock holds a file the name no longer
// leads to, and the one it leads to may be another run's. Share mode 0
// refuses it as held.
TEST(CreateFileA, ShareModeZeroRefusesAFileRenamedOverItsNameAfterTheLock) {
  TempDir dir;
  const fs::path snapshot = dir.path() / "Dravonel.Dat";
  WriteFile(snapshot, "first");
  WriteFile(dir.path() / "other", "second");
  AfterLock = [&] { fs::rename(dir.path() / "other", snapshot); };
  const HANDLE opened = OpenExclusive(snapshot, GENERIC_READ, OPEN_EXISTING);
  EXPECT_FALSE(AfterLock) << "the hook never struck";
  AfterLock = nullptr;
  EXPECT_EQ(opened, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  if (opened != INVALID_HANDLE_VALUE) CloseHandle(opened);
  EXPECT_EQ(ReadFile(snapshot), "second");
}
#endif

TEST(CreateFileA, OpenAlwaysKeepsTheBytesUntilTheFileIsCutAtItsStart) {
  TempDir dir;
  const fs::path file = dir.path() / "Dravonel.Dat";
  HANDLE created = OpenExclusive(file, GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsRegularFile(created));
  CloseHandle(created);
  WriteFile(file, "earlier");
  HANDLE opened = OpenExclusive(file, GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(opened, INVALID_HANDLE_VALUE);
  DWORD high = 0;
  EXPECT_EQ(GetFileSize(opened, &high), 7u);  // "earlier"
  EXPECT_TRUE(SetEndOfFile(opened));
  EXPECT_EQ(GetFileSize(opened, &high), 0u);
  CloseHandle(opened);
  EXPECT_EQ(ReadFile(file), "");
}

TEST(DeleteHeldFile, DeletesTheFileItHoldsAndLetsGoOfIt) {
  TempDir dir;
  const fs::path file = dir.path() / "Dravonel.Dat";
  WriteFile(file, "snapshot");
  HANDLE held = OpenExclusive(file, GENERIC_READ | DELETE, OPEN_EXISTING);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteHeldFile(held, file.string().c_str()));
  EXPECT_FALSE(fs::exists(file));

#ifdef _WIN32
  // Without DELETE access the file stays, and the handle is let go all
  // the same: the file opens again at once.
  WriteFile(file, "snapshot");
  held = OpenExclusive(file, GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteHeldFile(held, file.string().c_str()));
  EXPECT_EQ(ReadFile(file), "snapshot");
  held = OpenExclusive(file, GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CloseHandle(held);
#endif
}

TEST(DeleteFileA, NeverRemovesADirectory) {
  TempDir dir;
  fs::create_directory(dir.path() / "d");
  EXPECT_FALSE(DeleteFileA((dir.path() / "d").string().c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() / "d"));
  EXPECT_FALSE(DeleteFileA((dir.path() / "nothing").string().c_str()));
}

}  // namespace
