// Runs killed at random points, and runs that overlap: whatever instant a
// copy run dies at, every item is in exactly one of the two Start Menus
// with its bytes, and a later copy run finishes the job; overlapping or
// killed snapshot runs never leave half a snapshot that a copy run takes.
//
// POSIX only: the runs are killed with SIGKILL, each in a process group of
// its own so that the Cacls it waits for dies with it. The kill instants
// come from a fixed seed; the run they land in is timed by the system, so
// they are spread over a run's length as measured by an uninterrupted one.

#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/grant_log.h"
#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/snapshot_image.h"
#include "support/temp_tree.h"
#include "support/tree_state.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Microseconds = std::chrono::microseconds;

constexpr int kPrograms = 20;
constexpr int kNewFolders = 30;

// A run of the built program, started and not yet waited for.
struct BackgroundRun {
  pid_t pid = -1;
  OutputFiles output;
};

// Standard output goes to the descriptor output instead, when given.
void Start(BackgroundRun& run, const Sandbox& sandbox, const std::vector<std::string>& arguments, int output = -1) {
  const std::string& out = run.output.out;
  const std::string& err = run.output.err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (output >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);

  const std::vector<std::string> strings = DravonelArguments(arguments);
  const std::vector<std::string> variables = sandbox.Environment();
  std::vector<char*> argv = NullTerminated(strings);
  std::vector<char*> envp = NullTerminated(variables);

  const std::string program = BuiltProgram("dravonel");
  const int started = SpawnProgram(&run.pid, program, &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ASSERT_EQ(started, 0) << program << " did not start: " << std::strerror(started);
}

// Waits for the run to end; its exit status, or 0x80000000 with the signal.
uint32_t Wait(BackgroundRun& run) {
  int status = 0;
  while (waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.pid = -1;
  return WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                           : 0x80000000u | static_cast<uint32_t>(WTERMSIG(status));
}

// Kills the run and its Cacls, if still running. True when the kill
// reached a run that had not ended by itself.
bool Kill(BackgroundRun& run) {
  int status = 0;
  const bool running = waitpid(run.pid, &status, WNOHANG) == 0;
  if (running) {
    kill(-run.pid, SIGKILL);
    while (waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  run.pid = -1;
  return running;
}

std::string Output(const BackgroundRun& run) {
  return ReadFile(run.output.out) + ReadFile(run.output.err);
}

void PutWithMode(const std::string& path, const std::string& content, int64_t seconds, unsigned mode) {
  Put(path, content, seconds);
  SetMode(path, mode);
}

std::string Program(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "Programs/App%02d", number);
  return name;
}

std::string NewFolder(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "Programs/New%02d", number);
  return name;
}

// Before the snapshot: 20 program folders of 3 shortcuts and 10 shortcuts
// in the root. The All Users Start Menu has each folder, and a namesake of
// the first shortcut of every other one.
void InstallBefore(const Sandbox& sandbox) {
  const auto user = [&](const std::string& relative) { return PathBelow(sandbox.user_menu, relative); };
  for (int p = 0; p < kPrograms; ++p) {
    for (int f = 0; f < 3; ++f) {
      const std::string item = Program(p) + "/f" + std::to_string(f) + ".lnk";
      PutWithMode(user(item), "user " + item + " v1", kThen, 0644);
    }
    fs::create_directories(PathBelow(sandbox.all_users_menu, Program(p)));
    if (p % 2 == 0) {
      const std::string item = Program(p) + "/f0.lnk";
      PutWithMode(PathBelow(sandbox.all_users_menu, item), "shared " + item, kThen - 86400, 0644);
    }
  }
  for (int r = 0; r < 10; ++r) {
    const std::string item = "Root" + std::to_string(r) + ".lnk";
    PutWithMode(user(item), "user " + item + " v1", kThen, 0644);
  }
}

// The install: 4 new shortcuts in each program folder and its first one
// rewritten, 5 root shortcuts rewritten and 10 new ones, and 30 new
// folders of 3 shortcuts and a subfolder of 2. 265 items to carry over in
// 145 moves, each made readable only by its owner so that a missing
// grant shows.
void InstallAfter(const Sandbox& sandbox) {
  const auto user = [&](const std::string& relative) { return PathBelow(sandbox.user_menu, relative); };
  for (int p = 0; p < kPrograms; ++p) {
    for (int n = 0; n < 4; ++n) {
      const std::string item = Program(p) + "/new" + std::to_string(n) + ".lnk";
      PutWithMode(user(item), "user " + item, kThen + 60, 0600);
    }
    const std::string item = Program(p) + "/f0.lnk";
    PutWithMode(user(item), "user " + item + " v2", kThen + 3600, 0600);
  }
  for (int r = 0; r < 5; ++r) {
    const std::string item = "Root" + std::to_string(r) + ".lnk";
    PutWithMode(user(item), "user " + item + " v2", kThen + 3600, 0600);
  }
  for (int r = 0; r < 10; ++r) {
    const std::string item = "NewRoot" + std::to_string(r) + ".lnk";
    PutWithMode(user(item), "user " + item, kThen + 60, 0600);
  }
  for (int d = 0; d < kNewFolders; ++d) {
    for (const char* file : {"a.lnk", "b.lnk", "c.lnk", "Sub/d.lnk", "Sub/e.lnk"}) {
      const std::string item = NewFolder(d) + "/" + file;
      PutWithMode(user(item), "user " + item, kThen + 60, 0600);
    }
    ASSERT_EQ(chmod(user(NewFolder(d) + "/Sub").c_str(), 0700), 0);
    ASSERT_EQ(chmod(user(NewFolder(d)).c_str(), 0700), 0);
  }
}

// Both trees as they are now.
struct MenuState {
  TreeContents user;
  TreeContents all_users;
};

MenuState ReadMenus(const Sandbox& sandbox) {
  return MenuState{ReadTreeContents(sandbox.user_menu), ReadTreeContents(sandbox.all_users_menu)};
}

// A sandbox after the snapshot run and the install, before the copy run.
void PrepareRound(const Sandbox& sandbox) {
  InstallBefore(sandbox);
  const RunResult snapshot = sandbox.Run({});
  ASSERT_EQ(snapshot.exit_status, 0u);
  ASSERT_TRUE(fs::exists(sandbox.snapshot));
  InstallAfter(sandbox);
}

// Entries of the All Users tree that came from the user's and lack the
// read access the grant gives everyone; each counted once under the item
// that was moved (a new folder, or a file).
std::set<std::string> UngrantedMoves(const Sandbox& sandbox, const MenuState& before) {
  std::set<std::string> moves;
  for (const auto& [key, bytes] : ReadTreeContents(sandbox.all_users_menu)) {
    const auto from_user = before.user.find(key);
    if (from_user == before.user.end() || from_user->second != bytes) continue;
    if (key.back() == '/' && before.all_users.count(key) != 0) continue;
    struct stat status;
    const std::string path = PathBelow(sandbox.all_users_menu, key.back() == '/' ? key.substr(0, key.size() - 1) : key);
    if (lstat(path.c_str(), &status) == 0 && (status.st_mode & S_IROTH) != 0) continue;
    moves.insert(key.rfind("Programs/New", 0) == 0 ? key.substr(0, NewFolder(0).size()) : key);
  }
  return moves;
}

// Puts the sandbox's profile in place, when that is on another file system
// than its system folder: every move is then a copy and a removal. False
// when there is no such place.
bool MoveProfileToAnotherDevice(Sandbox& sandbox, const ShmDir& place) {
  if (!place.OnAnotherDeviceThan(sandbox.system)) return false;
  sandbox.profile = place.str() + "/profile";
  sandbox.user_menu = sandbox.profile + "/Start Menu";
  sandbox.snapshot = sandbox.profile + "/Dravonel.Dat";
  fs::create_directories(sandbox.profile);
  return true;
}

// Across devices a move is a copy and then a removal. A kill between the
// two leaves the item in both trees, and the next run mends that by moving
// it again. A kill amid replacing a namesake leaves a whole file under a
// name of the run's own: "<name>.dravonel-move-<pid>", the copy or, once
// the two were exchanged, the namesake; or "<name>.dravonel-keep-<pid>",
// the namesake. So does a run that finds another one's copy where its own
// should be, and leaves it. Takes those out of all_users and returns how
// many.
int TakeOutStagedCopies(TreeContents& all_users, const TreeContents& user_before,
                        const TreeContents& all_users_before) {
  int taken = 0;
  for (auto it = all_users.begin(); it != all_users.end();) {
    const std::size_t move = it->first.rfind(".dravonel-move-");
    const std::size_t mark = move != std::string::npos ? move : it->first.rfind(".dravonel-keep-");
    const std::string item = mark == std::string::npos ? "" : it->first.substr(0, mark);
    const auto copied = user_before.find(item);
    const auto kept = all_users_before.find(item);
    const bool known = (move != std::string::npos && copied != user_before.end() && copied->second == it->second) ||
                       (kept != all_users_before.end() && kept->second == it->second);
    if (mark != std::string::npos && known &&
        it->first.find_first_not_of("0123456789", mark + 15) == std::string::npos) {
      it = all_users.erase(it);
      ++taken;
    } else {
      ++it;
    }
  }
  return taken;
}

std::string WithoutItemsInBothTrees(const std::string& problems) {
  std::string kept;
  std::size_t start = 0;
  while (start < problems.size()) {
    const std::size_t end = problems.find('\n', start) + 1;
    const std::string line = problems.substr(start, end - start);
    if (line.rfind("in both trees ", 0) != 0) kept += line;
    start = end;
  }
  return kept;
}

void KillCopyRunsAtRandomPoints(bool across_devices) {
  // An uninterrupted round: the outcome to reach, and how long it takes.
  ShmDir reference_place;
  ShmDir place;
  Sandbox reference;
  Sandbox sandbox;
  if (across_devices && (!MoveProfileToAnotherDevice(reference, reference_place) ||
                         !MoveProfileToAnotherDevice(sandbox, place))) {
    GTEST_SKIP() << "no tmpfs at /dev/shm on another device";
  }
  PrepareRound(reference);
  const Clock::time_point begun = Clock::now();
  const RunResult whole = reference.Run({"/c"});
  const Clock::duration run_length = Clock::now() - begun;
  // Across devices new folders never move: every run names them, ends
  // with -1 and keeps the snapshot.
  const uint32_t finished = across_devices ? kFailureStatus : 0u;
  ASSERT_EQ(whole.exit_status, finished);
  ASSERT_EQ(whole.out.find("Skipping"), std::string::npos);
  const MenuState outcome = ReadMenus(reference);
  ASSERT_EQ(outcome.user.count("Programs/App00/new0.lnk"), 0u);
  ASSERT_EQ(outcome.all_users.at("Programs/App00/f0.lnk"), "user Programs/App00/f0.lnk v2");

  PrepareRound(sandbox);
  const MenuState before = ReadMenus(sandbox);
  const TreeModes outside_before = ReadModes(sandbox.root.path(), sandbox.all_users_menu);

  // Kill instants spread so that 30 of them cover about one whole run.
  constexpr int kKills = 30;
  const auto longest = std::chrono::duration_cast<Microseconds>(run_length) * 2 / kKills;
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int64_t> delay(0, longest.count());
  int kills = 0;
  std::set<std::string> ungranted;
  for (int k = 0; k < kKills && fs::exists(sandbox.snapshot); ++k) {
    BackgroundRun run;
    Start(run, sandbox, {"/c"});
    std::this_thread::sleep_for(Microseconds(delay(random)));
    if (Kill(run)) ++kills;
    MenuState now = ReadMenus(sandbox);
    std::string problems = FindLostOrDuplicated(before.user, before.all_users, now.user, now.all_users);
    if (across_devices) {
      TakeOutStagedCopies(now.all_users, before.user, before.all_users);
      problems = WithoutItemsInBothTrees(FindLostOrDuplicated(before.user, before.all_users, now.user, now.all_users));
    }
    ASSERT_EQ(problems, "") << "after kill " << k;
    ASSERT_EQ(ChangedModes(outside_before, ReadModes(sandbox.root.path(), sandbox.all_users_menu)), "");
    // A kill between a move and the end of its grant leaves that one item
    // without it: it has left the user's tree, so no later run sees it.
    const std::set<std::string> now_ungranted = UngrantedMoves(sandbox, before);
    ASSERT_LE(now_ungranted.size(), ungranted.size() + 1) << "after kill " << k;
    ungranted = now_ungranted;
  }

  // Across devices the last kill may have left an item in both trees,
  // without its grant: the finishing run moves it again and grants it.
  const TreeContents user_left = ReadTreeContents(sandbox.user_menu);
  std::erase_if(ungranted, [&](const std::string& item) { return user_left.count(item) != 0; });

  // The snapshot outlives every killed run; the next run finishes.
  if (fs::exists(sandbox.snapshot)) {
    const RunResult last = sandbox.Run({"/c"});
    EXPECT_EQ(last.exit_status, finished);
    EXPECT_EQ(last.err, "");
  }
  EXPECT_EQ(fs::exists(sandbox.snapshot), across_devices);
  MenuState after = ReadMenus(sandbox);
  const int staged_copies = TakeOutStagedCopies(after.all_users, before.user, before.all_users);
  EXPECT_TRUE(across_devices || staged_copies == 0);
  EXPECT_EQ(after.user, outcome.user);
  EXPECT_EQ(after.all_users, outcome.all_users);
  EXPECT_EQ(ChangedModes(outside_before, ReadModes(sandbox.root.path(), sandbox.all_users_menu)), "");

  // The finishing run grants everything it moves.
  EXPECT_EQ(UngrantedMoves(sandbox, before), ungranted);
  std::printf("[ figures  ] %s%d kills mid-run (of %d), 265 items, %zu moves left without their grant, "
              "%d whole copies left beside a namesake\n",
              across_devices ? "across devices: " : "", kills, kKills, ungranted.size(), staged_copies);
}

TEST(Interruption, CopyRunKilledAtRandomPointsLosesNothingAndTheNextRunFinishes) {
  KillCopyRunsAtRandomPoints(false);
}

TEST(Interruption, CopyRunAcrossDevicesKilledAtRandomPointsLosesNothing) {
  KillCopyRunsAtRandomPoints(true);
}

// "dravonel /c | true": the reader is gone before the first line. A write
// to the closed pipe must stop nothing, least of all between a move and
// its grant: the run carries everything over, grants it, and ends with -1.
TEST(Interruption, ACopyRunWhoseOutputIsClosedCarriesEverythingOverAndEndsWithMinusOne) {
  Sandbox reference;
  PrepareRound(reference);
  ASSERT_EQ(reference.Run({"/c"}).exit_status, 0u);
  const MenuState outcome = ReadMenus(reference);

  Sandbox sandbox;
  PrepareRound(sandbox);
  const MenuState before = ReadMenus(sandbox);
  int pipe_ends[2];
  ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
  close(pipe_ends[0]);
  BackgroundRun run;
  Start(run, sandbox, {"/c"}, pipe_ends[1]);
  close(pipe_ends[1]);
  EXPECT_EQ(Wait(run), kFailureStatus);  // not 0x80000000 | SIGPIPE
  EXPECT_EQ(Output(run), "");
  const MenuState after = ReadMenus(sandbox);
  EXPECT_EQ(after.user, outcome.user);
  EXPECT_EQ(after.all_users, outcome.all_users);
  EXPECT_EQ(UngrantedMoves(sandbox, before), std::set<std::string>{});
}

// Fills the sandbox with a tree big enough that writing its snapshot takes
// a while, 2000 files, and takes a snapshot of it. Returns the snapshot's
// bytes, and in run_length how long the run took.
std::string WholeSnapshotOfManyFiles(const Sandbox& sandbox, Microseconds& run_length) {
  for (int d = 0; d < 40; ++d) {
    for (int f = 0; f < 50; ++f) {
      WriteFile(PathBelow(sandbox.user_menu, "Folder" + std::to_string(d) + "/File" + std::to_string(f) + ".lnk"), "");
    }
  }
  const Clock::time_point begun = Clock::now();
  EXPECT_EQ(sandbox.Run({}).exit_status, 0u);
  run_length = std::chrono::duration_cast<Microseconds>(Clock::now() - begun);
  return ReadFile(sandbox.snapshot);
}

// The snapshot file is absent, or a whole snapshot of the tree, or a copy
// run refuses it without a word and leaves everything as it was. Returns
// which: "none", "whole" or "refused".
std::string ExpectNoHalfSnapshotTaken(const Sandbox& sandbox, const std::string& whole) {
  if (!fs::exists(sandbox.snapshot)) return "none";
  const std::string bytes = ReadFile(sandbox.snapshot);
  if (bytes == whole) return "whole";
  SnapshotImage image;
  EXPECT_NE(DecodeSnapshotImage(bytes, image), "") << "a whole snapshot of another tree";
  const std::string tree = ListTree(sandbox.root.path());
  const RunResult copy = sandbox.Run({"/c"});
  EXPECT_EQ(copy.exit_status, kFailureStatus);
  EXPECT_EQ(copy.out + copy.err, "");
  EXPECT_EQ(ReadFile(sandbox.snapshot), bytes);
  EXPECT_EQ(ListTree(sandbox.root.path()), tree);
  return "refused";
}

TEST(Concurrency, TwoSnapshotRunsStartedTogetherLeaveAWholeSnapshotOrNone) {
  Sandbox sandbox;
  Microseconds run_length;
  const std::string whole = WholeSnapshotOfManyFiles(sandbox, run_length);

  std::mt19937 random(20240602);
  std::uniform_int_distribution<int64_t> offset(0, run_length.count());
  std::map<std::string, int> outcomes;
  for (int round = 0; round < 20; ++round) {
    // Every other round starts from an earlier whole snapshot.
    if (round % 2 == 0) fs::remove(sandbox.snapshot);
    BackgroundRun first;
    BackgroundRun second;
    Start(first, sandbox, {});
    std::this_thread::sleep_for(Microseconds(offset(random) / 4));
    Start(second, sandbox, {});
    // A run that found the snapshot held by the other cannot save it.
    for (BackgroundRun* run : {&first, &second}) {
      const uint32_t status = Wait(*run);
      const std::string output = Output(*run);
      if (status == 0u) {
        EXPECT_EQ(output, "");
      } else {
        EXPECT_EQ(status, kFailureStatus);
        EXPECT_EQ(output.rfind("Cannot save ", 0), 0u) << output;
      }
    }
    ++outcomes[ExpectNoHalfSnapshotTaken(sandbox, whole)];
    if (!fs::exists(sandbox.snapshot)) WriteFile(sandbox.snapshot, whole);
  }
  std::printf("[ figures  ] 20 pairs of snapshot runs: %d whole, %d none, %d refused\n", outcomes["whole"],
              outcomes["none"], outcomes["refused"]);
}

TEST(Concurrency, KilledSnapshotRunsNeverLeaveASnapshotACopyRunTakes) {
  Sandbox sandbox;
  Microseconds run_length;
  const std::string whole = WholeSnapshotOfManyFiles(sandbox, run_length);

  std::mt19937 random(20240603);
  std::uniform_int_distribution<int64_t> delay(0, run_length.count() * 5 / 4);
  std::map<std::string, int> outcomes;
  for (int round = 0; round < 30; ++round) {
    if (round % 2 == 0) fs::remove(sandbox.snapshot);
    BackgroundRun run;
    Start(run, sandbox, {});
    std::this_thread::sleep_for(Microseconds(delay(random)));
    Kill(run);
    ++outcomes[ExpectNoHalfSnapshotTaken(sandbox, whole)];
  }
  std::printf("[ figures  ] 30 killed snapshot runs: %d whole, %d none, %d refused\n", outcomes["whole"],
              outcomes["none"], outcomes["refused"]);
}

TEST(Concurrency, ARunRacingACopyRunLosesNothingAndLeavesNoHalfSnapshot) {
  std::mt19937 random(20240604);
  struct Round {
    bool racer_copies;
    bool across_devices;
  };
  for (const Round round : {Round{false, false}, Round{true, false}, Round{false, false}, Round{true, false},
                            Round{true, true}, Round{true, true}}) {
    const bool racer_copies = round.racer_copies;
    ShmDir place;
    Sandbox sandbox;
    if (round.across_devices && !MoveProfileToAnotherDevice(sandbox, place)) continue;
    PrepareRound(sandbox);
    const MenuState before = ReadMenus(sandbox);
    BackgroundRun copy;
    BackgroundRun racer;
    Start(copy, sandbox, {"/c"});
    std::this_thread::sleep_for(Microseconds(std::uniform_int_distribution<int64_t>(0, 20000)(random)));
    Start(racer, sandbox, racer_copies ? std::vector<std::string>{"/c"} : std::vector<std::string>{});
    const uint32_t copy_status = Wait(copy);
    const uint32_t racer_status = Wait(racer);
    // A copy run that found the snapshot held ends with -1 and moves
    // nothing; a snapshot run that found it held cannot save.
    EXPECT_TRUE(copy_status == 0u || copy_status == kFailureStatus) << copy_status;
    EXPECT_TRUE(racer_status == 0u || racer_status == kFailureStatus) << racer_status;
    // Two copy runs across devices may both copy an item: the one that
    // finds the other's copy in place leaves it, and the namesake it held.
    MenuState now = ReadMenus(sandbox);
    TakeOutStagedCopies(now.all_users, before.user, before.all_users);
    EXPECT_EQ(FindLostOrDuplicated(before.user, before.all_users, now.user, now.all_users), "");

    // Whatever snapshot is left is whole, and a copy run after it still
    // loses nothing.
    if (fs::exists(sandbox.snapshot)) {
      SnapshotImage image;
      EXPECT_EQ(DecodeSnapshotImage(ReadFile(sandbox.snapshot), image), "");
      // Folders never move across devices: each stays, with its line.
      const RunResult rerun = sandbox.Run({"/c"});
      EXPECT_EQ(rerun.exit_status, round.across_devices ? kFailureStatus : 0u) << rerun.out;
      now = ReadMenus(sandbox);
      TakeOutStagedCopies(now.all_users, before.user, before.all_users);
      EXPECT_EQ(FindLostOrDuplicated(before.user, before.all_users, now.user, now.all_users), "");
    }
  }
}

// A second copy run started while the first carries over, at each of its
// grants (by the recorder, before it passes the grant on): the first holds
// the snapshot, so the second says so, changes nothing and ends with -1,
// and the first finishes as if alone.
TEST(Concurrency, ACopyRunStartedWhileAnotherCarriesOverSaysSoAndChangesNothing) {
  Sandbox sandbox;
  fs::create_directories(sandbox.all_users_menu);
  TakeSnapshot(sandbox);
  Put(User(sandbox, "A.lnk"), "a", kThen + 60);
  Put(User(sandbox, "Programs/B.lnk"), "b", kThen + 60);

  GrantLog grants;
  std::vector<std::string> environment = grants.Environment(sandbox);
  environment.push_back("DRAVONEL_GRANT_START='" + BuiltProgram("dravonel") + "' /c 2>&1");
  ExpectCopyRun(sandbox, MovedFile(sandbox, "A.lnk") + MovedDir(sandbox, "Programs"), environment);
  GrantRecords seconds;
  for (const char* item : {"A.lnk", "Programs"}) {
    seconds.push_back(GrantLog::GrantOf(sandbox.all_users_menu, item));
    seconds.back().push_back("Cannot read " + sandbox.snapshot +
                             ": The process cannot access the file because it is being used by another process\n");
    seconds.back().push_back("status 255");
  }
  EXPECT_EQ(grants.Records(), seconds);
  EXPECT_EQ(ListTree(sandbox.user_menu), "");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "A.lnk")), "a");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/B.lnk")), "b");
  EXPECT_EQ(Mode(AllUsers(sandbox, "A.lnk")) & 0444u, 0444u);
}

}  // namespace

#endif
