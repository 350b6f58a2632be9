// Trees a user or an installer could make, carried through whole rounds:
// names that a shell or the command interpreter would act on, huge
// folders, names and nesting at and past the path limit, links out of the
// tree, unreadable folders. Each ends with its documented outcome, nothing
// lost, and no permission changed outside the All Users Start Menu.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "support/grant_log.h"
#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/snapshot_image.h"
#include "support/temp_tree.h"
#include "support/tree_state.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

namespace {

// A path fits a 260-byte buffer with its terminator.
constexpr std::size_t kPathLimit = 260;

// Names the interpreter would expand or act on even inside double quotes
// (%NAME%, a variable whose value holds quotes, !NAME!), and that a shell
// would, and one outside ASCII, which must reach Cacls.exe in UTF-8 as a
// localized name of Everyone would; on POSIX also control characters,
// wildcards and bytes that are not UTF-8. Windows allows none of  \ / : * ? " < > |  nor control
// characters in a name.
std::vector<std::string> HostileNames() {
  std::vector<std::string> names = {
      "%SystemRoot%.lnk",
      "x%PATH%y%UserProfile%.lnk",
      "%CMDCMDLINE%&mkdir pwned5&.lnk",
      "!PATH! %% a%b.lnk",
      "-rf ; $HOME `id` $(mkdir pwned6).lnk",
      "Все и всё.lnk",
  };
#ifndef _WIN32
  names.push_back("cr\rtab\tlf\n.lnk");
  names.push_back("title\033]0;pwned\a\033[2K.lnk");
  names.push_back("glob*?[a]\\back.lnk");
  names.push_back("latin1 \xE9\xFF\xFE.lnk");
  names.push_back("'\"'\"\".lnk");
#endif
  return names;
}

TEST(HostileTrees, NamesReachTheGrantByteForByteAndNothingIsInterpreted) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  fs::create_directories(sandbox.all_users_menu);
  GrantLog grants;
  for (const std::string& name : HostileNames()) {
    for (const bool as_folder : {false, true}) {
      SCOPED_TRACE(name + (as_folder ? " as a folder" : " as a file"));
      TakeSnapshot(sandbox);
      const std::string item = as_folder ? name + ".d" : name;
      const std::string file = as_folder ? item + "/inside.lnk" : item;
      Put(User(sandbox, file), "bytes of " + item, kThen + 60);
      const std::size_t earlier = grants.Records().size();
      ExpectCopyRun(sandbox, as_folder ? MovedDir(sandbox, item) : MovedFile(sandbox, item),
                    grants.Environment(sandbox));
      EXPECT_EQ(ReadFile(Utf8Path(AllUsers(sandbox, file))), "bytes of " + item);
      const GrantRecords records = grants.Records();
      ASSERT_EQ(records.size(), earlier + 1);
      EXPECT_EQ(records.back(), GrantLog::GrantOf(sandbox.all_users_menu, item));
    }
  }
  EXPECT_EQ(ListTree(sandbox.user_menu), "Help.lnk\n");
  for (const fs::path& place : {sandbox.root.path(), fs::current_path(), fs::path(BuiltProgramFolder())}) {
    for (const char* pwned : {"pwned5", "pwned6"}) EXPECT_FALSE(fs::exists(place / pwned)) << (place / pwned);
  }
}

#ifdef _WIN32
// While Cacls.exe runs, no folder on the way below the All Users Start
// Menu can be renamed, so none can be swapped for a junction to another
// place; a grant started for an item under a folder that is gone is not
// started at all.
TEST(HostileTrees, NoFolderOnTheWayToAGrantCanBeSwappedWhileItRuns) {
  Sandbox sandbox;
  fs::create_directories(AllUsers(sandbox, "Programs/Tool"));
  Put(User(sandbox, "Programs/Tool/Old.lnk"), "old", kThen);
  TakeSnapshot(sandbox);
  Put(User(sandbox, "Programs/Tool/New.lnk"), "new", kThen + 60);
  GrantLog grants;
  std::vector<std::string> environment = grants.Environment(sandbox);
  environment.push_back("DRAVONEL_GRANT_RENAME=" + AllUsers(sandbox, "Programs/Tool"));
  ExpectCopyRun(sandbox, MovedFile(sandbox, "Programs/Tool/New.lnk"), environment);
  std::vector<std::string> held = GrantLog::GrantOf(sandbox.all_users_menu, "Programs/Tool/New.lnk");
  held.push_back("held");
  EXPECT_EQ(grants.Records(), GrantRecords{held});
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Tool/New.lnk")), "new");
}
#endif

