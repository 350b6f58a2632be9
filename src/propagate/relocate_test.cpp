#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/grant.h"
#include "platform/win32.h"
#include "platform/process_values.h"
#include "inventory/inventory.h"
#include "propagate/propagate.h"
#include "support/grant_log.h"
#include "support/records.h"
#include "support/menu_lines.h"
#include "support/start_menus.h"
#include "support/temp_tree.h"

namespace {

// Records as the scan makes them, kept until the test program ends.
DirRecord Dir(const std::string& path) {
  DirList list{};
  return *FindOrAppendDir(list, path.c_str());
}

FileRecord File(const std::string& name) { return *NewFileRecord(name.c_str()); }

#ifndef _WIN32
// The grant recorder alone on this process's PATH (or path_value instead)
// for the length of a test. The line it writes to its standard output
// must never reach ours.
struct RecordingCacls {
  explicit RecordingCacls(const std::string& path_value = "") {
    const char* old = std::getenv("PATH");
    saved_path = old != nullptr ? old : "";
    setenv("PATH", path_value.empty() ? log.folder.str().c_str() : path_value.c_str(), 1);
  }
  ~RecordingCacls() { setenv("PATH", saved_path.c_str(), 1); }
  RecordingCacls(const RecordingCacls&) = delete;
  RecordingCacls& operator=(const RecordingCacls&) = delete;

