// The command line and the environment, as a user meets them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/grant_log.h"
#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/temp_tree.h"

namespace {

#ifdef _WIN32
const char* const kUntouched = "profile/\n";
#else
const char* const kUntouched = "profile/\nsystem/\n";
#endif

std::string Usage(const std::string& program_name) {
  return Text("Syntax:\n\t" + program_name +
              " [ /c | /l | /? ]\n\n"
              "\t - Use with out parameter to capture a snapshot of the\n"
              "\t   Current User start menu.\n"
              "\t - Use with /c to copy any changes from the snapshot to the\n"
              "\t   All Users start menu.\n"
              "\t - Use with /l to list what /c would do, without moving,\n"
              "\t   granting or deleting anything.\n"
#ifndef _WIN32
              // Nothing sets the two variables on POSIX.
              "\t - Export UserProfile=$HOME, SystemRoot=<dir with Profiles/All Users/Start Menu>; put Cacls on PATH.\n"
#endif
  );
}

RunResult Dravonel(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  return RunProgram(BuiltProgram("dravonel"), DravonelArguments(arguments), environment);
}

// Help asked for is the usage text and success; anything else that selects
// no run is the usage text and failure.
TEST(CommandLine, HelpAndWrongArgumentsPrintTheUsageText) {
  Sandbox sandbox;
  struct Row {
    std::vector<std::string> arguments;
    uint32_t status;
  };
  const Row rows[] = {{{"a", "b"}, kFailureStatus}, {{"/c", "/c"}, kFailureStatus}, {{"c"}, kFailureStatus},
                      {{"-c"}, kFailureStatus},     {{"/"}, kFailureStatus},        {{""}, kFailureStatus},
                      {{"/x"}, kFailureStatus},     {{"/?"}, 0u},                   {{"/?", "x"}, kFailureStatus},
                      {{"/??"}, kFailureStatus},    {{"-?"}, kFailureStatus},       {{"?"}, kFailureStatus},
                      {{"/l", "/c"}, kFailureStatus}, {{"-l"}, kFailureStatus},   {{"l"}, kFailureStatus}};
  for (const Row& row : rows) {
    const RunResult run = Dravonel(row.arguments, sandbox.Environment());
    EXPECT_EQ(run.out, Usage("dravonel")) << row.arguments[0];
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, row.status) << row.arguments[0];
  }
  // Nothing was written anywhere.
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

TEST(CommandLine, UsageNamesTheProgramAsInvoked) {
  Sandbox sandbox;
  const RunResult run =
      RunProgram(BuiltProgram("dravonel"), {"some name", "x"}, sandbox.Environment());
  EXPECT_EQ(run.out, Usage("some name"));
}

TEST(CommandLine, CopyAndPreviewSwitchesLookAtTwoCharactersOnlyAndWantASnapshot) {
  Sandbox sandbox;
  for (const char* argument : {"/c", "/C", "/cxyz", "/copy", "/l", "/L", "/list"}) {
    // No snapshot file: a copy run, and its preview, print nothing and fail.
    const RunResult run = Dravonel({argument}, sandbox.Environment());
    EXPECT_EQ(run.out, "") << argument;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, kFailureStatus) << argument;
  }
}

// An empty value is no folder: it would put the snapshot at the root.
TEST(Environment, UnsetOrEmptyUserProfileStopsBeforeSystemRootIsConsulted) {
  for (const std::vector<std::string>& variables :
       std::vector<std::vector<std::string>>{{}, {"UserProfile="}, {"UserProfile=", "SystemRoot="}}) {
    std::vector<std::string> environment = BaseEnvironment();
    environment.insert(environment.end(), variables.begin(), variables.end());
    const RunResult run = Dravonel({}, environment);
    EXPECT_EQ(run.out, Text("%UserProfile% isn't set, exiting.\n")) << variables.size();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, kFailureStatus);
  }
}

TEST(Environment, NamesMatchWithoutRegardToCase) {
  Sandbox sandbox;
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("USERPROFILE=" + sandbox.profile);
  environment.push_back("systemroot=" + sandbox.system);
  const RunResult run = Dravonel({"/c"}, environment);
  // Got past both lookups: the copy run fails only for want of a snapshot.
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.exit_status, kFailureStatus);
}

TEST(Environment, OverLongUserProfileIsRefusedAndNothingIsWritten) {
  Sandbox sandbox;
  // "\Start Menu" needs 11 bytes more; 249 + 11 = 260 leaves no room for the
  // terminator.
  std::string long_profile = sandbox.profile + Sep();
  long_profile += std::string(249 - long_profile.size(), 'p');
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + long_profile);
  environment.push_back("SystemRoot=" + sandbox.system);
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{}, {"/c"}}) {
    const RunResult run = Dravonel(arguments, environment);
    EXPECT_EQ(run.out, Text("%UserProfile% is too long, exiting.\n"));
    EXPECT_EQ(run.exit_status, kFailureStatus);
  }
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