TEST(HostileTrees, ACaclsPlantedInTheCurrentFolderOrARelativePathEntryNeverRuns) {
  Sandbox sandbox;
  fs::create_directories(sandbox.all_users_menu);
  TakeSnapshot(sandbox);
  Put(User(sandbox, "New.lnk"), "new", kThen + 60);

  // The recorder as Cacls where an installer could put it: in the folder
  // the run starts in, and in a folder a relative PATH entry names.
  const fs::path start = sandbox.root.path() / "start";
#ifdef _WIN32
  const std::string relative_entries = ".;rel;";
#else
  const std::string relative_entries = ".:rel:";
#endif
  fs::create_directories(start / "rel");
  GrantLog::Install(start.string());
  GrantLog::Install((start / "rel").string());
  std::vector<std::string> environment = sandbox.Environment();
  for (std::string& variable : environment) {
    if (variable.rfind("PATH=", 0) == 0) variable = "PATH=" + relative_entries + variable.substr(5);
  }

  const RunResult run = RunProgram(BuiltProgram("dravonel"), {"dravonel", "/c"}, environment, start.string());
  EXPECT_EQ(run.exit_status, 0u);
  EXPECT_EQ(run.out, Text(MovedFile(sandbox, "New.lnk")));
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "New.lnk")), "new");
  EXPECT_EQ(GrantLog::RecordsIn(start.string()), GrantRecords{}) << "a planted Cacls ran";
  EXPECT_EQ(GrantLog::RecordsIn((start / "rel").string()), GrantRecords{}) << "a planted Cacls ran";
}

std::string Numbered(const std::string& stem, int number) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%05d.lnk", stem.c_str(), number);
  return name;
}

TEST(HostileTrees, TenThousandEntriesInOneFolderAreRecordedAndOnlyTheChangedMove) {
  Sandbox sandbox;
#ifdef _WIN32
  // Wine looks through the whole folder for a case variant of every name
  // it creates: 10,000 files would take a quarter of a minute to make.
  constexpr int kEntries = 2000;
#else
  constexpr int kEntries = 10000;
#endif
  // Written now, and the changed ones dated an hour ahead: setting 10,000
  // times one by one is slow under Wine.
  fs::create_directories(User(sandbox, "Programs/Big"));
  for (int i = 0; i < kEntries; ++i) std::ofstream(User(sandbox, "Programs/Big/" + Numbered("Item", i)));
  const int64_t later = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count() + 3600;
  fs::create_directories(AllUsers(sandbox, "Programs/Big"));
  TakeSnapshot(sandbox);
  SnapshotImage image;
  ASSERT_EQ(DecodeSnapshotImage(ReadFile(sandbox.snapshot), image), "");
  ASSERT_EQ(image.size(), 2u);  // Programs, and Programs/Big
  EXPECT_EQ(image[1].files.size(), static_cast<std::size_t>(kEntries));

  // Changed and new entries at both ends and in the middle of the folder.
  const std::vector<std::string> moved = {Numbered("Item", 0), Numbered("Item", kEntries / 2),
                                          Numbered("Item", kEntries / 2) + ".new", Numbered("Item", kEntries - 1),
                                          Numbered("Item", kEntries)};
  for (const std::string& name : moved) Put(User(sandbox, "Programs/Big/" + name), "v2 " + name, later);
  std::vector<std::string> blocks;
  for (const std::string& name : moved) blocks.push_back(Text(MovedFile(sandbox, "Programs/Big/" + name)));
  const RunResult run = sandbox.Run({"/c"});
  EXPECT_EQ(run.exit_status, 0u);
  EXPECT_FALSE(fs::exists(sandbox.snapshot));
#ifdef _WIN32
  // Wine lists a folder in the host's order, not by name: each item's
  // lines together, in any order.
  std::vector<std::string> printed;
  for (std::size_t at = 0; at < run.out.size();) {
    std::size_t end = at;
    for (int line = 0; line < 3 && end != std::string::npos; ++line) end = run.out.find('\n', end) + 1;
    printed.push_back(run.out.substr(at, end - at));
    at = end;
  }
  std::sort(printed.begin(), printed.end());
  std::sort(blocks.begin(), blocks.end());
  EXPECT_EQ(printed, blocks);
#else
  std::string lines;
  for (const std::string& block : blocks) lines += block;
  EXPECT_EQ(run.out, lines);
#endif
  for (const std::string& name : moved) EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Big/" + name)), "v2 " + name);
  std::size_t left = 0;
  for (const auto& entry : fs::directory_iterator(User(sandbox, "Programs/Big"))) {
    if (entry.is_regular_file()) ++left;
  }
  EXPECT_EQ(left, static_cast<std::size_t>(kEntries - 3));
}

