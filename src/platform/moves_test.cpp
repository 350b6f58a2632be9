// Moves: never overwriting, replacing in one step, never through a link
// below a Start Menu root, the same file under both names, and across
// devices ending in exactly one place.

// The hook below defines openat, which the C library's checked variant
// would otherwise define inline in this file.
#if !defined(_WIN32) && defined(_FORTIFY_SOURCE)
#undef _FORTIFY_SOURCE
#endif

#include "platform/errors.h"
#include "platform/moves.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/menu_lines.h"
#include "support/start_menus.h"
#include "support/temp_tree.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#endif

namespace {

// What the last Move came to.
MoveOutcome Last{};

// Moves source to target as relocation moves an item, each below the
// folder it lies in, held as a Start Menu root. Returns 0 when it moved,
// -1 otherwise; the whole answer is in Last.
int Move(const std::string& source, const std::string& target, DWORD flags) {
  const fs::path from = source;
  const fs::path to = target;
  const HeldMenu from_root(from.parent_path().string());
  const HeldMenu to_root(to.parent_path().string());
  MoveItem(from_root.root, from.filename().string().c_str(), to_root.root, to.filename().string().c_str(), flags,
           Last);
  return Last.result == MoveResult::kMoved ? 0 : -1;
}

#ifndef _WIN32
// The same below the two Start Menus, by the part below them.
int MoveBelow(const StartMenus& menus, const std::string& relative, DWORD flags) {
  MoveItem(menus.user_root, relative.c_str(), menus.all_users_root, relative.c_str(), flags, Last);
  return Last.result == MoveResult::kMoved ? 0 : -1;
}
#endif

// True when the last move left no name behind.
bool NoLeftover() { return Last.leftover[0] == '\0'; }

TEST(MoveItem, NeverOverwritesAFileOrADirectory) {
  TempDir dir;
  const fs::path source = dir.path() / "source.lnk";
  const fs::path file_there = dir.path() / "file.lnk";
  const fs::path dir_there = dir.path() / "dir";
  WriteFile(source, "new");
  WriteFile(file_there, "old");
  fs::create_directory(dir_there);

  EXPECT_NE(Move(source.string(), file_there.string(), MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_EQ(Last.error, ERROR_ALREADY_EXISTS);
  EXPECT_NE(Move(source.string(), dir_there.string(), MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_EQ(Last.error, ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadFile(source), "new");
  EXPECT_EQ(ReadFile(file_there), "old");
  EXPECT_TRUE(fs::is_empty(dir_there));

  const fs::path source_dir = dir.path() / "source_dir";
  WriteFile(source_dir / "inside", "kept");
  EXPECT_NE(Move(source_dir.string(), dir_there.string(), MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_EQ(Last.error, ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadFile(source_dir / "inside"), "kept");

  const fs::path moved = dir.path() / "moved";
  EXPECT_EQ(Move(source_dir.string(), moved.string(), MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_EQ(ReadFile(moved / "inside"), "kept");
  EXPECT_FALSE(fs::exists(source_dir));
}

TEST(MoveItem, FailsWithoutCreatingAMissingParent) {
  TempDir dir;
  WriteFile(dir.path() / "a", "data");
  const fs::path destination = dir.path() / "missing" / "a";
  EXPECT_NE(Move((dir.path() / "a").string(), destination.string(), MOVEFILE_COPY_ALLOWED), 0);
  // By the text a "Cannot move" line gives: a preview foresees a move's
  // failure by it.
  EXPECT_EQ(ErrorText(Last.error), ErrorText(ERROR_PATH_NOT_FOUND));
  EXPECT_NE(Move((dir.path() / "a").string(), destination.string(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_EQ(ErrorText(Last.error), ErrorText(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(ReadFile(dir.path() / "a"), "data");
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

TEST(MoveItem, ReplacesAFileInOneStepButNeverADirectory) {
  TempDir dir;
  const fs::path source = dir.path() / "new.lnk";
  const fs::path target = dir.path() / "target.lnk";
  WriteFile(source, "new");
  WriteFile(target, "old");
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  EXPECT_EQ(Move(source.string(), target.string(), flags), 0);
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_FALSE(fs::exists(source));
  EXPECT_TRUE(NoLeftover());

  WriteFile(source, "again");
  fs::create_directory(dir.path() / "dir");
  EXPECT_NE(Move(source.string(), (dir.path() / "dir").string(), flags), 0);
  EXPECT_EQ(Last.error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadFile(source), "again");
  EXPECT_TRUE(fs::is_directory(dir.path() / "dir"));
}

TEST(MoveItem, TheSameFileUnderBothNamesEndsAtTheDestinationOnly) {
  TempDir dir;
  const fs::path source = dir.path() / "Tool.lnk";
  const fs::path target = dir.path() / "shared" / "Tool.lnk";
  WriteFile(target, "tool");
  fs::create_hard_link(target, source);
  // A rename between two names of one file does nothing and succeeds.
  EXPECT_NE(Move(source.string(), target.string(), 0), 0);
  EXPECT_TRUE(fs::exists(source));
  EXPECT_EQ(Move(source.string(), target.string(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFile(target), "tool");
  EXPECT_TRUE(NoLeftover());
}

// Only folders, links and regular files with one name move: a second name
// would take the grant to a file outside both Start Menus, and a FIFO,
// socket or device is no menu item. Each is refused with a reason that
// says why, whether it replaces or not, and stays where it was.
TEST(MoveItem, OnlyFoldersLinksAndFilesWithOneNameMove) {
  TempDir dir;
  TempDir outside;
  WriteFile(outside.path() / "shared", "outside");
  fs::create_hard_link(outside.path() / "shared", dir.path() / "Shared.lnk");
  std::vector<std::pair<std::string, DWORD>> refused = {{"Shared.lnk", kErrorOtherNames}};
#ifndef _WIN32
  ASSERT_EQ(mkfifo((dir.path() / "Pipe.lnk").c_str(), 0644), 0);
  refused.emplace_back("Pipe.lnk", kErrorFifo);
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir.path() / "Socket.lnk").c_str());
  ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  refused.emplace_back("Socket.lnk", kErrorSocket);
#endif
  fs::create_directory(dir.path() / "shared");
  for (const auto& [name, error] : refused) {
    for (const DWORD flags : {DWORD{0}, DWORD{MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED}}) {
      SCOPED_TRACE(name + (flags != 0 ? ", replacing" : ""));
      const fs::path target = dir.path() / "shared" / name;
      EXPECT_NE(Move((dir.path() / name).string(), target.string(), flags), 0);
      EXPECT_EQ(ErrorText(Last.error), ErrorText(error));
      EXPECT_TRUE(fs::exists(fs::symlink_status(dir.path() / name)));
      EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    }
  }
  EXPECT_EQ(ReadFile(outside.path() / "shared"), "outside");
#ifndef _WIN32
  close(listening);
  EXPECT_EQ(fs::hard_link_count(outside.path() / "shared"), 2u);
#endif
}

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(::getpid());
#endif
}

// True when a move from other to dir must copy: a file does not cross
// without MOVEFILE_COPY_ALLOWED. False when there is no other.
bool OnAnotherDevice(const ShmDir& other, const TempDir& dir) {
  if (other.str().empty()) return false;
  WriteFile(other.path() / "probe", "");
  const bool renamed = Move((other.path() / "probe").string(), (dir.path() / "probe").string(), 0) == 0;
  std::error_code error;
  fs::remove(other.path() / "probe", error);
  fs::remove(dir.path() / "probe", error);
  return !renamed;
}

std::string OwnName(const fs::path& path, const char* what) {
  return path.string() + ".dravonel-" + what + "-" + std::to_string(ProcessId());
}

TEST(MoveItem, AcrossVolumesACopyTakesTheNameWholeAndAFailedOneKeepsTheNamesake) {
  TempDir dir;
  const ShmDir shm;
  if (!OnAnotherDevice(shm, dir)) GTEST_SKIP() << "no other file system at /dev/shm";
  const fs::path& other = shm.path();
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  const fs::path source = other / "Tool.lnk";
  const fs::path target = dir.path() / "Tool.lnk";
  const std::string from = source.string();
  const std::string to = target.string();

  // New: the bytes and the last-write time; nothing left beside it.
  WriteFile(source, "tool 1");
  SetWriteTime(source, UtcSeconds(2001, 2, 3, 4, 5, 6));
  EXPECT_EQ(Move(from, to, flags), 0);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFile(target), "tool 1");
  TempDir elsewhere;
  WriteFile(elsewhere.path() / "then", "");
  SetWriteTime(elsewhere.path() / "then", UtcSeconds(2001, 2, 3, 4, 5, 6));
  EXPECT_EQ(fs::last_write_time(target), fs::last_write_time(elsewhere.path() / "then"));
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\n");

  // Without MOVEFILE_COPY_ALLOWED nothing crosses; without
  // MOVEFILE_REPLACE_EXISTING a namesake stays.
  WriteFile(source, "tool 2");
  EXPECT_NE(Move(from, to, MOVEFILE_REPLACE_EXISTING), 0);
  EXPECT_NE(Move(from, to, MOVEFILE_COPY_ALLOWED), 0);
  EXPECT_EQ(ReadFile(target), "tool 1");
  EXPECT_EQ(ReadFile(source), "tool 2");

  // A copy that cannot be made (its name is taken by a folder) keeps the
  // namesake and the source.
  fs::create_directory(OwnName(target, "move"));
  EXPECT_NE(Move(from, to, flags), 0);
  EXPECT_EQ(ReadFile(target), "tool 1");
  EXPECT_EQ(ReadFile(source), "tool 2");
  fs::remove(OwnName(target, "move"));

  // The namesake replaced in one step, nothing left beside it.
  EXPECT_EQ(Move(from, to, flags), 0);
  EXPECT_TRUE(NoLeftover());
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFile(target), "tool 2");
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\n");

#ifdef _WIN32
  // A source another program holds open, and may write, stays with the
  // namesake: nothing is copied that could still change.
  WriteFile(source, "tool 3");
  HANDLE held = CreateFileA(from.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_NE(Move(from, to, flags), 0);
  CloseHandle(held);
  EXPECT_EQ(ReadFile(target), "tool 2");
  EXPECT_EQ(ReadFile(source), "tool 3");
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\n");
  fs::remove(source);
#endif

  // A folder does not cross at all.
  WriteFile(other / "Folder" / "inside", "kept");
  EXPECT_NE(Move((other / "Folder").string(), (dir.path() / "Folder").string(), flags), 0);
  EXPECT_EQ(ReadFile(other / "Folder" / "inside"), "kept");
  EXPECT_FALSE(fs::exists(dir.path() / "Folder"));
}

#ifndef _WIN32
TEST(MoveItem, AcrossDevicesASourceThatCannotBeRemovedFailsAndKeepsTheNamesake) {
  TempDir dir;
  const ShmDir shm;
  if (!OnAnotherDevice(shm, dir)) GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  const fs::path& other = shm.path();
  WriteFile(other / "locked" / "Tool.lnk", "new");
  WriteFile(other / "locked" / "Fresh.lnk", "fresh");
  WriteFile(dir.path() / "Tool.lnk", "shared");
  HandOverToNobody(dir.path());
  HandOverToNobody(other);
  SetMode(other / "locked", 0555);  // its files cannot be removed
  const std::string tool = (other / "locked" / "Tool.lnk").string();
  const std::string fresh = (other / "locked" / "Fresh.lnk").string();
  const std::string tool_there = (dir.path() / "Tool.lnk").string();
  const std::string fresh_there = (dir.path() / "Fresh.lnk").string();
  EXPECT_FALSE(TrueForAnUnprivilegedUser([&] {
    return Move(tool, tool_there, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) == 0;
  }));
  EXPECT_FALSE(TrueForAnUnprivilegedUser([&] { return Move(fresh, fresh_there, MOVEFILE_COPY_ALLOWED) == 0; }));
  // Each file in one place only, the namesake as it was, nothing beside it.
  EXPECT_EQ(ReadFile(tool), "new");
  EXPECT_EQ(ReadFile(fresh), "fresh");
  EXPECT_EQ(ReadFile(tool_there), "shared");
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\n");
}

TEST(MoveItem, AcrossDevicesCopiesWholeAndNeverBlocksOnAnEarlierRunsCopy) {
  TempDir dir;
  const ShmDir shm;
  if (!OnAnotherDevice(shm, dir)) GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  const fs::path& other = shm.path();
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  const fs::path source = other / "Tool.lnk";
  WriteFile(source, "tool");
  SetMode(source, 0664);
  SetWriteTime(source, UtcSeconds(2001, 2, 3, 4, 5, 6), 700'000'000);
  const fs::path target = dir.path() / "Tool.lnk";
  // The bits and the time a rename would keep, whatever the umask.
  const mode_t umask_before = umask(022);
  EXPECT_EQ(Move(source.string(), target.string(), flags), 0);
  umask(umask_before);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFile(target), "tool");
  EXPECT_EQ(Mode(target), 0664u);
  struct stat moved;
  ASSERT_EQ(stat(target.c_str(), &moved), 0);
  EXPECT_EQ(moved.st_mtim.tv_sec, UtcSeconds(2001, 2, 3, 4, 5, 6));
  EXPECT_EQ(moved.st_mtim.tv_nsec, 700'000'000);
  // A link keeps its own time too.
  fs::create_symlink("Tool.lnk", other / "Link.lnk");
  SetWriteTime(other / "Link.lnk", UtcSeconds(2002, 3, 4), 0);
  EXPECT_EQ(Move((other / "Link.lnk").string(), (dir.path() / "Link.lnk").string(), MOVEFILE_COPY_ALLOWED), 0);
  ASSERT_EQ(lstat((dir.path() / "Link.lnk").c_str(), &moved), 0);
  EXPECT_TRUE(S_ISLNK(moved.st_mode));
  EXPECT_EQ(moved.st_mtim.tv_sec, UtcSeconds(2002, 3, 4));
  fs::remove(dir.path() / "Link.lnk");

  // A namesake is replaced past a whole copy that a run killed half way
  // through a replacement left beside it.
  WriteFile(source, "tool 2");
  WriteFile(dir.path() / "Tool.lnk.dravonel-move", "tool");
  WriteFile(dir.path() / "Tool.lnk.dravonel-move-1", "tool");
  EXPECT_EQ(Move(source.string(), target.string(), flags), 0);
  EXPECT_EQ(ReadFile(target), "tool 2");
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ListTree(dir.path()), "Tool.lnk\nTool.lnk.dravonel-move\nTool.lnk.dravonel-move-1\n");
}

TEST(MoveItem, AcrossDevicesACopyKeepsItsOwnerOrLosesItsSetIdBits) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to own files as another user";
  TempDir dir;
  const ShmDir shm;
  if (!OnAnotherDevice(shm, dir)) GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  const fs::path& other = shm.path();
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  struct stat moved;

  // Moved by root: the user's file stays the user's, and keeps its bits,
  // as a rename would have it; a link keeps its owner too.
  WriteFile(other / "Tool.lnk", "#!/bin/sh\n");
  ASSERT_EQ(chown((other / "Tool.lnk").c_str(), 65534, 65534), 0);
  SetMode(other / "Tool.lnk", 06755);
  fs::create_symlink("Tool.lnk", other / "Link.lnk");
  ASSERT_EQ(lchown((other / "Link.lnk").c_str(), 65534, 65534), 0);
  EXPECT_EQ(Move((other / "Tool.lnk").string(), (dir.path() / "Tool.lnk").string(), flags), 0);
  EXPECT_EQ(Move((other / "Link.lnk").string(), (dir.path() / "Link.lnk").string(), flags), 0);
  ASSERT_EQ(lstat((dir.path() / "Tool.lnk").c_str(), &moved), 0);
  EXPECT_EQ(moved.st_uid, 65534u);
  EXPECT_EQ(moved.st_gid, 65534u);
  EXPECT_EQ(moved.st_mode & 07777, 06755u);
  ASSERT_EQ(lstat((dir.path() / "Link.lnk").c_str(), &moved), 0);
  EXPECT_EQ(moved.st_uid, 65534u);

  // Moved by a user who may not give a file away: the copy is the mover's,
  // so it must not run as the mover: set-user-ID and set-group-ID go.
  WriteFile(other / "mine" / "Setuid.lnk", "#!/bin/sh\n");
  SetMode(other / "mine" / "Setuid.lnk", 06755);
  ASSERT_EQ(chown((other / "mine").c_str(), 65534, 65534), 0);
  fs::create_directory(dir.path() / "open");
  ASSERT_EQ(chown((dir.path() / "open").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
  const std::string source = (other / "mine" / "Setuid.lnk").string();
  const std::string target = (dir.path() / "open" / "Setuid.lnk").string();
  EXPECT_TRUE(TrueForAnUnprivilegedUser([&] { return Move(source, target, flags) == 0; }));
  ASSERT_EQ(lstat(target.c_str(), &moved), 0);
  EXPECT_EQ(moved.st_uid, 65534u);
  EXPECT_EQ(moved.st_mode & 07777, 0755u);
  EXPECT_FALSE(fs::exists(source));
}

TEST(MoveItem, BelowAStartMenuRootAFolderThatIsALinkNowIsGone) {
  StartMenus menus;
  TempDir outside;
  WriteFile(outside.path() / "Tool.lnk", "secret");
  SetMode(outside.path() / "Tool.lnk", 0600);
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;

  // The user's folder swapped for a link to a folder outside after the
  // scan: what the link leads to is not the item, and stays.
  fs::create_directories(menus.User("Programs"));
  fs::create_directory_symlink(outside.path(), menus.User("Programs/Tool"));
  fs::create_directories(menus.AllUsers("Programs/Tool"));
  EXPECT_NE(MoveBelow(menus, "Programs/Tool/Tool.lnk", flags), 0);
  EXPECT_EQ(Last.result, MoveResult::kSourceGone);
  EXPECT_EQ(ReadFile(outside.path() / "Tool.lnk"), "secret");
  EXPECT_EQ(Mode(outside.path() / "Tool.lnk"), 0600u);
  EXPECT_TRUE(fs::is_empty(menus.AllUsers("Programs/Tool")));

  // A folder under All Users that is a link leads nowhere either, and the
  // move fails on that side: the source is still there.
  WriteFile(menus.User("Programs/Games/Chess.lnk"), "chess");
  fs::create_directory_symlink(outside.path(), menus.AllUsers("Programs/Games"));
  EXPECT_NE(MoveBelow(menus, "Programs/Games/Chess.lnk", flags), 0);
  EXPECT_EQ(Last.result, MoveResult::kFailed);
  EXPECT_EQ(Last.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ListTree(outside.path()), "Tool.lnk\n");
  EXPECT_EQ(ReadFile(menus.User("Programs/Games/Chess.lnk")), "chess");

  // The user's Start Menu itself is reached through a link only when the
  // account running us made it: the administrator's serves, the user's
  // does not.
  const fs::path linked_root = menus.root.path() / "linked menu";
  fs::create_directory_symlink(menus.user, linked_root);
  MenuRoot linked{};
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(linked_root.c_str(), 65534, 65534), 0);
    EXPECT_NE(HoldStartMenu(linked, linked_root.c_str(), MenuOwner::kUser), 0);
    EXPECT_EQ(GetLastError(), kErrorUntrustedLink);
    MoveItem(linked, "Programs/Games/Chess.lnk", menus.all_users_root, "Programs/Chess.lnk", flags, Last);
    EXPECT_EQ(Last.result, MoveResult::kFailed);
    EXPECT_EQ(Last.error, kErrorUntrustedLink);
    EXPECT_EQ(ReadFile(menus.User("Programs/Games/Chess.lnk")), "chess");
    ASSERT_EQ(lchown(linked_root.c_str(), 0, 0), 0);
  }
  EXPECT_EQ(HoldStartMenu(linked, linked_root.c_str(), MenuOwner::kUser), 0);
  MoveItem(linked, "Programs/Games/Chess.lnk", menus.all_users_root, "Programs/Chess.lnk", flags, Last);
  EXPECT_EQ(Last.result, MoveResult::kMoved);
  LetGoOfStartMenu(linked);
  EXPECT_EQ(ReadFile(menus.AllUsers("Programs/Chess.lnk")), "chess");
}

}  // namespace

// A hook between two steps of a move, for this test program only: its own
// unlinkat, fsync, openat and renameat2, which the platform's moves reach
// before the C library's (a program's own definitions come first). Each
// passes its call through to the library's, but the one call a test armed
// first does what the test says, and then fails or runs.
namespace {

struct Hook {
  std::string name;              // for unlinkat and renameat2: the last part of the name the call is for
  std::function<void()> first;   // what happens just before it
  int error = 0;                 // then it fails with this errno; 0: it runs
};
const char* ArmedCall = nullptr;  // constant-initialized: calls come before main
Hook Armed;

// Arms the hook for the first call of call that fits, until the test ends.
struct ArmedForTheTest {
  ArmedForTheTest(const char* call, Hook hook) {
    Armed = std::move(hook);
    ArmedCall = call;
  }
  ~ArmedForTheTest() { ArmedCall = nullptr; }
};

// True when this call is the armed one and is to fail (errno set). The
// hook is disarmed before its first step runs, which may arm it again.
bool Strikes(const char* call, const char* name) {
  if (ArmedCall == nullptr || std::strcmp(ArmedCall, call) != 0) return false;
  const char* slash = name != nullptr ? std::strrchr(name, '/') : nullptr;
  if (name != nullptr && Armed.name != (slash != nullptr ? slash + 1 : name)) return false;
  ArmedCall = nullptr;
  const Hook hook = std::move(Armed);
  if (hook.first) hook.first();
  if (hook.error == 0) return false;
  errno = hook.error;
  return true;
}

template <typename Function>
Function Library(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int unlinkat(int folder, const char* name, int flags) noexcept {
  if (Strikes("unlinkat", name)) return -1;
  static const auto library = Library<int (*)(int, const char*, int)>("unlinkat");
  return library(folder, name, flags);
}

extern "C" int fsync(int file) {
  if (Strikes("fsync", nullptr)) return -1;
  static const auto library = Library<int (*)(int)>("fsync");
  return library(file);
}

extern "C" int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) noexcept {
  if ((flags & RENAME_EXCHANGE) != 0 && Strikes("renameat2", to)) return -1;
  static const auto library = Library<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return library(from_folder, from, to_folder, to, flags);
}

extern "C" int openat(int folder, const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE && Strikes("openat", nullptr)) return -1;
  static const auto library = Library<int (*)(int, const char*, int, ...)>("openat");
  return library(folder, path, flags, mode);
}

namespace {

// One order of events a move across devices can meet, forced by the hook.
struct Step {
  const char* what;
  bool namesake;       // a file at the destination to replace
  const char* call;    // where the hook strikes
  std::string name;    // the name that call is for, or empty
  int error;           // how it fails there, or 0
  bool moved;          // the move's result
  std::string source;  // what is at the source after it, or "" for nothing
  std::string target;  // and at the destination
  bool leftover;       // the namesake reported left under the move's own name
  bool in_place = false;  // the fsync hook rewrites the source in place, its size and time put back
};

TEST(MoveItem, AcrossDevicesEveryOrderOfEventsEndsWithNothingLostOrClobbered) {
  TempDir dir;
  const ShmDir shm;
  if (!OnAnotherDevice(shm, dir)) GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  const fs::path& other = shm.path();
  const fs::path source = other / "Tool.lnk";
  const fs::path target = dir.path() / "Tool.lnk";
  const std::string staged = OwnName(target, "move");
  const std::string staged_name = fs::path(staged).filename().string();
  const std::vector<Step> steps = {
      // Written under no name at all: a kill now leaves nothing.
      {"the copy being written", false, "fsync", "", 0, true, "", "new", false},
      // An installer renames a newer version over the source meanwhile.
      {"the source replaced while it is copied", true, "fsync", "", 0, false, "v3", "shared", false},
      // touch -r after the rewrite: only the status-change time tells.
      {"the source rewritten in place, its time put back", true, "fsync", "", 0, false, "wen", "shared", false, true},
      {"the source cannot be removed", true, "unlinkat", "Tool.lnk", EACCES, false, "new", "shared", false},
      // Another run moved the item meanwhile and put its copy in place:
      // this run's undo leaves that, and keeps the namesake it held.
      {"another run moved the item meanwhile", true, "unlinkat", "Tool.lnk", ENOENT, false, "", "other run's",
       true},
      {"the namesake's own name cannot be removed", true, "unlinkat", staged_name, EACCES, true, "", "new", true},
      {"a file system that cannot exchange two names", true, "renameat2", "Tool.lnk", EINVAL, true, "", "new", false},
      {"a file system without unnamed files", false, "openat", "", EOPNOTSUPP, true, "", "new", false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    fs::remove_all(dir.path());
    fs::create_directories(dir.path());
    WriteFile(source, "new");
    if (step.namesake) WriteFile(target, "shared");
    std::function<void()> first = [] {};
    if (step.in_place) {
      first = [&] {
        struct stat before;
        ASSERT_EQ(stat(source.c_str(), &before), 0);
        const int file = ::open(source.c_str(), O_WRONLY);
        ASSERT_EQ(write(file, "wen", 3), 3);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(futimens(file, times), 0);
        close(file);
      };
    } else if (std::string(step.call) == "fsync" && step.namesake) {
      first = [&] {
        WriteFile(other / "v3", "v3");
        fs::rename(other / "v3", source);
      };
    } else if (std::string(step.call) == "fsync") {
      first = [&] { EXPECT_EQ(ListTree(dir.path()), ""); };
    } else if (step.error == ENOENT) {
      first = [&] {
        WriteFile(dir.path() / "other", "other run's");
        fs::rename(dir.path() / "other", target);
        fs::remove(source);
      };
    } else if (std::string(step.call) == "openat") {
      // The copy then has a name of its own, never the item's, until whole.
      first = [&] {
        Armed = Hook{"", [&] { EXPECT_EQ(ListTree(dir.path()), staged_name + "\n"); }, 0};
        ArmedCall = "fsync";
      };
    }
    const ArmedForTheTest armed(step.call, Hook{step.name, first, step.error});
    EXPECT_EQ(Move(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) == 0,
              step.moved);
    EXPECT_EQ(ArmedCall, nullptr) << "the hook never struck";
    EXPECT_EQ(fs::exists(source) ? ReadFile(source) : "", step.source);
    EXPECT_EQ(ReadFile(target), step.target);
    EXPECT_EQ(std::string(Last.leftover), step.leftover ? staged : "");
    if (step.leftover) {
      EXPECT_EQ(Last.leftover_error, step.error == EACCES ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(ListTree(dir.path()), step.leftover ? "Tool.lnk\n" + staged_name + "\n" : "Tool.lnk\n");
    if (step.leftover) {
      EXPECT_EQ(ReadFile(staged), "shared");
    }
  }
}
#endif

}  // namespace