#ifndef _WIN32
// Wine puts its own SystemRoot into every child it starts.
TEST(Environment, OverLongSystemRootIsRefused) {
  Sandbox sandbox;
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + sandbox.profile);
  environment.push_back("SystemRoot=" + sandbox.system + std::string(240, 's'));
  const RunResult run = Dravonel({}, environment);
  EXPECT_EQ(run.out, Text("%SystemRoot% is too long, exiting.\n"));
  EXPECT_EQ(run.exit_status, kFailureStatus);
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

TEST(Environment, UnsetOrEmptySystemRootStopsTheRun) {
  Sandbox sandbox;
  for (const std::vector<std::string>& variables :
       std::vector<std::vector<std::string>>{{}, {"SystemRoot="}}) {
    std::vector<std::string> environment = BaseEnvironment();
    environment.push_back("UserProfile=" + sandbox.profile);
    environment.insert(environment.end(), variables.begin(), variables.end());
    const RunResult run = Dravonel({}, environment);
    EXPECT_EQ(run.out, "%SystemRoot% isn't set, exiting.\n") << variables.size();
    EXPECT_EQ(run.exit_status, kFailureStatus);
  }
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

TEST(Environment, ExactNameWinsOverCaseVariants) {
  Sandbox sandbox;
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("USERPROFILE=" + sandbox.root.str() + "/elsewhere" + std::string(300, 'x'));
  environment.push_back("UserProfile=" + sandbox.profile);
  environment.push_back("SystemRoot=" + sandbox.system);
  const RunResult run = Dravonel({"/c"}, environment);
  EXPECT_EQ(run.out, "");  // the over-long variant was never used
}
#endif

#ifdef _WIN32
// The round a deployment tool runs, "dravonel-round.cmd <installer>
// [arguments...]", started as a tool starts it: dravonel.exe and the
// script copied as installed into a folder with a space in its name, and
// an installer stand-in in another such folder.
struct RoundFolders {
  RoundFolders() {
    fs::create_directories(program_folder);
    fs::create_directories(installer_folder);
    for (const char* name : {"dravonel.exe", "dravonel-round.cmd"}) {
      fs::copy_file(fs::path(BuiltProgramFolder()) / name, program_folder / name);
    }
  }

  RunResult Round(const Sandbox& sandbox, const std::vector<std::string>& installer_command,
                  const std::vector<std::string>& environment) const {
    const std::string round = (program_folder / "dravonel-round.cmd").string();
    std::vector<std::string> arguments{round};
    arguments.insert(arguments.end(), installer_command.begin(), installer_command.end());
    return RunProgram(round, arguments, environment, sandbox.root.str());
  }

  TempDir tools;
  const fs::path program_folder = tools.path() / "Program Files" / "dravonel";
  const fs::path installer_folder = tools.path() / "installer files";
};

// A script installer that adds a program folder to the user's Start Menu,
// writes down its arguments and ends with the status it is given. The
// tool sees that status when the round succeeds, and -1 when dravonel
// fails, before the install or after it.
TEST(DeploymentRound, PassesAScriptInstallersStatusOnAndCarriesOverOnlyAfterItsSuccess) {
  const RoundFolders folders;
  const fs::path installer = folders.installer_folder / "setup.cmd";
  const fs::path arguments = folders.installer_folder / "arguments.txt";
  WriteFile(installer,
            "@echo off\r\n"
            "mkdir \"%UserProfile%\\Start Menu\\Programs\\Tool\"\r\n"
            "echo tool>\"%UserProfile%\\Start Menu\\Programs\\Tool\\Tool.lnk\"\r\n"
            "echo %*>\"%~dp0arguments.txt\"\r\n"
            "exit /b %1\r\n");

  // What stands in the way: nothing, a folder where the snapshot goes (the
  // snapshot run fails), or the program folder's namesake in the All
  // Users Start Menu (the copy run cannot move it).
  enum Obstacle { kNone, kSnapshotFolder, kTakenDestination };
  struct Row {
    const char* installer_status;
    Obstacle obstacle;
    uint32_t round_status;
    bool installer_ran;
    bool carried_over;
  };
  const Row rows[] = {{"0", kNone, 0u, true, true},
                      {"3010", kNone, 3010u, true, true},
                      {"1603", kNone, 1603u, true, false},
                      {"0", kSnapshotFolder, kFailureStatus, false, false},
                      {"3010", kTakenDestination, kFailureStatus, true, false}};
  const std::string tool = "Programs/Tool";
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("installer status ") + row.installer_status + ", obstacle " +
                 std::to_string(row.obstacle));
    Sandbox sandbox;
    Put(User(sandbox, "Programs/Old.lnk"), "old", kThen);
    fs::create_directories(AllUsers(sandbox, "Programs"));
    if (row.obstacle == kSnapshotFolder) fs::create_directories(sandbox.snapshot);
    if (row.obstacle == kTakenDestination) fs::create_directories(AllUsers(sandbox, tool));
    fs::remove(arguments);

    const RunResult run =
        folders.Round(sandbox, {installer.string(), row.installer_status, "a b"}, sandbox.Environment());
    EXPECT_EQ(run.exit_status, row.round_status);
    EXPECT_EQ(run.err, "");
    if (row.installer_ran) {
      // Its arguments as written, quotes and all.
      EXPECT_EQ(ReadFile(arguments), std::string(row.installer_status) + " \"a b\"\r\n");
    } else {
      EXPECT_FALSE(fs::exists(arguments));
    }
    if (row.carried_over) {
      EXPECT_EQ(run.out, Text(MovedDir(sandbox, tool)));
      EXPECT_EQ(ListTree(sandbox.user_menu), "Programs/\nPrograms/Old.lnk\n");
      EXPECT_EQ(ListTree(sandbox.all_users_menu), "Programs/\nPrograms/Tool/\nPrograms/Tool/Tool.lnk\n");
      EXPECT_FALSE(fs::exists(sandbox.snapshot));
    } else {
      EXPECT_EQ(ListTree(sandbox.user_menu),
                row.installer_ran ? "Programs/\nPrograms/Old.lnk\nPrograms/Tool/\nPrograms/Tool/Tool.lnk\n"
                                  : "Programs/\nPrograms/Old.lnk\n");
      EXPECT_FALSE(fs::exists(AllUsers(sandbox, "Programs/Tool/Tool.lnk")));
    }
    // dravonel's own lines say why a round failed; after a failed install
    // it does not run, and says nothing.
    if (row.obstacle == kSnapshotFolder) {
      EXPECT_EQ(run.out.rfind("Cannot save " + sandbox.snapshot + ": ", 0), 0u) << run.out;
    } else if (row.obstacle == kTakenDestination) {
      EXPECT_NE(run.out.find("Cannot move " + User(sandbox, tool) + ": "), std::string::npos) << run.out;
      // The tool tries again once the namesake is moved aside: the round
      // keeps the snapshot it left, so the install still counts as new
      // and goes over whole.
      fs::remove_all(AllUsers(sandbox, tool));
      const RunResult rerun = folders.Round(sandbox, {installer.string(), "0"}, sandbox.Environment());
      EXPECT_EQ(rerun.exit_status, 0u);
      EXPECT_EQ(ListTree(sandbox.all_users_menu), "Programs/\nPrograms/Tool/\nPrograms/Tool/Tool.lnk\n");
    } else if (!row.carried_over) {
      EXPECT_EQ(run.out, "");
    }
  }
}