#ifndef _WIN32
// Windows cannot make such names and paths through its narrow calls; the
// unit tests cover the same limits there.

std::string SkippedFile(const std::string& path) { return "Skipping File " + path + ": path too long\n"; }
std::string SkippedDir(const std::string& path) { return "Skipping Dir " + path + ": path too long\n"; }

TEST(HostileTrees, NamesOf255BytesAreSkippedWithALineOrGoWithTheirFolder) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  fs::create_directories(sandbox.all_users_menu);
  const std::string long_file = std::string(251, 'n') + ".lnk";
  const std::string long_folder(255, 'f');
  Put(User(sandbox, "Old/" + long_file), "old", kThen);
  fs::create_directories(AllUsers(sandbox, "Old"));
  TakeSnapshot(sandbox);
  // The snapshot holds the name whole.
  SnapshotImage image;
  ASSERT_EQ(DecodeSnapshotImage(ReadFile(sandbox.snapshot), image), "");
  ASSERT_EQ(image.size(), 2u);
  EXPECT_EQ(image[1].files.at(0).name, long_file);

  // A folder whose path cannot fit is left out of the scan with a line.
  // The preview foresees that and succeeds. The copy run has nothing else
  // to do, but cannot tell what the folder holds: it ends with -1 and
  // keeps the snapshot.
  Put(User(sandbox, long_folder + "/x.lnk"), "x", kThen + 60);
  const std::string snapshot = ReadFile(sandbox.snapshot);
  const RunResult preview = sandbox.Run({"/l"});
  EXPECT_EQ(preview.out, SkippedDir(User(sandbox, long_folder)) + kPreviewLine);
  EXPECT_EQ(preview.exit_status, 0u);
  ExpectUnfinishedCopyRun(sandbox, SkippedDir(User(sandbox, long_folder)), true);
  EXPECT_EQ(ReadFile(sandbox.snapshot), snapshot);

  // A file whose path cannot fit is skipped with a line; a new folder
  // holding a long name goes whole, the name with it. The rest waits in
  // the snapshot.
  Put(User(sandbox, long_file), "root", kThen + 60);
  Put(User(sandbox, "New/" + long_file), "new", kThen + 60);
  Put(User(sandbox, "Old/" + long_file), "old 2", kThen + 60);
  const TreeModes outside = ReadModes(sandbox.root.path(), sandbox.all_users_menu);
  ExpectUnfinishedCopyRun(sandbox,
                          SkippedDir(User(sandbox, long_folder)) + SkippedFile(User(sandbox, long_file)) +
                              MovedDir(sandbox, "New") + SkippedFile(User(sandbox, "Old/" + long_file)),
                          true);
  EXPECT_EQ(ReadFile(User(sandbox, long_file)), "root");
  EXPECT_EQ(ReadFile(User(sandbox, long_folder + "/x.lnk")), "x");
  EXPECT_EQ(ReadFile(User(sandbox, "Old/" + long_file)), "old 2");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "New/" + long_file)), "new");
  EXPECT_EQ(ChangedModes(outside, ReadModes(sandbox.root.path(), sandbox.all_users_menu)), "");
}

// A chain of folders, each name 30 bytes, from below the path limit to
// well past it in both Start Menus.
std::vector<std::string> Chain(const std::string& top) {
  std::vector<std::string> levels = {top};
  while (levels.size() < 10) levels.push_back(levels.back() + "/level" + std::to_string(levels.size()) + std::string(23, 'x'));
  return levels;
}