  GrantLog log;
  std::string saved_path;
};
#endif

std::string CannotMove(const std::string& source, DWORD error) {
  return "Cannot move " + source + ": " + ErrorText(error) + "\n";
}

// The copy run's lines for decisions, carried out between the two menus.
std::string CarriedOut(const StartMenus& menus, const MoveDecisions& decisions, RelocationTally& tally) {
  StartCapture();
  tally = CarryOutChanges(decisions, menus.user_root, menus.all_users_root);
  return CapturedLines();
}

TEST(MapToAllUsers, ReplacesTheUserStartMenuByLength) {
  StartMenus menus;
  PathBuffer destination;
  ASSERT_EQ(MapToAllUsers(destination, menus.user.c_str()), 0);
  EXPECT_EQ(std::string(destination), menus.all_users);
  ASSERT_EQ(MapToAllUsers(destination, menus.User("Programs/Tool.lnk").c_str()), 0);
  EXPECT_EQ(std::string(destination), menus.AllUsers("Programs/Tool.lnk"));

  // Only the length counts, not the spelling of the cut part.
  std::string other = menus.user;
  other.replace(0, 3, "xyz");
  ASSERT_EQ(MapToAllUsers(destination, (other + Sep() + "a").c_str()), 0);
  EXPECT_EQ(std::string(destination), menus.AllUsers("a"));
}

TEST(MapToAllUsers, RefusesWhatDoesNotFitOrIsShorterThanTheCut) {
  StartMenus menus;
  PathBuffer destination;
  const std::size_t growth = menus.all_users.size() - menus.user.size();
  std::string longest = menus.user + Sep();
  longest += std::string(kMaxPath - 1 - growth - longest.size(), 'a');
  ASSERT_EQ(MapToAllUsers(destination, longest.c_str()), 0);
  EXPECT_EQ(std::strlen(destination), kMaxPath - 1);

  EXPECT_EQ(MapToAllUsers(destination, (longest + "a").c_str()), -1);
  EXPECT_EQ(std::string(destination), "");
  EXPECT_EQ(MapToAllUsers(destination, menus.user.substr(0, 4).c_str()), -1);
  EXPECT_EQ(std::string(destination), "");
}


TEST(CarryOutChanges, AFileOfADirectoryEndingInASeparatorGetsNoSecondOne) {
  StartMenus menus;
  WriteFile(menus.User("Programs/App.lnk"), "app");
  // No destination folder: the move fails, only the printed paths matter.
  const DirRecord dir = Dir(menus.User("Programs") + Sep());
  const FileRecord file = File("App.lnk");
  RelocationTally tally{};
  EXPECT_EQ(CarriedOut(menus, {{&dir, &file}}, tally),
            MovingFileLine(menus.User("Programs/App.lnk"), menus.AllUsers("Programs/App.lnk")) +
                CannotMove(menus.User("Programs/App.lnk"), ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(tally.left_behind, 1u);
}


TEST(CarryOutChanges, ASourceGoneKeepsTheNamesake) {
  StartMenus menus;
  // The source went away after the scan: the move fails, and the namesake
  // must not have been deleted on the way.
  WriteFile(menus.AllUsers("Gone.lnk"), "keep me");
  const DirRecord dir = Dir(menus.user);
  const FileRecord file = File("Gone.lnk");
  RelocationTally tally{};
  // Nothing of it is left behind: no line beyond its Moving line.
  EXPECT_EQ(CarriedOut(menus, {{&dir, &file}}, tally), MovingFileLine(menus.User("Gone.lnk"), menus.AllUsers("Gone.lnk")));
  EXPECT_EQ(ReadFile(menus.AllUsers("Gone.lnk")), "keep me");
  EXPECT_EQ(tally.left_behind, 0u);
}





TEST(CarryOutChanges, ItemsThatDoNotFitAreSkippedWithALine) {
  StartMenus menus;
#ifndef _WIN32
  RecordingCacls cacls;
#endif
  const std::size_t growth = menus.all_users.size() - menus.user.size();
  ASSERT_GT(growth, 0u);
  // Below a folder that moves whole: a directory whose destination would
  // not fit, and a file whose source would not fit (directory, separator
  // and name).
  WriteFile(menus.User("New/n.lnk"), "n");
  const std::string moved = menus.User("New");
  std::string deep = moved + Sep();
  deep += std::string(kMaxPath - 1 - deep.size(), 'd');
  std::string folder = moved + Sep();
  folder += std::string(kMaxPath - 8 - folder.size(), 'f');
  // A file whose source fits but whose destination would not.
  std::string short_enough = menus.user + Sep();
  short_enough += std::string(kMaxPath - 1 - growth - short_enough.size(), 'n');

  const DirRecord deep_dir = Dir(deep), folder_dir = Dir(folder), separated = Dir(folder + Sep()),
                  short_dir = Dir(short_enough), moved_dir = Dir(moved);
  const FileRecord tool = File("Tool.lnk"), a = File("a");
  RelocationTally tally{};
  // Each is still in the user's Start Menu; after the folder above them
  // moved whole, nothing is.
  const std::string skipped = CarriedOut(
      menus, {{&deep_dir, nullptr}, {&folder_dir, &tool}, {&separated, &tool}, {&short_dir, &a}}, tally);
  EXPECT_EQ(tally.left_behind, 4u);
  const std::string after = CarriedOut(menus, {{&moved_dir, nullptr}, {&deep_dir, nullptr}, {&folder_dir, &tool}}, tally);
  EXPECT_EQ(tally.left_behind, 0u);
  EXPECT_EQ(skipped, "Skipping Dir " + deep + ": path too long\n" +
                         "Skipping File " + folder + Sep() + "Tool.lnk: path too long\n" +
                         "Skipping File " + folder + Sep() + "Tool.lnk: path too long\n" +
                         "Skipping File " + short_enough + Sep() + "a: path too long\n");
  EXPECT_EQ(after, MovingDirLine(moved, menus.AllUsers("New")) + ExecLine(menus.AllUsers("New")) +
                       "Skipping Dir " + deep + ": path too long\n" + "Skipping File " + folder + Sep() +
                       "Tool.lnk: path too long\n");
}

TEST(GrantEveryoneRead, CommandThatDoesNotFitIsSkippedWithALine) {
  StartMenus menus;
#ifndef _WIN32
  RecordingCacls cacls;
#endif
  // The command takes 28 characters besides the target: 231 fit, 232 do not.
  std::string fits = menus.AllUsers("");
  fits += Sep() + std::string(231 - fits.size() - 1, 'g');
  const std::string too_long = fits + "g";
  StartCapture();
  const std::size_t below = menus.all_users.size() + 1;
  EXPECT_EQ(GrantEveryoneRead(menus.all_users_root, too_long.c_str() + below, too_long.c_str()), -1);
  GrantEveryoneRead(menus.all_users_root, fits.c_str() + below, fits.c_str());
  const std::string lines = CapturedLines();
  EXPECT_EQ(lines.rfind("Skipping Exec for " + too_long + ": command too long\n" + ExecLine(fits), 0), 0u) << lines;
#ifndef _WIN32
  // Below the All Users Start Menu: from there, by a relative path.
  EXPECT_EQ(cacls.log.Records(), GrantRecords{GrantLog::GrantOf(menus.all_users, fits.substr(below))});
#endif
}

// Everyone by the name the system gives it: bare where no parser would
// take a byte of it for anything else, quoted otherwise, the colon and
// the permission outside; "Everyone" for a lookup that failed or a name
// that cannot be passed safely. One byte more no longer fits.
TEST(GrantCommandLine, NamesEveryoneAsTheSystemDoesQuotedWhereItMustBe) {
  const struct {
    const char* group;
    const char* granted;
  } rows[] = {{"Everyone", "Everyone"},        {"Jeder", "Jeder"},
              {"Tout le monde", "\"Tout le monde\""}, {"Все", "Все"},
              {"Jeder&x", "\"Jeder&x\""},       {nullptr, "Everyone"},
              {"", "Everyone"},                 {"a\"b", "Everyone"},
              {"tab\tname", "Everyone"}};
  char line[kMaxPath];
  for (const auto& row : rows) {
    SCOPED_TRACE(row.group != nullptr ? row.group : "(no name)");
    ASSERT_EQ(GrantCommandLineFor(line, sizeof line, "C:\\x", row.group), 0);
    EXPECT_EQ(std::string(line), std::string("Cacls \"C:\\x\" /T /E /G ") + row.granted + ":R");
  }
  const std::string target(kMaxPath - 1 - std::string("Cacls \"\" /T /E /G \"Tout le monde\":R").size(), 'x');
  EXPECT_EQ(GrantCommandLineFor(line, sizeof line, target.c_str(), "Tout le monde"), 0);
  EXPECT_EQ(GrantCommandLineFor(line, sizeof line, (target + "x").c_str(), "Tout le monde"), -1);
  EXPECT_STREQ(line, "");
  // The name the system's own lookup gives, as the round tests expect it.
  ASSERT_EQ(GrantCommandLine(line, sizeof line, "C:\\x"), 0);
  EXPECT_EQ(std::string(line), GrantCommand("C:\\x"));
}

#ifndef _WIN32
TEST(GrantEveryoneRead, HandsTheTargetOverUninterpreted) {
  StartMenus menus;
  RecordingCacls cacls;
  const InDirectory in(menus.root.path());
  const std::string name = "a\"$(touch pwned1)`touch pwned2`;x\n'y'\\z\r\t\033[2J\x7f.lnk";
  const std::string target = menus.AllUsers(name);
  StartCapture();
  GrantEveryoneRead(menus.all_users_root, name.c_str(), target.c_str());
  const std::string lines = CapturedLines();
  // The line shows control bytes and the backslash escaped, one line
  // whatever the name holds; Cacls gets the name's own bytes.
  EXPECT_EQ(lines, "Exec 'Cacls \"" +
                       menus.AllUsers("a\"$(touch pwned1)`touch pwned2`;x\\n'y'\\\\z\\r\\t\\033[2J\\177.lnk") +
                       "\" /T /E /G Everyone:R'\n");
  EXPECT_EQ(cacls.log.Records(), GrantRecords{GrantLog::GrantOf(menus.all_users, name)});
  EXPECT_FALSE(fs::exists(menus.root.path() / "pwned1"));
  EXPECT_FALSE(fs::exists(menus.root.path() / "pwned2"));
}

// dravonel ignores SIGPIPE, so that a closed output never ends a run;
// Cacls must not inherit that. The recorder adds "SIGPIPE ignored" to the
// record of a grant started so.
TEST(GrantEveryoneRead, StartsCaclsWithSigpipeAtItsDefault) {
  StartMenus menus;
  RecordingCacls cacls;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &saved), 0);
  StartCapture();
  const int granted = GrantEveryoneRead(menus.all_users_root, "target", menus.AllUsers("target").c_str());
  CapturedLines();
  sigaction(SIGPIPE, &saved, nullptr);
  EXPECT_EQ(granted, 0);
  EXPECT_EQ(cacls.log.Records(), GrantRecords{GrantLog::GrantOf(menus.all_users, "target")});
}

TEST(GrantEveryoneRead, SearchesOnlyAbsolutePathEntries) {
  StartMenus menus;
  const std::string relative = menus.root.str() + "/rel";
  fs::create_directories(relative);
  GrantLog::Install(menus.root.str());
  GrantLog::Install(relative);
  {
    // A Cacls in the current directory and one in a relative PATH entry:
    // an empty entry, ".", and "rel" would all reach them.
    RecordingCacls cacls(":.:rel");
    const InDirectory in(menus.root.path());
    StartCapture();
    EXPECT_EQ(GrantEveryoneRead(menus.all_users_root, "target", menus.AllUsers("target").c_str()), -1);
    const std::string lines = CapturedLines();
    EXPECT_EQ(lines, ExecLine(menus.AllUsers("target")) + "Cannot grant " + menus.AllUsers("target") +
                         ": Cacls is not on PATH\n");
    EXPECT_FALSE(GrantCommandFound());
  }
  {
    RecordingCacls cacls;
    setenv("PATH", ("rel:" + cacls.log.folder.str()).c_str(), 1);
    const InDirectory in(menus.root.path());
    StartCapture();
    EXPECT_EQ(GrantEveryoneRead(menus.all_users_root, "target", menus.AllUsers("target").c_str()), 0);
    CapturedLines();
    EXPECT_EQ(cacls.log.Records(), GrantRecords{GrantLog::GrantOf(menus.all_users, "target")});
  }
  EXPECT_EQ(GrantLog::RecordsIn(menus.root.str()), GrantRecords{});
  EXPECT_EQ(GrantLog::RecordsIn(relative), GrantRecords{});
}
#else
// Each folder on the way below the All Users Start Menu, and the target,
// is opened and held until Cacls.exe has ended: a grant goes ahead when
// all are there, is not started when one is gone, and lets go of them.
// (Wine makes no links, so a link on the way cannot be tried here.)
TEST(GrantEveryoneRead, GoesAheadWhenTheWayIsThereAndNotWhenAFolderOnItIsGone) {
  StartMenus menus;
  WriteFile(menus.AllUsers("Programs/Tool/Tool.lnk"), "tool");
  char reason[kErrorTextSize] = "";
  EXPECT_EQ(RunGrantCommand(menus.all_users_root, "Programs\\Tool\\Tool.lnk", menus.AllUsers("Programs/Tool/Tool.lnk").c_str(),
                            reason, sizeof reason), 0) << reason;
  EXPECT_EQ(RunGrantCommand(menus.all_users_root, "Programs\\Gone\\Tool.lnk", menus.AllUsers("Programs/Gone/Tool.lnk").c_str(),
                            reason, sizeof reason), -1);
  EXPECT_EQ(std::string(reason), ErrorText(ERROR_FILE_NOT_FOUND));  // the way's, not Cacls.exe's
  // Let go once it has ended: the folders can be renamed again.
  std::error_code error;
  fs::rename(menus.AllUsers("Programs/Tool"), menus.AllUsers("Programs/Moved"), error);
  EXPECT_FALSE(error) << error.message();
}
#endif

}  // namespace