// A program installer (setup.exe, msiexec) is started with the command
// line as written, and the round waits for it and passes its output on:
// the grant recorder stands in, writing down its command line and ending
// with 1641.
TEST(DeploymentRound, StartsAProgramInstallerWithItsCommandLineAsWrittenAndPassesItsStatusOn) {
  const RoundFolders folders;
  const std::string setup = (folders.installer_folder / "setup.exe").string();
  fs::copy_file(BuiltProgram("grant_recorder"), setup);
  Sandbox sandbox;
  fs::create_directories(sandbox.user_menu);
  fs::create_directories(sandbox.all_users_menu);
  std::vector<std::string> environment = sandbox.Environment();
  environment.push_back("DRAVONEL_GRANT_STATUS=1641");

  const RunResult run = folders.Round(sandbox, {setup, "/S", "INSTALLDIR=C:\\Program Files\\Tool"}, environment);
  EXPECT_EQ(run.exit_status, 1641u);
  EXPECT_EQ(run.out, Text("grant recorder: recorded\n"));
  EXPECT_EQ(GrantLog::RecordsIn(folders.installer_folder.string()),
            GrantRecords{{"\"" + setup + "\" /S \"INSTALLDIR=C:\\Program Files\\Tool\""}});
  // The copy run came after it, found nothing new and used the snapshot up.
  EXPECT_FALSE(fs::exists(sandbox.snapshot));
}
#endif

}  // namespace