TEST(HostileTrees, NestingPastThePathLimitEndsWithTheDocumentedLinePerItem) {
  Sandbox sandbox;
  const std::vector<std::string> old_chain = Chain("Nest");
  const std::vector<std::string> new_chain = Chain("NewNest");
  ASSERT_GT(User(sandbox, old_chain.back()).size(), 300u);
  for (const std::string& level : old_chain) {
    fs::create_directories(User(sandbox, level));
    fs::create_directories(AllUsers(sandbox, level));
  }
  // The scan names the first folder of each chain past the limit, and
  // goes no deeper.
  const auto first_too_long = [&](const std::vector<std::string>& chain) {
    std::size_t i = 0;
    while (User(sandbox, chain[i]).size() < kPathLimit) ++i;
    return SkippedDir(User(sandbox, chain[i]));
  };
  const RunResult snapshot_run = sandbox.Run({});
  EXPECT_EQ(snapshot_run.out, first_too_long(old_chain));
  EXPECT_EQ(snapshot_run.exit_status, 0u);

  // New files at every level of the old chain, and a new chain with a file
  // at its bottom.
  for (const std::string& level : old_chain) Put(User(sandbox, level + "/n.lnk"), level, kThen + 60);
  Put(User(sandbox, new_chain.back() + "/bottom.lnk"), "bottom", kThen + 60);

  // Each line as the limits decide: a folder past the limit is not in the
  // scan; a file whose source or destination does not fit is skipped; a
  // grant whose command does not fit is skipped after the move.
  std::string lines = first_too_long(old_chain) + first_too_long(new_chain);
  for (const std::string& level : old_chain) {
    if (User(sandbox, level).size() >= kPathLimit) break;
    const std::string source = User(sandbox, level + "/n.lnk");
    const std::string destination = AllUsers(sandbox, level + "/n.lnk");
    if (source.size() >= kPathLimit) {
      lines += SkippedFile(source);
    } else if (destination.size() >= kPathLimit) {
      lines += SkippedFile(source);
    } else if (destination.size() + 28 >= kPathLimit) {
      lines += MovingFileLine(source, destination) + "Skipping Exec for " + destination + ": command too long\n";
    } else {
      lines += MovedFile(sandbox, level + "/n.lnk");
    }
  }
  // The new chain goes whole from its top, its folders past the limit
  // with it; each deeper folder in the scan is then tried and was gone, or
  // is skipped when its destination does not fit.
  lines += MovedDir(sandbox, new_chain[0]);
  for (std::size_t i = 1; i < new_chain.size() && User(sandbox, new_chain[i]).size() < kPathLimit; ++i) {
    const std::string destination = AllUsers(sandbox, new_chain[i]);
    lines += destination.size() < kPathLimit ? MovingDirLine(User(sandbox, new_chain[i]), destination)
                                             : SkippedDir(User(sandbox, new_chain[i]));
  }
  // The chains reach every limit, whatever the sandbox's own path length.
  for (const char* kind : {"Exec '", "Skipping Exec", "Skipping File", "Moving Dir", "Skipping Dir"}) {
    ASSERT_NE(lines.find(kind), std::string::npos) << kind;
  }
  ExpectUnfinishedCopyRun(sandbox, lines, true);

  EXPECT_EQ(ReadFile(AllUsers(sandbox, new_chain.back() + "/bottom.lnk")), "bottom");
  EXPECT_FALSE(fs::exists(User(sandbox, new_chain[0])));
  // Every new file is in exactly one of the two trees.
  for (const std::string& level : old_chain) {
    EXPECT_NE(fs::exists(User(sandbox, level + "/n.lnk")), fs::exists(AllUsers(sandbox, level + "/n.lnk"))) << level;
  }
}

// Outside both Start Menus, what a link may lead to: secret, and folder
// holding inner.lnk, each for its owner alone. Returns their folder.
std::string PutOutside(const Sandbox& sandbox) {
  const std::string outside = sandbox.root.str() + "/outside";
  Put(outside + "/secret", "secret", kThen);
  Put(outside + "/folder/inner.lnk", "inner", kThen);
  SetMode(outside + "/secret", 0600);
  SetMode(outside + "/folder", 0700);
  SetMode(outside + "/folder/inner.lnk", 0600);
  return outside;
}

// A link is carried over as itself, never as what it leads to; one out of
// either tree lends nothing the grant, and one planted under All Users
// lets nothing in.
TEST(HostileTrees, LinksMoveAsThemselvesLetNothingInAndLendNothingTheGrant) {
  Sandbox sandbox;
  const std::string outside = PutOutside(sandbox);
  // In the user's tree: a link to a folder outside, and one back to the
  // Start Menu itself. Under All Users, what someone able to write there
  // could plant: links where new items will go, and a file where a new
  // folder will go.
  fs::create_directories(User(sandbox, "Programs"));
  fs::create_directory_symlink(outside + "/folder", User(sandbox, "Programs/Linked"));
  fs::create_directory_symlink(sandbox.user_menu, User(sandbox, "Programs/Loop"));
  fs::create_directories(AllUsers(sandbox, "Programs"));
  fs::create_symlink(outside + "/secret", AllUsers(sandbox, "Programs/Planted.lnk"));
  fs::create_directory_symlink(outside + "/folder", AllUsers(sandbox, "Programs/Tool"));
  Put(AllUsers(sandbox, "Programs/Games"), "a file", kThen);
  TakeSnapshot(sandbox);

  // New below the linked folder (outside the tree), and new in the tree:
  // links out to a file and to a folder, and a new folder holding one.
  Put(outside + "/folder/new.lnk", "outside", kThen + 60);
  SetMode(outside + "/folder/new.lnk", 0600);
  fs::create_symlink(outside + "/secret", User(sandbox, "Secret.lnk"));
  fs::create_symlink(outside + "/folder", User(sandbox, "SecretFolder.lnk"));
  Put(User(sandbox, "Programs/App/App.lnk"), "app", kThen + 60);
  SetMode(User(sandbox, "Programs/App/App.lnk"), 0600);
  fs::create_symlink(outside + "/secret", User(sandbox, "Programs/App/Link.lnk"));
  Put(User(sandbox, "Programs/Planted.lnk"), "planted", kThen + 60);
  Put(User(sandbox, "Programs/Tool/Tool.lnk"), "tool", kThen + 60);
  Put(User(sandbox, "Programs/Games/Chess.lnk"), "chess", kThen + 60);
  const TreeModes outside_modes = ReadModes(sandbox.root.path(), sandbox.all_users_menu);
  const TreeContents outside_before = ReadTreeContents(outside);

  // The planted link is replaced, never written through; the link and the
  // file where folders would go refuse them; nothing comes from outside.
  ExpectUnfinishedCopyRun(sandbox,
                          MovedFile(sandbox, "Secret.lnk") + MovedFile(sandbox, "SecretFolder.lnk") +
                              MovedFile(sandbox, "Programs/Planted.lnk") + MovedDir(sandbox, "Programs/App") +
                              UnmovedDir(sandbox, "Programs/Games") + "Cannot move " +
                              User(sandbox, "Programs/Games") + ": File exists\n" +
                              UnmovedDir(sandbox, "Programs/Tool") + "Cannot move " +
                              User(sandbox, "Programs/Tool") + ": File exists\n",
                          true);
  for (const char* link : {"Secret.lnk", "SecretFolder.lnk", "Programs/App/Link.lnk"}) {
    EXPECT_TRUE(fs::is_symlink(AllUsers(sandbox, link))) << link;
    EXPECT_FALSE(fs::exists(fs::symlink_status(User(sandbox, link)))) << link;
  }
  EXPECT_EQ(fs::read_symlink(AllUsers(sandbox, "Secret.lnk")), fs::path(outside + "/secret"));
  EXPECT_EQ(fs::read_symlink(AllUsers(sandbox, "SecretFolder.lnk")), fs::path(outside + "/folder"));
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/App/App.lnk")), 0644u);
  EXPECT_FALSE(fs::is_symlink(AllUsers(sandbox, "Programs/Planted.lnk")));
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Planted.lnk")), "planted");
  EXPECT_EQ(ReadFile(User(sandbox, "Programs/Tool/Tool.lnk")), "tool");
  EXPECT_EQ(ReadFile(User(sandbox, "Programs/Games/Chess.lnk")), "chess");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Games")), "a file");
  EXPECT_TRUE(fs::is_symlink(User(sandbox, "Programs/Linked")));
  EXPECT_TRUE(fs::is_symlink(User(sandbox, "Programs/Loop")));
  EXPECT_EQ(ReadTreeContents(outside), outside_before);
  EXPECT_EQ(ChangedModes(outside_modes, ReadModes(sandbox.root.path(), sandbox.all_users_menu)), "");
}

// The user's Start Menu itself is a name in the user's own profile, which
// the user may swap for a link: one another account made is not followed
// (as root, the link is handed to nobody), and one that leads to the All
// Users Start Menu is refused. Either run says so and ends with -1; the
// snapshot run leaves no snapshot, the copy run keeps it and moves
// nothing.
TEST(HostileTrees, AUsersStartMenuThatIsALinkIsNeverFollowed) {
  Sandbox sandbox;
  const std::string outside = PutOutside(sandbox);
  Put(AllUsers(sandbox, "Top.lnk"), "top", kThen);
  Put(AllUsers(sandbox, "Programs/Calc.lnk"), "calc", kThen);
  Put(User(sandbox, "Programs/Tool.lnk"), "tool", kThen);
  TakeSnapshot(sandbox);
  const std::string snapshot = ReadFile(sandbox.snapshot);
  fs::rename(sandbox.user_menu, sandbox.profile + "/real");
  const TreeContents trees = ReadTreeContents(sandbox.root.path());
  const TreeModes modes = ReadModes(sandbox.root.path(), "");

  struct Swap {
    std::string target;
    bool users;  // made by the user, not by the account that runs dravonel
    const char* reason;
  };
  std::vector<Swap> swaps = {{sandbox.all_users_menu, false, "It is the All Users Start Menu itself"}};
  if (geteuid() == 0) swaps.push_back({outside, true, "A link or junction another account owns, not followed"});
  for (const Swap& swap : swaps) {
    SCOPED_TRACE(swap.target);
    fs::remove(sandbox.user_menu);
    fs::create_directory_symlink(swap.target, sandbox.user_menu);
    if (swap.users) {
      ASSERT_EQ(lchown(sandbox.user_menu.c_str(), 65534, 65534), 0);
    }
    const std::string line = "Cannot read " + Shown(sandbox.user_menu) + ": " + swap.reason + "\n";
    RunResult run = sandbox.Run({"/c"});
    EXPECT_EQ(run.out, line);
    EXPECT_EQ(run.exit_status, kFailureStatus);
    EXPECT_EQ(ReadFile(sandbox.snapshot), snapshot);
    run = sandbox.Run({});
    EXPECT_EQ(run.out, line);
    EXPECT_EQ(run.exit_status, kFailureStatus);
    EXPECT_FALSE(fs::exists(sandbox.snapshot));
    WriteFile(sandbox.snapshot, snapshot);
    fs::remove(sandbox.user_menu);
    EXPECT_EQ(ReadTreeContents(sandbox.root.path()), trees);
    EXPECT_EQ(ChangedModes(modes, ReadModes(sandbox.root.path(), "")), "");
  }

  // One the account that runs dravonel made serves.
  fs::create_directory_symlink(sandbox.profile + "/real", sandbox.user_menu);
  ExpectCopyRun(sandbox, "");
}

// Only folders, links and files with one name are carried over: a second
// name of a file outside both Start Menus, or a FIFO, is refused with its
// reason. Inside a folder that moves whole, the grant passes such entries
// over, each on a line of Cacls's own, and the run says the grant did not
// happen. Nothing outside changes.
TEST(HostileTrees, HardLinksOutAndFifosAreNeitherCarriedOverNorGranted) {
  Sandbox sandbox;
  const std::string outside = sandbox.root.str() + "/outside";
  Put(outside + "/shared", "shared", kThen);
  SetMode(outside + "/shared", 0660);
  fs::create_directories(User(sandbox, "Programs"));
  fs::create_directories(AllUsers(sandbox, "Programs"));
  TakeSnapshot(sandbox);
  Put(User(sandbox, "Programs/New/App.lnk"), "app", kThen + 60);
  for (const std::string folder : {"Programs", "Programs/New"}) {
    fs::create_hard_link(outside + "/shared", User(sandbox, folder + "/shared.lnk"));
    ASSERT_EQ(mkfifo(User(sandbox, folder + "/pipe.lnk").c_str(), 0644), 0);
  }

  const RunResult run = sandbox.Run({"/c"});
  EXPECT_EQ(run.out,
            UnmovedFile(sandbox, "Programs/pipe.lnk") +
                "Cannot move " + User(sandbox, "Programs/pipe.lnk") + ": It is a FIFO\n" +
                UnmovedFile(sandbox, "Programs/shared.lnk") +
                "Cannot move " + User(sandbox, "Programs/shared.lnk") + ": It has other names (hard links)\n" +
                MovedDir(sandbox, "Programs/New") + "Cannot grant " + AllUsers(sandbox, "Programs/New") +
                ": Cacls ended with exit status 2\n");
  EXPECT_EQ(run.exit_status, kFailureStatus);
  EXPECT_TRUE(fs::exists(sandbox.snapshot));
  for (const char* name : {"pipe.lnk", "shared.lnk"}) EXPECT_NE(run.err.find("New/" + std::string(name)), std::string::npos) << run.err;
  EXPECT_EQ(Mode(outside + "/shared"), 0660u);
  EXPECT_EQ(fs::hard_link_count(outside + "/shared"), 3u);
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/New/App.lnk")), 0644u);
  EXPECT_TRUE(fs::is_fifo(User(sandbox, "Programs/pipe.lnk")));
}

// The built dravonel and Cacls copied into a folder of their own that every
// user may enter, for runs as nobody: the build tree may lie in a private
// checkout (a home folder is 0700 on Debian) where nobody cannot reach the
// originals. Returns "" when nobody can run both copies, or why not.
std::string CopyProgramsForNobody(const TempDir& folder) {
  std::error_code error;
  fs::permissions(folder.path(), fs::perms(0755), error);
  for (const char* name : {"dravonel", "Cacls"}) {
    const fs::path copy = folder.path() / name;
    if (!error) fs::copy_file(BuiltProgram(name), copy, error);
    if (!error) fs::permissions(copy, fs::perms(0755), error);
  }
  if (error) return "cannot copy the programs to " + folder.str() + ": " + error.message();
  const bool runnable = TrueForAnUnprivilegedUser([&] {
    return access((folder.path() / "dravonel").c_str(), X_OK) == 0 && access((folder.path() / "Cacls").c_str(), X_OK) == 0;
  });
  return runnable ? "" : "the user nobody cannot run the programs copied to " + folder.str();
}

// Runs dravonel as a user who cannot read what mode bits forbid: ourselves,
// or nobody (uid and gid 65534) when we are root, for whom every folder is
// readable. Nobody runs the copies in programs, from there, with them first
// on PATH. The sandbox then belongs to nobody.
RunResult RunAsUnprivileged(const Sandbox& sandbox, const TempDir& programs,
                            const std::vector<std::string>& arguments) {
  if (geteuid() != 0) return sandbox.Run(arguments);
  const std::vector<std::string> strings = DravonelArguments(arguments);
  std::vector<std::string> variables = sandbox.Environment();
  for (std::string& variable : variables) {
    if (variable.rfind("PATH=", 0) == 0) variable = "PATH=" + programs.str() + ":/usr/local/bin:/usr/bin:/bin";
  }
  std::vector<char*> argv = NullTerminated(strings);
  std::vector<char*> envp = NullTerminated(variables);
  const std::string program = programs.str() + "/dravonel";
  const std::string working_folder = programs.str();
  const OutputFiles capture;
  const std::string& out = capture.out;
  FILE* out_file = std::fopen(out.c_str(), "w");
  if (out_file == nullptr) return RunResult{0xFFFFFFFFu, "", "cannot capture"};

  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(out_file), STDOUT_FILENO);
    // A working folder nobody may enter: the scan gives its start back,
    // and the test's own may be as private as the checkout.
    if (chdir(working_folder.c_str()) != 0) _exit(127);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(127);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  const int fork_error = errno;
  std::fclose(out_file);
  RunResult result{0u, "", ""};
  if (child < 0) {
    result.exit_status.no_status = std::string("did not start: fork: ") + std::strerror(fork_error);
    return result;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      result.exit_status.no_status = std::string("cannot wait: ") + std::strerror(errno);
      return result;
    }
  }
  result.exit_status = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 0x80000000u;
  result.out = ReadFile(out);
  return result;
}

TEST(HostileTrees, UnreadableFoldersAreReportedAndTheSnapshotWaitsForARerun) {
  Sandbox sandbox;
  Put(User(sandbox, "Programs/Locked/a.lnk"), "a", kThen);
  Put(User(sandbox, "Programs/Open/b.lnk"), "b", kThen);
  fs::create_directories(AllUsers(sandbox, "Programs/Open"));
  fs::create_directories(AllUsers(sandbox, "Programs/Locked"));
  TempDir programs;
  if (geteuid() == 0) {
    const std::string unreachable = CopyProgramsForNobody(programs);
    if (!unreachable.empty()) GTEST_SKIP() << unreachable;
  }
  HandOverToNobody(sandbox.root.path());
  ASSERT_EQ(RunAsUnprivileged(sandbox, programs, {}).exit_status, 0u);
  const std::string earlier = ReadFile(sandbox.snapshot);

  // A snapshot missing a folder would make its items look new to a copy
  // run: the run says what it could not read and leaves no snapshot, not
  // even the earlier one.
  SetMode(User(sandbox, "Programs/Locked"), 0);
  const std::string locked = "Cannot read " + User(sandbox, "Programs/Locked") + ": Permission denied\n";
  RunResult run = RunAsUnprivileged(sandbox, programs, {});
  EXPECT_EQ(run.exit_status, kFailureStatus);
  EXPECT_EQ(run.out, locked);
  EXPECT_FALSE(fs::exists(sandbox.snapshot));

  // New in the unreadable folder, new beside it, and a new unreadable
  // folder: what can be read is carried over (a folder moves to another
  // parent only when it may be written), and the snapshot is kept.
  WriteFile(sandbox.snapshot, earlier);
  SetMode(User(sandbox, "Programs/Locked"), 0700);
  Put(User(sandbox, "Programs/Locked/new.lnk"), "new", kThen + 60);
  Put(User(sandbox, "Programs/Open/c.lnk"), "c", kThen + 60);
  Put(User(sandbox, "Programs/Sealed/inside.lnk"), "inside", kThen + 60);
  HandOverToNobody(sandbox.root.path());
  SetMode(User(sandbox, "Programs/Locked"), 0);
  SetMode(User(sandbox, "Programs/Sealed"), 0);
  const TreeModes outside = ReadModes(sandbox.root.path(), sandbox.all_users_menu);
  run = RunAsUnprivileged(sandbox, programs, {"/c"});
  EXPECT_EQ(run.exit_status, kFailureStatus);
  EXPECT_EQ(run.out, locked + "Cannot read " + User(sandbox, "Programs/Sealed") + ": Permission denied\n" +
                         MovedFile(sandbox, "Programs/Open/c.lnk") +
                         UnmovedDir(sandbox, "Programs/Sealed") +
                         "Cannot move " + User(sandbox, "Programs/Sealed") + ": Permission denied\n");
  EXPECT_EQ(ReadFile(sandbox.snapshot), earlier);
  EXPECT_EQ(ChangedModes(outside, ReadModes(sandbox.root.path(), sandbox.all_users_menu)), "");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Open/c.lnk")), "c");

  // Once they can be read, a rerun carries over the rest.
  SetMode(User(sandbox, "Programs/Locked"), 0700);
  SetMode(User(sandbox, "Programs/Sealed"), 0700);
  run = RunAsUnprivileged(sandbox, programs, {"/c"});
  EXPECT_EQ(run.exit_status, 0u);
  EXPECT_EQ(run.out, MovedFile(sandbox, "Programs/Locked/new.lnk") + MovedDir(sandbox, "Programs/Sealed"));
  EXPECT_FALSE(fs::exists(sandbox.snapshot));
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Locked/new.lnk")), "new");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Sealed/inside.lnk")), "inside");
  EXPECT_EQ(ReadFile(User(sandbox, "Programs/Locked/a.lnk")), "a");
}
#endif

}  // namespace
